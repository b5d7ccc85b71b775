// Finding a reader on one of several pseudo-terminals.
#include "link/Detector.h"
#include "link/ReaderLink.h"
#include "support/SimulatedReader.h"

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
        QTest::newRow("A") << "A" << "05" << 0 << 5 << "  S/N:12345678";
        QTest::newRow("C") << "C" << "42" << 2 << 42 << "  S/N:12345678";
        QTest::newRow("D") << "D" << "07" << 3 << 7 << "  S/N:12345678";
        QTest::newRow("E") << "E" << "99" << 4 << 99 << "  S/N:12345678";
        QTest::newRow("F") << "F" << "07" << 5 << 7 << "  ID:7";
        QTest::newRow("F with hex digits") << "F" << "1A" << 5 << 0 << "  ID:0";
        QTest::newRow("ID not digits") << "D" << "A7" << 3 << 1 << "  S/N:12345678";
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
};

QTEST_GUILESS_MAIN(TestDetection)
#include "test_detection.moc"
