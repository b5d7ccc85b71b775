// The polling cycle against the simulated reader over a real
// pseudo-terminal: connect, poll, filter, output, failures and the tail.
#include "link/ReaderLink.h"
#include "reading/PollingCycle.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"

#include <functional>

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records what the cycle reports; lines and the status as the window shows
// them in English.
class TestHost : public PollingHost {
public:
    QStringList lines;
    QString status;
    QList<QByteArray> typed;
    QList<bool> ticks;  // each tick's end: connected or not
    bool connected = false;
    bool timerEnabled = false;
    int interval = 0;
    int closes = 0;
    int minimizes = 0;

    void AddInfoLine(const InfoLine& line) override
    {
        lines << line.render(0);
        status = lines.last();
    }
    void setStatusText(const InfoLine& text) override { status = text.render(0); }
    void TypeText(const QByteArray& text) override { typed << text; }
    void tickEnded(bool value) override
    {
        ticks << value;
        connected = value;
    }
    void setPollingTimer(bool enabled, int ms) override
    {
        timerEnabled = enabled;
        if (enabled)
            interval = ms;
    }
    void closeAsked() override { ++closes; }
    void minimizeAsked() override { ++minimizes; }
};

struct Rig {
    explicit Rig(const QStringList& simArguments, int type, const QString& line = "19200,e,8,1")
        : sim(simArguments), cycle(link, host)
    {
        config.CommName = sim.path();
        config.CommBaudRate = line;
        config.ReaderType = type;
        config.ReaderID = 7;
        cycle.setConfig(config);
    }
    // Sends the cycle the edited settings, as the window does after a change.
    void edit(const std::function<void(Settings&)>& change)
    {
        change(config);
        cycle.setConfig(config);
    }
    // Runs one tick and returns the lines it logged.
    QStringList tick()
    {
        const qsizetype before = host.lines.size();
        cycle.tmrPollingTimer();
        return host.lines.mid(before);
    }
    SimulatedReader sim;
    ReaderLink link;
    TestHost host;
    PollingCycle cycle;
    Settings config;
};

}  // namespace

