// Finding a reader on one of several pseudo-terminals, one port after
// another and side by side.
#include "link/Detector.h"
#include "link/ReaderLink.h"
#include "reading/PortWalk.h"
#include "support/SimulatedReader.h"

#include <QThread>
#include <QtTest>

namespace {

struct Walk {
    QStringList probed;
    std::optional<DetectedReader> found;
};

Walk walk(ReaderLink& link, const QStringList& ports)
{
    Walk w;
    w.found = detectReader(link, ports, [&w](const QString& port) { w.probed << port; });
    return w;
}

// The requests a simulated reader (started with --log) heard since the last
// call, without their times: "rx <09>A00B<..><0D>  (ignored: ...)".
QStringList requestsHeard(SimulatedReader& reader)
{
    reader.command("stats");  // its answer comes after every request before it was logged
    QStringList heard;
    const QString log = QString::fromUtf8(reader.process().readAllStandardError());
    for (const QString& line : log.split('\n')) {
        const int at = line.indexOf("] rx ");
        if (at >= 0)
            heard << line.mid(at + 2);
    }
    return heard;
}

// The same walk with the ports probed side by side, each by a link of its own.
Walk sideBySide(const QStringList& ports, PortWalk::Probe probe = nullptr, int limitMs = 8000)
{
    if (!probe) {
        probe = [](const QString& port) {
            ReaderLink link;
            return detectOnPort(link, port);
        };
    }
    Walk w;
    bool done = false;
    PortWalk walk(ports, probe, limitMs);
    walk.start([&w](const QString& port) { w.probed << port; },
               [&](const std::optional<DetectedReader>& found) {
                   w.found = found;
                   done = true;
               });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return w;
}

}  // namespace

class TestDetection : public QObject {
    Q_OBJECT
private slots:
    void typeBOnTheSecondPort()
    {
        SimulatedReader silent({"--type", "A", "--id", "01"});
        silent.command("silent on");
        SimulatedReader b({"--type", "B", "--id", "01", "--serial", "B0B0B0B0", "--log"});
        ReaderLink link;
        const Walk w = walk(link, {silent.path(), b.path()});
        QCOMPARE(w.probed, (QStringList{silent.path(), b.path()}));
        QVERIFY(w.found);
        QCOMPARE(w.found->portName, b.path());
        QCOMPARE(w.found->lineSettings, QString("115200,n,8,1"));
        QCOMPARE(w.found->readerType, 1);
        QCOMPARE(w.found->readerId, 1);
        QCOMPARE(w.found->identity, QString("  S/N:B0B0B0B0"));
        // One request reached the reader: 01 30 31 53 35 33 0D.
        QCOMPARE(b.command("stats"), QString("requests 1 replies 1 ignored 0"));
        QByteArray wire;
        QTRY_VERIFY((wire += b.process().readAllStandardError()).contains('\n'));
        QVERIFY2(wire.contains("] rx <01>01S53<0D>\n"), wire.constData());
    }

    void everyOtherType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("readerId");
        QTest::addColumn<QString>("identity");
        QTest::newRow("A") << "A"
                           << "05" << 0 << 5 << "  S/N:12345678";
        QTest::newRow("C") << "C"
                           << "42" << 2 << 42 << "  S/N:12345678";
        QTest::newRow("D") << "D"
                           << "07" << 3 << 7 << "  S/N:12345678";
        QTest::newRow("E") << "E"
                           << "99" << 4 << 99 << "  S/N:12345678";
        QTest::newRow("F") << "F"
                           << "07" << 5 << 7 << "  ID:7";
        QTest::newRow("F with hex digits") << "F"
                                           << "1A" << 5 << 0 << "  ID:0";
        QTest::newRow("ID not digits") << "D"
                                       << "A7" << 3 << 1 << "  S/N:12345678";
    }
    void everyOtherType()
    {
        QFETCH(QString, type);
        QFETCH(QString, id);
        QFETCH(int, index);
        QFETCH(int, readerId);
        QFETCH(QString, identity);
        SimulatedReader sim({"--type", type, "--id", id, "--serial", "12345678"});
        ReaderLink link;
        const Walk w = walk(link, {sim.path()});
        QVERIFY(w.found);
        QCOMPARE(w.found->readerType, index);
        QCOMPARE(w.found->lineSettings, QString("19200,e,8,1"));
        QCOMPARE(w.found->readerId, readerId);
        QCOMPARE(w.found->identity, identity);
        QVERIFY(link.isOpen());
    }

    void noReaderAnywhere()
    {
        SimulatedReader quiet({"--type", "A"});
        quiet.command("silent on");
        ReaderLink link;
        const Walk w = walk(link, {"/nonexistent/a", quiet.path(), "/nonexistent/b"});
        QVERIFY(!w.found);
        QCOMPARE(w.probed.size(), 3);
    }

    // Readers answer on two ports: the one on the later port answers at its
    // first request, long before the earlier port's reader is asked the
    // request it answers. Side by side, the walk still takes the earlier
    // port's reader, with the lines of the walk one port after another.
    void sideBySideTakesTheHitOfTheWalkInOrder()
    {
        SimulatedReader silent({"--type", "A"});
        silent.command("silent on");
        SimulatedReader late({"--type", "E", "--id", "33", "--serial", "EEEE0033", "--log"});
        SimulatedReader early({"--type", "B", "--id", "01", "--serial", "B0B0B0B0"});
        SimulatedReader after({"--type", "A"});
        after.command("silent on");
        const QStringList ports{silent.path(), late.path(), early.path(), after.path()};

        ReaderLink link;
        const Walk inOrder = walk(link, ports);
        QVERIFY(inOrder.found);
        link.ClosePort();
        const QStringList heardInOrder = requestsHeard(late);
        const Walk together = sideBySide(ports);
        QVERIFY(together.found);
        QCOMPARE(together.found->portName, late.path());
        QCOMPARE(together.found->portName, inOrder.found->portName);
        QCOMPARE(together.found->readerType, inOrder.found->readerType);
        QCOMPARE(together.found->readerId, inOrder.found->readerId);
        QCOMPARE(together.found->lineSettings, inOrder.found->lineSettings);
        QCOMPARE(together.found->identity, inOrder.found->identity);
        QCOMPARE(together.probed, inOrder.probed);
        QCOMPARE(together.probed, (QStringList{silent.path(), late.path()}));

        // The reader that answered was asked exactly as one port after another asks it.
        QVERIFY(!heardInOrder.isEmpty());
        QCOMPARE(requestsHeard(late), heardInOrder);
    }

    // A probe that does not end (an open blocked in the driver) holds up the
    // answer only until it is ruled out; the ports after it were probed
    // meanwhile.
    void aProbeThatDoesNotEndIsRuledOut()
    {
        const auto probe = [](const QString& port) -> std::optional<DetectedReader> {
            if (port == "stuck") {
                for (int i = 0; i < 200 && !ReaderLink::stopAsked(); ++i)
                    QThread::msleep(20);
                return DetectedReader{port, "19200,e,8,1", 0, 1, "  S/N:STUCK000"};
            }
            if (port == "reader")
                return DetectedReader{port, "19200,e,8,1", 2, 7, "  S/N:12345678"};
            return std::nullopt;
        };
        QElapsedTimer clock;
        clock.start();
        const Walk w = sideBySide({"silent", "stuck", "reader"}, probe, 600);
        QVERIFY(w.found);
        QCOMPARE(w.found->portName, QString("reader"));
        QCOMPARE(w.probed, (QStringList{"silent", "stuck", "reader"}));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestDetection)
#include "tst_detection.moc"
