// The serial port, the port list and the three transactions, against the
// simulated reader over a real pseudo-terminal.
#include "link/LineSettings.h"
#include "link/PortList.h"
#include "link/ReaderLink.h"
#include "support/SimulatedReader.h"

#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The baud rate the pseudo-terminal is set to, as any other program sees it.
speed_t portSpeed(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    termios t{};
    tcgetattr(fd, &t);
    ::close(fd);
    return cfgetospeed(&t);
}

}  // namespace

class TestReaderLink : public QObject {
    Q_OBJECT
private slots:
    void lineSettingsParser()
    {
        for (const QString& entry : standardLineSettings())
            QVERIFY2(parseLineSettings(entry).has_value(), qPrintable(entry));
        const auto s = parseLineSettings("115200,n,8,1");
        QCOMPARE(s->baudRate, 115200);
        QCOMPARE(s->parity, QSerialPort::NoParity);
        QCOMPARE(parseLineSettings("9600,E,7,2")->stopBits, QSerialPort::TwoStop);
        QCOMPARE(parseLineSettings("9600,o,8,1.5")->stopBits, QSerialPort::OneAndHalfStop);
        for (const char* bad : {"abc", "", "19200,e,8", "19200,x,8,1", "19200,e,9,1", "-5,e,8,1", "19200,e,8,3",
                                "19200,e,8,1,1", "+19200,e,8,1"})
            QVERIFY2(!parseLineSettings(bad).has_value(), bad);
    }

    void portListOrderAndSelection()
    {
        const QStringList list
            = buildPortList({"/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyusb0"}, {"/tmp/pty", "/dev/ttyS0"});
        QCOMPARE(list, (QStringList{"/dev/ttyS0", "/dev/ttyusb0", "/dev/ttyUSB1", "/tmp/pty"}));
        QCOMPARE(portListSelection(list, "/dev/ttyUSB1"), 2);
        QCOMPARE(portListSelection(list, "/dev/ttyS7"), 3);  // absent: the last entry
        QCOMPARE(portListSelection(list, "/dev/ttys0"), 3);  // names are case-sensitive
        const QStringList fallback = buildPortList(QStringList{}, {});
        QCOMPARE(fallback.size(), 16);
        QCOMPARE(fallback.first(), QString("/dev/ttyS0"));
        QCOMPARE(fallback.last(), QString("/dev/ttyS15"));
    }

    void openCloseAndReopen()
    {
        SimulatedReader first({"--type", "A"});
        SimulatedReader second({"--type", "A"});
        ReaderLink link;
        QVERIFY(link.OpenPort(first.path(), "38400,n,8,1"));
        QCOMPARE(portSpeed(first.path()), speed_t(B38400));
        // Reopening closes the first port: another program may open it now.
        QVERIFY(link.OpenPort(second.path(), "abc"));
        {
            ReaderLink other;
            QVERIFY(other.OpenPort(first.path(), "19200,e,8,1"));
        }
        // Exclusive: a second opener of the port in use is refused.
        ReaderLink intruder;
        QVERIFY(!intruder.OpenPort(second.path(), "19200,e,8,1"));
        QVERIFY(!intruder.isOpen());
        // A failed open leaves no port at all.
        QVERIFY(!link.OpenPort("/nonexistent/port", "19200,e,8,1"));
        QVERIFY(!link.isOpen());
        QVERIFY(!link.OpenPort(QString(), "19200,e,8,1"));
        link.ClosePort();
        QVERIFY(!link.isOpen());
    }

