// A reader whose port vanishes is looked for on the other ports: found again
// under another name it is used there, typed from and stored; a reader of
// another identity is not taken, the old port coming back first is used, a
// port another program holds is left alone, and the line for a busy port
// names the program that holds it.
#include "app/MainWindow.h"
#include "reading/ReaderWorker.h"
#include "settings/SettingsStore.h"
#include "support/RecordingKeyboard.h"
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"
#include "support/WindowKit.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A type C reader with ID 07 and serial number `serial`, kept at `link`.
QStringList readerAt(const QString& link, const QString& serial = "0000C007", const QString& id = "07")
{
    return {"--type", "C", "--id", id, "--serial", serial, "--link", link};
}

struct Desk {
    Desk(const QString& settings, const QString& port, const QStringList& ports)
    {
        Settings values = defaultSettings();
        values.CommName = port;
        values.ReaderType = 2;
        values.ReaderID = 7;
        values.SameCardTime = kHeldCardOnce;
        saveSettings(settings, values);
        AppOptions options;
        options.settingsFile = settings;
        options.extraPorts = ports;
        options.systemPorts = false;
        auto keyboard = std::make_unique<RecordingKeyboard>();
        typed = keyboard.get();
        typed->addWindow(42);
        typed->setForegroundWindow(42);
        frm = std::make_unique<TfrmMain>(options, std::move(keyboard));
        frm->show();  // and the start-up connects
    }
    int count(const QString& line) const { return logLines(*frm).count(line); }
    bool logHas(const QString& text) const { return logLines(*frm).join('\n').contains(text); }

    RecordingKeyboard* typed = nullptr;
    std::unique_ptr<TfrmMain> frm;
};

const QString kConnected = "Connect reader ok.  S/N:0000C007";

}  // namespace

class TestFollow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int counter = 0;
    QString fresh(const QString& name) { return dir.filePath(QString("%1-%2").arg(counter++).arg(name)); }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()); }

    void theReaderIsFollowedToItsNewPort()
    {
        const QString a = fresh("a"), b = fresh("b"), settings = fresh("follow.conf");
        auto reader = std::make_unique<SimulatedReader>(readerAt(a));
        SimulatedReader quiet({"--type", "C", "--id", "07"});
        quiet.command("silent on");
        Desk desk(settings, a, {a, b, quiet.path()});
        QTRY_COMPARE_WITH_TIMEOUT(desk.count(kConnected), 1, 10000);

        // Unplugged: the port is gone, and nothing else is there yet but a
        // silent port, which hears the search once, not at every connect.
        QCOMPARE(reader->command("hangup"), QString("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(desk.logHas("Looking for the reader of port " + a + " on the other ports ..."), 5000);
        QTest::qWait(3000);
        QCOMPARE(quiet.command("stats"), QString("requests 2 replies 0 ignored 2"));

        // Plugged in again, under another name.
        reader.reset();
        QElapsedTimer back;
        SimulatedReader again(readerAt(b));
        back.start();
        QTRY_COMPARE_WITH_TIMEOUT(desk.count(kConnected), 2, 10000);
        qInfo("from the reader's reappearance to \"Connect reader ok.\": %lld ms", back.elapsed());
        QVERIFY(desk.logHas("The reader moved from port " + a + " to port " + b + "."));
        QCOMPARE(control<QComboBox>(*desk.frm, "cmbPort")->currentData().toString(), b);

        QCOMPARE(again.command("card 1A2B3C4D"), QString("ok"));
        QTRY_VERIFY(desk.logHas("Card ID : 1A2B3C4D"));
        QTRY_COMPARE(desk.typed->records(), (std::vector<RecordingKeyboard::Record>{{42, "1A2B3C4D", false, true}}));
        control<QPushButton>(*desk.frm, "btnExit")->click();
        QCOMPARE(loadSettings(settings).values.CommName, b);
    }

    void anotherReaderIsNotTakenAndTheOldPortIsUsedWhenItComesBack()
    {
        const QString a = fresh("a"), b = fresh("b"), c = fresh("c"), settings = fresh("other.conf");
        SimulatedReader reader(readerAt(a));
        Desk desk(settings, a, {a, b, c});
        QTRY_COMPARE_WITH_TIMEOUT(desk.count(kConnected), 1, 10000);
        QCOMPARE(reader.command("hangup"), QString("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(desk.logHas("Looking for the reader"), 5000);

        // Same type and ID, another serial number; and another ID.
        SimulatedReader stranger(readerAt(b, "99999999"));
        SimulatedReader otherId(readerAt(c, "0000C007", "08"));
        QTRY_VERIFY_WITH_TIMEOUT(
            desk.logHas("Port " + b + " has another reader (S/N:99999999); it does not replace the reader of port " + a
                        + "."),
            10000);
        QTest::qWait(1500);
        QVERIFY(!desk.logHas("The reader moved"));
        QVERIFY(!desk.logHas(c + " has another reader"));

        reader.command("return");
        QTRY_COMPARE_WITH_TIMEOUT(desk.count(kConnected), 2, 10000);
        QVERIFY(!desk.logHas("The reader moved"));
        control<QPushButton>(*desk.frm, "btnExit")->click();
        QCOMPARE(loadSettings(settings).values.CommName, a);
    }

    void aPortAnotherProgramHoldsIsLeftAlone()
    {
        const QString a = fresh("a"), b = fresh("b"), settings = fresh("held.conf");
        SimulatedReader reader(readerAt(a));
        SimulatedReader held(readerAt(b));
        QProcess holder;
        holder.setStandardInputFile(b);
        holder.start("sleep", {"60"});
        QVERIFY(holder.waitForStarted(5000));
        Desk desk(settings, a, {a, b});
        QTRY_COMPARE_WITH_TIMEOUT(desk.count(kConnected), 1, 10000);
        QCOMPARE(reader.command("hangup"), QString("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(desk.logHas("Port " + a + " does not exist"), 5000);
        QTest::qWait(2000);
        QCOMPARE(held.command("stats"), QString("requests 0 replies 0 ignored 0"));
        QVERIFY(!desk.logHas("The reader moved"));
        holder.kill();
        holder.waitForFinished(5000);
    }

    // Two copies of the real program, each of its own user session: the
    // second one's stored port is the first one's.
    void theBusyLineNamesTheHolder()
    {
        SimulatedReader reader({"--type", "C", "--id", "07"});
        QTemporaryDir first, second;
        const QString one = writeSettingsFile(first.filePath("t.conf"),
                                              {{"CommName", reader.path()}, {"ReaderType", 2}, {"ReaderID", 7}});
        const QString two = writeSettingsFile(second.filePath("t.conf"),
                                              {{"CommName", reader.path()}, {"ReaderType", 2}, {"ReaderID", 7}});
        RunningProgram holding(first, {"--settings", one, "--verbose"});
        QVERIFY2(holding.waitFor("Connect reader ok."), qPrintable(holding.seen));
        RunningProgram blocked(second, {"--settings", two, "--verbose", "--port", reader.path()});
        const QString line = QString("Port %1 is in use by tallyport (process %2): close that program first.")
                                 .arg(reader.path())
                                 .arg(holding.process.processId());
        QVERIFY2(blocked.waitFor(line), qPrintable(blocked.seen));
    }
};

QTEST_MAIN(TestFollow)
#include "tst_follow.moc"
