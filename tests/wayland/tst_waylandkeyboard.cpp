// WaylandKeyboard on a headless sway, typing into foot: every printable
// ASCII character, the comma and Enter arrive as themselves whatever layout
// the compositor gives its keyboards (changed while our keyboard lives) and
// with Caps Lock locked on them.
#include "output/TypeCard.h"
#include "output/wayland/WaylandKeyboard.h"
#include "support/SwaySession.h"

#include <QtTest>

class TestWaylandKeyboard : public QObject {
    Q_OBJECT

private slots:
    void typesExactly_data();
    void typesExactly();
    void noCompositor();

private:
    // A compositor with Caps Lock as asked, foot focused, our keyboard on it.
    void session(bool capsLock);

    std::unique_ptr<waytest::SwaySession> sway_;
    waytest::FootTerminal foot_;
    std::unique_ptr<WaylandKeyboard> keyboard_;
    bool capsLock_ = false;
};

void TestWaylandKeyboard::session(bool capsLock)
{
    if (sway_ && capsLock_ == capsLock)
        return;
    keyboard_.reset();
    sway_ = std::make_unique<waytest::SwaySession>();
    capsLock_ = capsLock;
    QString error;
    QVERIFY2(sway_->start("us", capsLock, &error), qPrintable(error));
    QVERIFY2(foot_.start(*sway_, "waykbd", &error), qPrintable(error));
    keyboard_ = std::make_unique<WaylandKeyboard>(sway_->display().toStdString());
    QVERIFY(keyboard_->available());
    QVERIFY(keyboard_->followsFocus());
}

void TestWaylandKeyboard::typesExactly_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("capsLock");
    for (bool caps : {false, true}) {
        for (const char* layout : {"us", "fr", "de"})
            QTest::addRow("%s%s", layout, caps ? ", Caps Lock" : "") << layout << caps;
    }
}

void TestWaylandKeyboard::typesExactly()
{
    QFETCH(QString, layout);
    QFETCH(bool, capsLock);
    session(capsLock);
    QVERIFY(sway_->setLayout(layout));
    foot_.clear();

    std::string printable;
    for (char c = 0x20; c < 0x7f; ++c)
        printable += c;
    const std::string card = "1A2B3C4D5E";
    const KeyboardOutput::WindowId target = keyboard_->foregroundWindow();
    QVERIFY(target != 0);
    std::string clipboard;
    QVERIFY(typeCard(*keyboard_, target, card, true, true, [&](const std::string& t) { clipboard = t; })
            == TypeResult::Typed);
    QVERIFY(typeCard(*keyboard_, target, printable, false, false, {}) == TypeResult::Typed);
    const QByteArray expected = QByteArray::fromStdString(card + ",\r" + printable);
    QCOMPARE(foot_.received(expected.size(), 5000), expected);
    QCOMPARE(clipboard, card);
}

void TestWaylandKeyboard::noCompositor()
{
    QTemporaryDir dir;
    WaylandKeyboard keyboard(dir.filePath("no-such-socket").toStdString());
    QVERIFY(!keyboard.available());
    QCOMPARE(keyboard.foregroundWindow(), KeyboardOutput::WindowId(0));
    QVERIFY(typeCard(keyboard, KeyboardOutput::kFocusedWindow, "12", false, true, {}) != TypeResult::Typed);
}

QTEST_GUILESS_MAIN(TestWaylandKeyboard)
#include "tst_waylandkeyboard.moc"