    void invalidLineSettingsKeepThePortsOwn()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "4800,n,8,1"));
        QCOMPARE(portSpeed(sim.path()), speed_t(B4800));
        link.ClosePort();
        // Closing gave the port back its own settings.
        const speed_t own = portSpeed(sim.path());
        QVERIFY(own != B4800);
        QVERIFY(link.OpenPort(sim.path(), "abc"));
        QCOMPARE(portSpeed(sim.path()), own);
    }

    void goodRepliesOfEachFraming()
    {
        SimulatedReader a({"--type", "A", "--id", "07", "--serial", "87654321"});
        ReaderLink link;
        QVERIFY(link.OpenPort(a.path(), "19200,e,8,1"));
        QVERIFY(link.SendTabCommand("A07B"));
        QCOMPARE(link.ReplyLength(), 16);
        QCOMPARE(link.ReplyText().mid(5, 8), QByteArray("87654321"));
        QCOMPARE(link.ReplyText().at(0), '\n');
        QVERIFY(link.ReplyText().endsWith('\r'));

        SimulatedReader b({"--type", "B", "--id", "07"});
        QVERIFY(link.OpenPort(b.path(), "115200,n,8,1"));
        QVERIFY(link.SendSohCommand("07S"));
        QCOMPARE(link.ReplyLength(), 15);

        SimulatedReader f({"--type", "F", "--id", "25"});
        QVERIFY(link.OpenPort(f.path(), "19200,e,8,1"));
        QVERIFY(link.SendBinaryFrame(QByteArray::fromHex("00000000")));
        QCOMPARE(link.ReplyLength(), 10);
        QCOMPARE(link.ReplyText(), QByteArray("25"));
        f.command("status0 on");
        QVERIFY(link.SendBinaryFrame(QByteArray::fromHex("00000000")));
        QCOMPARE(link.ReplyLength(), 0);
        QCOMPARE(link.ReplyText(), QByteArray());
    }

    void faultyRepliesFail()
    {
        SimulatedReader sim({"--type", "C", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "19200,e,8,1"));
        QVERIFY(link.SendTabCommand("H07B"));
        const QByteArray good = link.ReplyText();

        sim.command("badsum on");
        QVERIFY(!link.SendTabCommand("H07B"));
        QCOMPARE(link.ReplyLength(), 16);
        QCOMPARE(link.ReplyText(), good);  // unchanged on failure
        sim.command("badsum off");

        sim.command("lowercase on");
        bool anyFailed = false;
        for (const char* id : {"H07B", "H07F"})
            anyFailed |= !link.SendTabCommand(id);
        QVERIFY(anyFailed);
        sim.command("lowercase off");

        sim.command("noise on");
        QVERIFY(link.SendTabCommand("H07B"));
        QCOMPARE(link.ReplyLength(), 16);
    }

    void silenceEndsAfterTheTimeout()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "19200,e,8,1"));
        sim.command("silent on");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!link.SendTabCommand("A07B"));
        const qint64 waited = clock.elapsed();
        QVERIFY2(waited >= 140 && waited < 1000, qPrintable(QString::number(waited)));
        QCOMPARE(link.ReplyLength(), 0);
        // The wrong baud rate is silence too.
        sim.command("silent off");
        QVERIFY(link.OpenPort(sim.path(), "9600,e,8,1"));
        QVERIFY(!link.SendTabCommand("A07B"));
    }

    void aFloodIsDroppedWhole()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "19200,e,8,1"));
        sim.command("flood 3000");
        QVERIFY(!link.SendTabCommand("A07B"));
        QCOMPARE(link.ReplyLength(), 0);
        // The port was emptied: the next transaction is clean.
        QVERIFY(link.SendTabCommand("A07B"));
        QCOMPARE(link.ReplyLength(), 16);

        // Then no more transactions, as while polling is paused: only the
        // event loop runs while the reader goes on sending a megabyte.
        sim.command("flood 1000000");
        QVERIFY(!link.SendTabCommand("A07B"));
        QTRY_VERIFY_WITH_TIMEOUT(link.heldBytes() >= ReaderLink::kHeldBytesLimit, 20000);
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(100);
            QVERIFY2(link.heldBytes() <= ReaderLink::kHeldBytesLimit, qPrintable(QString::number(link.heldBytes())));
        }
    }

    void noPortMeansFalseAndUntouchedReply()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "19200,e,8,1"));
        QVERIFY(link.SendTabCommand("A07B"));
        const QByteArray text = link.ReplyText();
        link.ClosePort();
        QVERIFY(!link.SendTabCommand("A07B"));
        QVERIFY(!link.SendSohCommand("07S"));
        QCOMPARE(link.ReplyLength(), 16);
        QCOMPARE(link.ReplyText(), text);
        QVERIFY(!link.SendBinaryFrame(QByteArray::fromHex("00000000")));
        QCOMPARE(link.ReplyText(), QByteArray());
    }

    void hangUpEndsTheWaitAtOnce()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        ReaderLink link;
        QVERIFY(link.OpenPort(sim.path(), "19200,e,8,1"));
        link.ReplyTimeout = 3000;
        sim.command("silent on");
        // The reader goes away while the transaction waits for its reply.
        QProcess::startDetached("sh", {"-c", QString("sleep 0.2; kill %1").arg(sim.process().processId())});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!link.SendTabCommand("A07B"));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!link.isOpen());
        QVERIFY(!link.SendTabCommand("A07B"));
    }
};

QTEST_GUILESS_MAIN(TestReaderLink)
#include "tst_reader_link.moc"
