// X11Keyboard end to end on a private Xvfb with openbox: the keys must reach
// real X clients (xterm and key_recorder) exactly, whatever the layout and
// modifier state, and the window handling must follow the window manager.
#include "output/TypeCard.h"
#include "output/x11/X11Keyboard.h"
#include "support/XSession.h"

#include <QtTest>

#include <poll.h>

#include <algorithm>
#include <memory>
#include <string>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// Received text as QString, so that a failed comparison shows it.
QString shown(const std::string& text)
{
    return QString::fromStdString(kbdtest::visible(text));
}

}  // namespace

namespace {

bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

const char* const kAllHex = "0123456789ABCDEFabcdef";

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

class TestX11KeyboardWm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void foregroundFollowsTheWindowManager();
    void recognisesOwnWindows();
    void typesIntoTerminal_data();
    void typesIntoTerminal();
    void capsLockChangesNothing_data();
    void capsLockChangesNothing();
    void heldShiftChangesNothing();
    void otherLayouts_data();
    void otherLayouts();
    void moreCharactersThanSpareKeys();
    void restoresMinimisedWindow();
    void maximisedWindowStaysMaximised();
    void targetThatNeverTakesFocus();
    void deadTargetsTouchNothing_data();
    void deadTargetsTouchNothing();
    void bindsWhatTheLayoutLacks();
    void keymapResetsDuringCards();

private:
    ClipboardSetter clipboard()
    {
        return [this](const std::string& text) {
            ++clipboardCalls_;
            clipboardText_ = text;
        };
    }
    // Waits for `expected` in the terminal, then a little longer to see
    // that nothing follows it.
    std::string terminalReceives(const std::string& expected)
    {
        terminal_.received(expected.size(), 3000);
        QTest::qWait(100);
        return terminal_.received();
    }
    std::string recorderReceives(const std::string& expected)
    {
        recorder_.received(expected.size(), 3000);
        QTest::qWait(100);
        return recorder_.received();
    }

    kbdtest::XSession session_;
    kbdtest::Terminal terminal_;
    kbdtest::Recorder recorder_;
    kbdtest::Recorder refuser_;  // a window that never takes the focus
    std::unique_ptr<X11Keyboard> keyboard_;
    int clipboardCalls_ = 0;
    std::string clipboardText_;
};

void TestX11KeyboardWm::initTestCase()
{
    const std::string missing
        = kbdtest::XSession::missingPrograms({"Xvfb", "openbox", "xterm", "xdotool", "setxkbmap"});
    QVERIFY2(missing.empty(), ("not installed: " + missing + " (scripts/install installs them)").c_str());
    std::string error;
    QVERIFY2(session_.start(true, error), error.c_str());
    QVERIFY2(terminal_.start(session_, "kbdterm", error), error.c_str());
    QVERIFY2(refuser_.start(session_, "kbdrefuser", error, true), error.c_str());
    QVERIFY2(recorder_.start(session_, "kbdrec", error), error.c_str());
    keyboard_ = std::make_unique<X11Keyboard>(session_.display());
    QVERIFY(keyboard_->available());
}

// Every case starts with the recorder in front, so typing elsewhere needs an
// activation, and with nothing received yet.
void TestX11KeyboardWm::init()
{
    QVERIFY(session_.activate(recorder_.window()));
    terminal_.clear();
    recorder_.clear();
    refuser_.clear();
    clipboardCalls_ = 0;
    clipboardText_.clear();
}

void TestX11KeyboardWm::cleanup()
{
    session_.run({"xdotool", "keyup", "Shift_L"});
    if (session_.capsLocked()) {
        session_.run({"xdotool", "key", "Caps_Lock"});
    }
    if (session_.layout() != "us") {
        session_.run({"setxkbmap", "us"});
    }
}

void TestX11KeyboardWm::foregroundFollowsTheWindowManager()
{
    const int notifier = keyboard_->changeNotifier();
    QVERIFY(notifier >= 0);
    QTRY_COMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(recorder_.window()));
    keyboard_->drainChanges();

    QVERIFY(session_.activate(terminal_.window()));
    QVERIFY(readable(notifier, 2000));
    QTRY_COMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(terminal_.window()));
    // Once drained and quiet, the descriptor must not stay readable (a
    // caller's event loop would spin).
    QTest::qWait(200);
    keyboard_->drainChanges();
    QVERIFY(!readable(notifier, 0));

    QVERIFY(session_.activate(recorder_.window()));
    QVERIFY(readable(notifier, 2000));
    QTRY_COMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(recorder_.window()));
}

