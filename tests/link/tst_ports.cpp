// What the port list knows about each port, who holds a port open, and the
// watch that tells when ports come and go.
#include "link/PortHolders.h"
#include "link/PortList.h"
#include "link/PortWatch.h"
#include "support/SimulatedReader.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    // Each entry shows what the system says beside its name; the name is
    // what is stored. A stored device path whose adapter is listed under its
    // stable name is known by that name.
    void entriesSayWhatThePortIs()
    {
        const QString stable = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1B2C-if00-port0";
        const QList<PortEntry> entries
            = portEntries({{"/dev/ttyS0", {}, {}}, {stable, "/dev/ttyUSB0", "FT232R USB UART, FTDI, S/N A10K1B2C"}},
                          {"/tmp/reader", "/dev/ttyS0"});
        QCOMPARE(portNames(entries), (QStringList{"/dev/ttyS0", stable, "/tmp/reader"}));
        QCOMPARE(portLabel(entries[0]), QString("/dev/ttyS0"));
        QCOMPARE(portLabel(entries[1]),
                 stable + QString::fromUtf8(" \u2014 FT232R USB UART, FTDI, S/N A10K1B2C, /dev/ttyUSB0"));
        QCOMPARE(portLabel(entries[2]), QString("/tmp/reader"));

        QCOMPARE(listedNameOf(entries, "/dev/ttyUSB0"), stable);
        QCOMPARE(listedNameOf(entries, stable), stable);
        QCOMPARE(listedNameOf(entries, "/dev/ttyS0"), QString("/dev/ttyS0"));
        QCOMPARE(listedNameOf(entries, "/dev/ttyUSB1"), QString("/dev/ttyUSB1"));  // not listed: kept
    }

    void presentPorts()
    {
        SimulatedReader reader({"--type", "A"});
        QVERIFY(portPresent(reader.path()));
        QVERIFY(!portPresent("/dev/tallyport-no-such-port"));
        QVERIFY(!portPresent(QString()));
    }

    // A program that holds the port is named; the simulated reader, which
    // serves the pseudo-terminal (and holds its other side), is not.
    void holdersAreNamed()
    {
        SimulatedReader reader({"--type", "A"});
        SimulatedReader other({"--type", "A"});
        QCOMPARE(portHolders(reader.path()), QList<PortHolder>());

        QProcess holder;
        holder.setStandardInputFile(reader.path());
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted(5000));
        QList<PortHolder> seen;
        QTRY_VERIFY(!(seen = portHolders(reader.path())).isEmpty());
        QCOMPARE(seen, (QList<PortHolder>{{holder.processId(), "sleep"}}));
        const auto both = portHolders(QStringList{reader.path(), other.path(), "/dev/tallyport-no-such-port"});
        QCOMPARE(both.keys(), QStringList{reader.path()});
        holder.kill();
        holder.waitForFinished(5000);
        QTRY_COMPARE(portHolders(reader.path()), QList<PortHolder>());
    }

    // A node that appears, and a folder of stable names made after the
    // start: each is told once, after the burst.
    void watchTellsWhenPortsComeAndGo()
    {
        QTemporaryDir dev;
        const QString byId = dev.filePath("serial-by-id");
        PortWatch watch(nullptr, {dev.path(), byId});
        QSignalSpy changed(&watch, &PortWatch::changed);

        QFile node(dev.filePath("ttyUSB0"));
        QVERIFY(node.open(QIODevice::WriteOnly));
        node.close();
        QVERIFY(QDir().mkdir(byId));
        QTRY_COMPARE(changed.count(), 1);
        QTest::qWait(PortWatch::kSettleMs + 200);
        QCOMPARE(changed.count(), 1);

        QVERIFY(QFile::link(node.fileName(), byId + "/usb-Maker_Reader_1234-if00-port0"));
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY(QFile::remove(node.fileName()));
        QTRY_COMPARE(changed.count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
