// The order in which a card is typed, the same on every desktop: nothing at
// all for a dead target, the clipboard before any keys, no keys without the
// focus or where the system would drop them (and when Windows would); and
// the reason when a card is not typed.
#include "output/TypeCard.h"
#include "output/windows/IntegrityLevel.h"
#include "support/RecordingKeyboard.h"

#include <QtTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(TypeResult)
Q_DECLARE_METATYPE(ProcessIntegrity)

class TestTypeCard : public QObject {
    Q_OBJECT

private slots:
    void deadTargetTouchesNothing_data();
    void deadTargetTouchesNothing();
    void clipboardComesBeforeTheKeys();
    void noKeysWithoutFocus();
    void noKeysWhereTheSystemDropsThem();
    void windowsDropsKeysFor_data();
    void windowsDropsKeysFor();
};

void TestTypeCard::deadTargetTouchesNothing_data()
{
    QTest::addColumn<quint64>("target");
    QTest::addColumn<bool>("available");
    QTest::addColumn<TypeResult>("why");
    QTest::newRow("no window") << quint64(0) << true << TypeResult::NoTarget;
    QTest::newRow("unknown window") << quint64(99) << true << TypeResult::TargetGone;
    QTest::newRow("closed window") << quint64(7) << true << TypeResult::TargetGone;
    QTest::newRow("no desktop") << quint64(5) << false << TypeResult::NoDesktop;
}

void TestTypeCard::deadTargetTouchesNothing()
{
    QFETCH(quint64, target);
    QFETCH(bool, available);
    QFETCH(TypeResult, why);
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(7);
    keyboard.closeWindow(7);
    keyboard.setForegroundWindow(5);
    keyboard.setAvailable(available);

    int clipboardCalls = 0;
    QCOMPARE(typeCard(keyboard, target, "1A2B", true, true, [&](const std::string&) { ++clipboardCalls; }), why);
    QCOMPARE(clipboardCalls, 0);
    QVERIFY(keyboard.records().empty());
}

void TestTypeCard::clipboardComesBeforeTheKeys()
{
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(6);
    keyboard.setForegroundWindow(6);

    std::vector<std::string> clipboard;
    std::size_t recordsWhenClipboardSet = 99;
    QCOMPARE(typeCard(keyboard, 5, "0439041101", false, true,
                      [&](const std::string& text) {
                          clipboard.push_back(text);
                          recordsWhenClipboardSet = keyboard.records().size();
                      }),
             TypeResult::Typed);
    QCOMPARE(clipboard, std::vector<std::string>{"0439041101"});
    QCOMPARE(recordsWhenClipboardSet, std::size_t(0));
    const std::vector<RecordingKeyboard::Record> expected{{5, "0439041101", false, true}};
    QVERIFY(keyboard.records() == expected);
    // Typing activated the target.
    QCOMPARE(keyboard.foregroundWindow(), quint64(5));
}

void TestTypeCard::noKeysWithoutFocus()
{
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(6);
    keyboard.setForegroundWindow(6);
    keyboard.setFocusObtainable(false);

    int clipboardCalls = 0;
    QCOMPARE(typeCard(keyboard, 5, "1A2B", true, false, [&](const std::string&) { ++clipboardCalls; }),
             TypeResult::NoFocus);
    QCOMPARE(clipboardCalls, 1);
    QVERIFY(keyboard.records().empty());
    QCOMPARE(keyboard.foregroundWindow(), quint64(6));

    keyboard.setFocusObtainable(true);
    QCOMPARE(typeCard(keyboard, 5, "1A2B", true, false, {}), TypeResult::Typed);
    QCOMPARE(keyboard.records().size(), std::size_t(1));
}

// A window of a program run as administrator: the card stays on the
// clipboard for the user, and neither the target nor the keys are touched.
void TestTypeCard::noKeysWhereTheSystemDropsThem()
{
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(6);
    keyboard.setForegroundWindow(6);
    keyboard.setRefusing(5);

    std::vector<std::string> clipboard;
    QCOMPARE(typeCard(keyboard, 5, "1A2B", true, true, [&](const std::string& text) { clipboard.push_back(text); }),
             TypeResult::TargetElevated);
    QCOMPARE(clipboard, std::vector<std::string>{"1A2B"});
    QVERIFY(keyboard.records().empty());
    QCOMPARE(keyboard.foregroundWindow(), quint64(6));
}

// Windows drops our keys for a program at a higher integrity level only,
// not when we have uiAccess, and a token that cannot be read holds nothing
// back.
void TestTypeCard::windowsDropsKeysFor_data()
{
    const ProcessIntegrity medium{true, 0x2000, false}, high{true, 0x3000, false}, unknown{};
    QTest::addColumn<ProcessIntegrity>("ours");
    QTest::addColumn<ProcessIntegrity>("target");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("same level") << medium << medium << false;
    QTest::newRow("target run as administrator") << medium << high << true;
    QTest::newRow("we run as administrator") << high << medium << false;
    QTest::newRow("uiAccess reaches above") << ProcessIntegrity{true, 0x2000, true} << high << false;
    QTest::newRow("target's token unreadable") << medium << unknown << false;
    QTest::newRow("own token unreadable") << unknown << high << false;
}

void TestTypeCard::windowsDropsKeysFor()
{
    QFETCH(ProcessIntegrity, ours);
    QFETCH(ProcessIntegrity, target);
    QFETCH(bool, dropped);
    QCOMPARE(keysDroppedBetween(ours, target), dropped);
}

QTEST_GUILESS_MAIN(TestTypeCard)
#include "tst_typecard.moc"