void TestX11KeyboardWm::recognisesOwnWindows()
{
    const kbdtest::Window own = session_.createOwnWindow(true);
    const kbdtest::Window child = session_.createChild(own);
    const kbdtest::Window anonymous = session_.createOwnWindow(false);
    QVERIFY(session_.waitViewable(own, 3000));
    // openbox puts the window into a frame; the frame is ours too.
    Window rootReturn = 0;
    Window frame = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    QVERIFY(XQueryTree(session_.x(), own, &rootReturn, &frame, &children, &count));
    if (children) {
        XFree(children);
    }
    QVERIFY(frame != rootReturn);

    QVERIFY(keyboard_->isOwnWindow(own));
    QVERIFY(keyboard_->isOwnWindow(child));
    QVERIFY(keyboard_->isOwnWindow(frame));
    QVERIFY(!keyboard_->isOwnWindow(anonymous));
    QVERIFY(!keyboard_->isOwnWindow(recorder_.window()));
    QVERIFY(!keyboard_->isOwnWindow(terminal_.window()));
    QVERIFY(!keyboard_->isOwnWindow(0));
    session_.destroyWindow(own);
    session_.destroyWindow(anonymous);
    QVERIFY(!keyboard_->isOwnWindow(own));
}

void TestX11KeyboardWm::typesIntoTerminal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("comma");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<QString>("expected");
    QTest::newRow("hex, comma, Enter") << "1A2B3C4D" << true << true << "1A2B3C4D,\r";
    QTest::newRow("lower-case hex") << "1a2b" << false << false << "1a2b";
    QTest::newRow("decimal, Enter") << "0439041101" << false << true << "0439041101\r";
    QTest::newRow("repeated digits") << "0000111122" << true << false << "0000111122,";
}

void TestX11KeyboardWm::typesIntoTerminal()
{
    QFETCH(QString, text);
    QFETCH(bool, comma);
    QFETCH(bool, enter);
    QFETCH(QString, expected);
    QVERIFY(typeCard(*keyboard_, terminal_.window(), text.toStdString(), comma, enter, clipboard())
            == TypeResult::Typed);
    QCOMPARE(shown(terminalReceives(expected.toStdString())), shown(expected.toStdString()));
    QCOMPARE(clipboardCalls_, 1);
    QCOMPARE(clipboardText_, text.toStdString());
    QVERIFY(recorder_.received().empty());
    QVERIFY(session_.focusWithin(terminal_.window()));
}

void TestX11KeyboardWm::capsLockChangesNothing_data()
{
    QTest::addColumn<QString>("layout");
    for (const char* layout : {"us", "fr", "ru"}) {
        QTest::newRow(layout) << layout;
    }
}

// Letters, digits (Shift on fr's number row) and letters bound for ru, all
// with Caps Lock locked; and with a Shift key held down.
void TestX11KeyboardWm::capsLockChangesNothing()
{
    QFETCH(QString, layout);
    QCOMPARE(session_.run({"setxkbmap", layout.toStdString()}), 0);
    session_.run({"xdotool", "key", "Caps_Lock"});
    QVERIFY(session_.capsLocked());
    QVERIFY(typeCard(*keyboard_, terminal_.window(), kAllHex, true, true, clipboard()) == TypeResult::Typed);
    const std::string expected = std::string(kAllHex) + ",\r";
    QCOMPARE(shown(terminalReceives(expected)), shown(expected));
    QVERIFY2(session_.capsLocked(), "Caps Lock must be locked again afterwards");
}

void TestX11KeyboardWm::heldShiftChangesNothing()
{
    session_.run({"xdotool", "keydown", "Shift_L"});
    QVERIFY(session_.shiftDown());
    QVERIFY(typeCard(*keyboard_, terminal_.window(), kAllHex, true, true, clipboard()) == TypeResult::Typed);
    const std::string expected = std::string(kAllHex) + ",\r";
    QCOMPARE(shown(terminalReceives(expected)), shown(expected));
    QVERIFY2(session_.shiftDown(), "Shift must still be down afterwards");
}

void TestX11KeyboardWm::otherLayouts_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group");
    QTest::newRow("fr") << "fr" << 0;
    QTest::newRow("de") << "de" << 0;
    QTest::newRow("ru") << "ru" << 0;
    QTest::newRow("us,ru with ru") << "us,ru" << 1;
}

