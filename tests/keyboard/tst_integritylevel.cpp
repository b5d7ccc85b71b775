// When Windows would drop our keys for another program's window: only for a
// program at a higher integrity level, unless we have uiAccess, and never on
// a guess when a token could not be read.
#include "output/windows/IntegrityLevel.h"

#include <QtTest>

namespace {

constexpr unsigned long kMedium = 0x2000;
constexpr unsigned long kMediumPlus = 0x2100;
constexpr unsigned long kHigh = 0x3000;
constexpr unsigned long kSystem = 0x4000;

ProcessIntegrity known(unsigned long level, bool uiAccess = false)
{
    return {true, level, uiAccess};
}

}  // namespace

Q_DECLARE_METATYPE(ProcessIntegrity)

class TestIntegrityLevel : public QObject {
    Q_OBJECT

private slots:
    void keysDropped_data();
    void keysDropped();
};

void TestIntegrityLevel::keysDropped_data()
{
    QTest::addColumn<ProcessIntegrity>("ours");
    QTest::addColumn<ProcessIntegrity>("target");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("same level") << known(kMedium) << known(kMedium) << false;
    QTest::newRow("target run as administrator") << known(kMedium) << known(kHigh) << true;
    QTest::newRow("target a step above") << known(kMedium) << known(kMediumPlus) << true;
    QTest::newRow("target a system program") << known(kHigh) << known(kSystem) << true;
    QTest::newRow("we run as administrator") << known(kHigh) << known(kMedium) << false;
    QTest::newRow("both as administrator") << known(kHigh) << known(kHigh) << false;
    QTest::newRow("uiAccess reaches above") << known(kMedium, true) << known(kHigh) << false;
    QTest::newRow("target's token unreadable") << known(kMedium) << ProcessIntegrity{} << false;
    QTest::newRow("own token unreadable") << ProcessIntegrity{} << known(kHigh) << false;
}

void TestIntegrityLevel::keysDropped()
{
    QFETCH(ProcessIntegrity, ours);
    QFETCH(ProcessIntegrity, target);
    QFETCH(bool, dropped);
    QCOMPARE(keysDroppedBetween(ours, target), dropped);
}

QTEST_GUILESS_MAIN(TestIntegrityLevel)
#include "tst_integritylevel.moc"
