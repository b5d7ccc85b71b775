// The recording keyboard stands in for the real ones in the tests of the
// code that decides what to type, so it must keep their rules: nothing at
// all for a dead target, the clipboard before any keys, no keys without the
// focus.
#include "support/RecordingKeyboard.h"

#include <QtTest>

#include <string>
#include <vector>

class TestRecordingKeyboard : public QObject {
    Q_OBJECT

private slots:
    void deadTargetTouchesNothing_data();
    void deadTargetTouchesNothing();
    void clipboardComesBeforeTheKeys();
    void noKeysWithoutFocus();
};

void TestRecordingKeyboard::deadTargetTouchesNothing_data() {
    QTest::addColumn<quint64>("target");
    QTest::addColumn<bool>("available");
    QTest::newRow("no window") << quint64(0) << true;
    QTest::newRow("unknown window") << quint64(99) << true;
    QTest::newRow("closed window") << quint64(7) << true;
    QTest::newRow("no desktop") << quint64(5) << false;
}

void TestRecordingKeyboard::deadTargetTouchesNothing() {
    QFETCH(quint64, target);
    QFETCH(bool, available);
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(7);
    keyboard.closeWindow(7);
    keyboard.setForegroundWindow(5);
    keyboard.setAvailable(available);

    int clipboardCalls = 0;
    QVERIFY(!keyboard.typeText(target, "1A2B", true, true,
                               [&](const std::string&) { ++clipboardCalls; }));
    QCOMPARE(clipboardCalls, 0);
    QVERIFY(keyboard.records().empty());
}

void TestRecordingKeyboard::clipboardComesBeforeTheKeys() {
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(6);
    keyboard.setForegroundWindow(6);

    std::vector<std::string> clipboard;
    std::size_t recordsWhenClipboardSet = 99;
    QVERIFY(keyboard.typeText(5, "0439041101", false, true, [&](const std::string& text) {
        clipboard.push_back(text);
        recordsWhenClipboardSet = keyboard.records().size();
    }));
    QCOMPARE(clipboard, std::vector<std::string>{"0439041101"});
    QCOMPARE(recordsWhenClipboardSet, std::size_t(0));
    const std::vector<RecordingKeyboard::Record> expected{{5, "0439041101", false, true}};
    QVERIFY(keyboard.records() == expected);
    // Typing activated the target.
    QCOMPARE(keyboard.foregroundWindow(), quint64(5));
}

void TestRecordingKeyboard::noKeysWithoutFocus() {
    RecordingKeyboard keyboard;
    keyboard.addWindow(5);
    keyboard.addWindow(6);
    keyboard.setForegroundWindow(6);
    keyboard.setFocusObtainable(false);

    int clipboardCalls = 0;
    QVERIFY(!keyboard.typeText(5, "1A2B", true, false,
                               [&](const std::string&) { ++clipboardCalls; }));
    QCOMPARE(clipboardCalls, 1);
    QVERIFY(keyboard.records().empty());
    QCOMPARE(keyboard.foregroundWindow(), quint64(6));

    keyboard.setFocusObtainable(true);
    QVERIFY(keyboard.typeText(5, "1A2B", true, false, {}));
    QCOMPARE(keyboard.records().size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(TestRecordingKeyboard)
#include "tst_recordingkeyboard.moc"