// setxkbmap replaces the keymap, bindings and all, between two calls. ru
// alone has no Latin letters; "us,ru" has them in the group not active.
void TestX11KeyboardWm::otherLayouts()
{
    QFETCH(QString, layout);
    QFETCH(int, group);
    QVERIFY(typeCard(*keyboard_, terminal_.window(), "0A", false, false, clipboard()) == TypeResult::Typed);
    QCOMPARE(shown(terminalReceives("0A")), shown("0A"));
    terminal_.clear();

    QVERIFY(session_.setLayout(layout.toStdString(), group));
    QCOMPARE(session_.layout(), layout.toStdString());
    QVERIFY(typeCard(*keyboard_, terminal_.window(), "0439041101", true, true, clipboard()) == TypeResult::Typed);
    QVERIFY(typeCard(*keyboard_, terminal_.window(), "1A2B3C4D", true, true, clipboard()) == TypeResult::Typed);
    QVERIFY(typeCard(*keyboard_, terminal_.window(), "9f8e7d", false, true, clipboard()) == TypeResult::Typed);
    const std::string expected = "0439041101,\r1A2B3C4D,\r9f8e7d\r";
    QCOMPARE(shown(terminalReceives(expected)), shown(expected));
    QCOMPARE(session_.group(), group);  // a group switched for Latin letters is switched back
}

// More distinct characters than the keymap has spare keycodes, including
// ones no key of the layout carries.
void TestX11KeyboardWm::moreCharactersThanSpareKeys()
{
    const std::string text = "0123456789ABCDEFabcdef\xC3\xA9\xC3\xBC";  // ...éü
    QVERIFY(session_.emptyKeycodes() < 26);
    QVERIFY(typeCard(*keyboard_, recorder_.window(), text, true, true, clipboard()) == TypeResult::Typed);
    // key_recorder reports Latin-1.
    const std::string expected = "0123456789ABCDEFabcdef\xE9\xFC,\r";
    QCOMPARE(shown(recorderReceives(expected)), shown(expected));
}

void TestX11KeyboardWm::restoresMinimisedWindow()
{
    QCOMPARE(session_.run({"xdotool", "windowminimize", std::to_string(recorder_.window())}), 0);
    QTRY_COMPARE(session_.wmState(recorder_.window()), long(IconicState));

    // The window is on its way back before the clipboard is set.
    bool restoredFirst = false;
    const auto clipboardWhenRestored = [&](const std::string&) {
        ++clipboardCalls_;
        QElapsedTimer timer;
        timer.start();
        while (!restoredFirst && timer.elapsed() < 2000) {
            restoredFirst = session_.wmState(recorder_.window()) == NormalState;
            QTest::qSleep(5);
        }
    };
    QVERIFY(typeCard(*keyboard_, recorder_.window(), "1A2B3C4D", true, true, clipboardWhenRestored)
            == TypeResult::Typed);
    QVERIFY(restoredFirst);
    QCOMPARE(shown(recorderReceives("1A2B3C4D,\r")), shown("1A2B3C4D,\r"));
    QCOMPARE(session_.wmState(recorder_.window()), long(NormalState));
    QVERIFY(!contains(session_.netWmState(recorder_.window()), "_NET_WM_STATE_HIDDEN"));
    QCOMPARE(clipboardCalls_, 1);
}