class TestPolling : public QObject {
    Q_OBJECT
private slots:
    void everyReaderTypeConnectsAndReadsACard_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("typed");
        QTest::newRow("A") << "A" << 0 << "19200,e,8,1"
                           << "  S/N:12345678"
                           << "1A2B3C4D"
                           << "1A2B3C4D";
        QTest::newRow("B") << "B" << 1 << "115200,n,8,1"
                           << "  S/N:12345678"
                           << "0123456789ABCDEF"
                           << "89ABCDEF";
        QTest::newRow("C") << "C" << 2 << "19200,e,8,1"
                           << "  S/N:12345678"
                           << "1A2B3C4D"
                           << "1A2B3C4D";
        QTest::newRow("D") << "D" << 3 << "19200,e,8,1"
                           << "  S/N:12345678"
                           << "1A2B3C4D"
                           << "1A2B3C4D";
        QTest::newRow("E") << "E" << 4 << "19200,e,8,1"
                           << "  S/N:12345678"
                           << "1A2B3C4D"
                           << "1A2B3C4D";
        QTest::newRow("F") << "F" << 5 << "19200,e,8,1"
                           << "  ID:7"
                           << "A1B2C3D4"
                           << "A1B2C3D4";
    }
    void everyReaderTypeConnectsAndReadsACard()
    {
        QFETCH(QString, type);
        QFETCH(int, index);
        QFETCH(QString, line);
        QFETCH(QString, identity);
        QFETCH(QString, card);
        QFETCH(QString, typed);
        Rig rig({"--type", type, "--id", "07", "--serial", "12345678"}, index, line);

        QCOMPARE(rig.tick(), (QStringList{"Connecting reader ...", "Connect reader ok." + identity, "Read card ..."}));
        QVERIFY(rig.cycle.ReaderConnected);
        QVERIFY(rig.host.connected);
        QCOMPARE(rig.host.minimizes, 1);  // the first tick that connects hides the window
        QCOMPARE(rig.host.interval, 200);

        // No card: nothing logged, the status bar blinks.
        QCOMPARE(rig.tick(), QStringList());
        QCOMPARE(rig.host.status, QString());
        QCOMPARE(rig.tick(), QStringList());
        QCOMPARE(rig.host.status, QString("Polling reader ..."));

        QCOMPARE(rig.sim.command("card " + card), QString("ok"));
        rig.edit([](Settings& c) { c.SameCardTime = 5; });
        QCOMPARE(rig.tick(), QStringList{"Card ID : " + typed});
        QCOMPARE(rig.host.typed, QList<QByteArray>{typed.toLatin1()});
        // Still on the reader: suppressed by the filter.
        const QStringList repeat = rig.tick();
        QCOMPARE(repeat.size(), 1);
        QVERIFY2(repeat.first().startsWith("Same card filter : "), qPrintable(repeat.first()));
        QCOMPARE(rig.host.typed.size(), 1);
        QCOMPARE(rig.host.minimizes, 1);
    }

    void typeBCardLengths()
    {
        Rig rig({"--type", "B", "--id", "07"}, 1, "115200,n,8,1");
        rig.tick();
        QVERIFY(rig.cycle.ReaderConnected);
        // The reader was in mode 1: connect, mode query, set to 0, query again.
        QVERIFY2(rig.sim.command("stats").startsWith("requests 4 "), "mode check");
        Rig ready({"--type", "B", "--id", "07", "--mode", "0"}, 1, "115200,n,8,1");
        ready.tick();
        QVERIFY2(ready.sim.command("stats").startsWith("requests 2 "), "no mode change for a reader in mode 0");
        rig.sim.command("card 1A2B3C4D");  // 17-character reply: 8 card characters
        rig.tick();
        rig.sim.command("card 0011223344556677");  // 25: 16 characters
        rig.tick();
        rig.sim.command("card 1A2B3C4D5");  // 18: no card
        QCOMPARE(rig.tick(), QStringList());
        QCOMPARE(rig.host.typed, (QList<QByteArray>{"1A2B3C4D", "44556677"}));
        QCOMPARE(rig.cycle.PollFailures, 0);
    }

    void typeFFrameLengths()
    {
        Rig rig({"--type", "F", "--id", "1A"}, 5);
        QCOMPARE(rig.tick().value(1), QString("Connect reader ok.  ID:0"));
        rig.sim.command("card A1B2C3");  // 13-byte frame: no card
        QCOMPARE(rig.tick(), QStringList());
        rig.sim.command("card A1B2C3D4");  // 14 bytes
        QCOMPARE(rig.tick(), QStringList{"Card ID : A1B2C3D4"});
        QCOMPARE(rig.link.ReplyTimeout, 450);
    }

    void faultyCardFieldsAreNeverTyped()
    {
        Rig rig({"--type", "A", "--id", "07"}, 0);
        rig.edit([](Settings& c) { c.SameCardTime = 5; });
        rig.tick();
        // Printable text in the card field: refused, and counted by the filter.
        QCOMPARE(rig.sim.command("field rm\\x20-rf\\x20~"), QString("ok"));
        QCOMPARE(rig.tick(), QStringList{"Error ID : 00000000rm -rf ~"});
        QCOMPARE(rig.tick(), QStringList{"Same card filter : 00000000rm -rf ~"});
        // A zero byte in the field, under a good checksum: not a card at all.
        QCOMPARE(rig.sim.command("field 12\\x0034567"), QString("ok"));
        QCOMPARE(rig.tick(), QStringList{"Error ID : 12\\x0034567"});
        QCOMPARE(rig.tick(), QStringList{"Error ID : 12\\x0034567"});
        QVERIFY(rig.cycle.ReaderConnected);
        // Lower-case digits are a card, typed as sent.
        rig.sim.command("card 1a2b3c4d");
        QCOMPARE(rig.tick(), QStringList{"Card ID : 1a2b3c4d"});
        QCOMPARE(rig.host.typed, QList<QByteArray>{"1a2b3c4d"});
    }

    void sixthFailedPollDropsTheConnection()
    {
        Rig rig({"--type", "A", "--id", "07"}, 0);
        rig.tick();
        QVERIFY(rig.cycle.ReaderConnected);
        rig.sim.command("silent on");
        for (int i = 1; i <= 5; ++i) {
            rig.tick();
            QCOMPARE(rig.cycle.PollFailures, i);
            QVERIFY(rig.cycle.ReaderConnected);
        }
        rig.tick();
        QVERIFY(!rig.cycle.ReaderConnected);
        QVERIFY(!rig.host.connected);
        QCOMPARE(rig.host.interval, 500);
        rig.sim.command("silent off");
        QCOMPARE(rig.tick().value(1), QString("Connect reader ok.  S/N:12345678"));
        QCOMPARE(rig.host.minimizes, 1);  // a later connect does not hide the window
    }

    void aTrueReplyOfTheWrongLengthResetsTheCount()
    {
        Rig rig({"--type", "C", "--id", "07"}, 2);
        rig.tick();
        rig.sim.command("silent on");
        rig.tick();
        rig.tick();
        QCOMPARE(rig.cycle.PollFailures, 2);
        rig.sim.command("silent off");  // a reply without a card is 10 bytes, not 18
        rig.tick();
        QCOMPARE(rig.cycle.PollFailures, 0);
    }

    void changedLinkSettingsReconnect()
    {
        Rig rig({"--type", "D", "--id", "07"}, 3);
        rig.tick();
        QVERIFY(rig.cycle.ReaderConnected);
        // Settings that leave the link as it is do not reconnect.
        rig.edit([](Settings& c) {
            c.SendFormat = 1;
            c.SameCardTime = 3;
        });
        QVERIFY(!rig.cycle.LinkSettingsChanged);
        rig.edit([](Settings& c) { c.ReaderID = 8; });  // nobody answers ID 08
        QCOMPARE(rig.tick(), (QStringList{"Connecting reader ...", "Connect reader error!"}));
        rig.edit([](Settings& c) { c.ReaderID = 7; });
        QCOMPARE(rig.tick().value(1), QString("Connect reader ok.  S/N:12345678"));
        rig.edit([](Settings& c) { c.CommName = "/nonexistent/port"; });
        QCOMPARE(rig.tick(),
                 (QStringList{"Connecting reader ...", "Open communication port error!",
                              "Port /nonexistent/port does not exist: is the reader plugged in?"}));
        // Said once for the port, not at every attempt.
        QCOMPARE(rig.tick(), (QStringList{"Connecting reader ...", "Open communication port error!"}));
        // A name's control characters reach the log (and a terminal) escaped.
        rig.edit([](Settings& c) { c.CommName = "/nonexistent/re\x1b[31mder\x07"; });
        QCOMPARE(rig.tick().value(2),
                 QString("Port /nonexistent/re\\x1B[31mder\\x07 does not exist: is the reader plugged in?"));
    }

    void hangUpAndReturnIsReconnected()
    {
        QTemporaryDir dir;
        const QString linkPath = dir.filePath("reader");
        Rig rig({"--type", "E", "--id", "07", "--link", linkPath}, 4);
        rig.edit([&](Settings& c) { c.CommName = linkPath; });
        rig.tick();
        QVERIFY(rig.cycle.ReaderConnected);
        rig.sim.command("hangup");
        // The vanished port ends the connection at the first failed poll
        // (the link saw the hang-up and let the port go), so the next tick
        // connects again.
        rig.tick();
        QVERIFY(!rig.link.isOpen());
        QVERIFY(!rig.cycle.ReaderConnected);
        QCOMPARE(rig.cycle.PollFailures, 1);
        QCOMPARE(rig.tick().value(1), QString("Open communication port error!"));
        const QString back = rig.sim.command("return");
        QVERIFY2(back.startsWith("/dev/"), qPrintable(back));
        QCOMPARE(rig.sim.readLine(), QString("ok"));
        QStringList lines;
        for (int i = 0; i < 3 && !rig.cycle.ReaderConnected; ++i)
            lines = rig.tick();
        QVERIFY(rig.cycle.ReaderConnected);
        QCOMPARE(rig.sim.command("card 1A2B3C4D"), QString("ok"));
        const QStringList afterCard = rig.tick();
        QCOMPARE(afterCard, QStringList{"Card ID : 1A2B3C4D"});
    }

    void pauseStopsTrafficButTheTrayBlinks()
    {
        Rig rig({"--type", "A", "--id", "07"}, 0);
        rig.tick();
        const QString before = rig.sim.command("stats");
        rig.cycle.PollingPaused = true;
        rig.host.ticks.clear();
        rig.tick();
        rig.tick();
        // Each tick still ends connected, so the tray icon goes on blinking.
        QCOMPARE(rig.host.ticks, (QList<bool>{true, true}));
        QCOMPARE(rig.sim.command("stats"), before);
        QVERIFY(rig.host.timerEnabled);
    }

    void exitClosesAtTheTailAndStopsPolling()
    {
        Rig rig({"--type", "A", "--id", "07"}, 0);
        rig.cycle.CloseRequested = true;
        rig.tick();
        QCOMPARE(rig.host.closes, 1);
        QVERIFY(!rig.host.timerEnabled);
        QCOMPARE(rig.host.minimizes, 0);
    }

    void cardOutputAndTheCardLog()
    {
        QTemporaryDir dir;
        Rig rig({"--type", "A", "--id", "07"}, 0);
        rig.edit([&](Settings& c) {
            c.SendFormat = 2;  // 10D
            c.SaveToFile = true;
            c.ExportFile = dir.filePath("cards.txt");
        });
        rig.tick();
        rig.sim.command("card 1A2B3C4D");
        QCOMPARE(rig.tick(), QStringList{"Card ID : 0439041101"});
        rig.sim.command("remove");
        rig.tick();
        rig.sim.command("card FFFFFFFF");
        QCOMPARE(rig.tick(), QStringList{"Card ID : 4294967295"});
        // A log that cannot be written loses its line, and says so (from
        // its own thread, a moment later); typing goes on.
        rig.cycle.cardLog().close();
        rig.edit([&](Settings& c) { c.ExportFile = dir.filePath("no/such/folder/cards.txt"); });
        rig.sim.command("card 00000001");
        QCOMPARE(rig.tick(), QStringList{"Card ID : 0000000001"});
        QTRY_COMPARE(rig.host.lines.last(), "Save to file error! : " + rig.config.ExportFile);
        rig.cycle.cardLog().finish(5000);
        QCOMPARE(fileContents(dir.filePath("cards.txt")), QByteArray("0439041101\n4294967295\n"));
        QCOMPARE(rig.host.typed, (QList<QByteArray>{"0439041101", "4294967295", "0000000001"}));
    }
};

QTEST_GUILESS_MAIN(TestPolling)
#include "tst_polling.moc"