void TestX11KeyboardWm::maximisedWindowStaysMaximised()
{
    const kbdtest::Window w = recorder_.window();
    QVERIFY(session_.sendNetWmState(w, true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"));
    QTRY_VERIFY(contains(session_.netWmState(w), "_NET_WM_STATE_MAXIMIZED_VERT")
                && contains(session_.netWmState(w), "_NET_WM_STATE_MAXIMIZED_HORZ"));
    XWindowAttributes before;
    QVERIFY(XGetWindowAttributes(session_.x(), w, &before));
    QVERIFY(session_.activate(terminal_.window()));

    QVERIFY(typeCard(*keyboard_, w, "0439041101", false, true, clipboard()) == TypeResult::Typed);
    QCOMPARE(shown(recorderReceives("0439041101\r")), shown("0439041101\r"));
    const auto state = session_.netWmState(w);
    QVERIFY(contains(state, "_NET_WM_STATE_MAXIMIZED_VERT"));
    QVERIFY(contains(state, "_NET_WM_STATE_MAXIMIZED_HORZ"));
    XWindowAttributes after;
    QVERIFY(XGetWindowAttributes(session_.x(), w, &after));
    QCOMPARE(after.width, before.width);
    QCOMPARE(after.height, before.height);

    session_.sendNetWmState(w, false, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
}

// The clipboard is set, but without the focus no key may be sent: it would
// land in whichever window has it.
void TestX11KeyboardWm::targetThatNeverTakesFocus()
{
    QElapsedTimer timer;
    timer.start();
    QVERIFY(typeCard(*keyboard_, refuser_.window(), "1A2B", true, true, clipboard()) == TypeResult::NoFocus);
    QVERIFY(timer.elapsed() >= 400);
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(clipboardCalls_, 1);
    QTest::qWait(200);
    QVERIFY(refuser_.received().empty());
    QVERIFY(recorder_.received().empty());
    QVERIFY(terminal_.received().empty());
}

void TestX11KeyboardWm::deadTargetsTouchNothing_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("no window") << 0;
    QTest::newRow("destroyed window") << 1;
    QTest::newRow("root window") << 2;
}

void TestX11KeyboardWm::deadTargetsTouchNothing()
{
    QFETCH(int, kind);
    KeyboardOutput::WindowId target = 0;
    if (kind == 1) {
        target = session_.createOwnWindow(true);
        session_.destroyWindow(target);
        init();
    } else if (kind == 2) {
        target = DefaultRootWindow(session_.x());
    }
    QVERIFY(typeCard(*keyboard_, target, "1A2B", true, true, clipboard())
            == (kind == 0 ? TypeResult::NoTarget : TypeResult::TargetGone));
    QCOMPARE(clipboardCalls_, 0);
    QTest::qWait(200);
    QVERIFY(recorder_.received().empty());
    QVERIFY(terminal_.received().empty());
    QVERIFY(session_.focusWithin(recorder_.window()));
}

// Keys are bound only for what the layout lacks (ru: the Latin letters), as
// soon as the layout changes, and handed back at the end.
void TestX11KeyboardWm::bindsWhatTheLayoutLacks()
{
    QCOMPARE(session_.run({"setxkbmap", "us"}), 0);
    const int usEmpty = session_.emptyKeycodes();
    int ruEmpty = 0;
    {
        X11Keyboard other(session_.display());
        QCOMPARE(session_.emptyKeycodes(), usEmpty);
        const int notifier = other.changeNotifier();
        QVERIFY(notifier >= 0);
        other.drainChanges();
        QCOMPARE(session_.run({"setxkbmap", "ru"}), 0);
        ruEmpty = session_.emptyKeycodes();
        QVERIFY(readable(notifier, 2000));
        other.drainChanges();
        QVERIFY(session_.emptyKeycodes() < ruEmpty);
        QVERIFY(typeCard(other, recorder_.window(), "5A", false, false, clipboard()) == TypeResult::Typed);
        QCOMPARE(shown(recorderReceives("5A")), shown("5A"));
    }
    QCOMPARE(session_.emptyKeycodes(), ruEmpty);
}

// Another program resets the keymap again and again while cards are typed
// (setxkbmap ru in a loop): each reset takes away the keys bound for the
// Latin letters. A card may then not be typed in full, and says so; but no
// card is ever submitted with Enter unless it arrived exactly.
void TestX11KeyboardWm::keymapResetsDuringCards()
{
    QVERIFY(session_.setLayout("ru", 0));
    QVERIFY(session_.activate(terminal_.window()));
    std::unique_ptr<kbdtest::Child> resetter = session_.spawn({"sh", "-c", "while setxkbmap ru; do sleep 0.2; done"});
    QTest::qWait(300);
    int typed = 0;
    int cut = 0;
    for (int i = 0; i < 30; ++i) {
        terminal_.clear();
        const TypeResult result = typeCard(*keyboard_, terminal_.window(), "1A2B3C4D", false, true, clipboard());
        // The window manager, busy with the keymaps too, may also keep the
        // focus from the terminal for a while: then nothing is typed.
        QVERIFY2(result == TypeResult::Typed || result == TypeResult::Incomplete || result == TypeResult::NoFocus,
                 qPrintable(QString("card %1: result %2").arg(i).arg(int(result))));
        if (result != TypeResult::Typed) {
            QTest::qWait(300);
        }
        const std::string got = result == TypeResult::Typed ? terminalReceives("1A2B3C4D\r") : terminal_.received();
        if (result == TypeResult::Typed) {
            ++typed;
            QCOMPARE(shown(got), shown("1A2B3C4D\r"));
        } else {
            ++cut;
            QVERIFY2(got.find('\r') == std::string::npos, qPrintable(shown(got)));
        }
    }
    resetter->stop();
    qInfo("typed in full: %d, not in full (said so): %d", typed, cut);
}

QTEST_GUILESS_MAIN(TestX11KeyboardWm)
#include "tst_x11keyboard_wm.moc"
