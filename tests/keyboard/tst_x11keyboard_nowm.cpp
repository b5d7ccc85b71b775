// X11Keyboard on a bare X server without a window manager: the foreground
// window comes from the input focus, the focus is set directly, and an
// unmapped target is mapped.
#include "output/TypeCard.h"
#include "output/x11/X11Keyboard.h"
#include "support/XSession.h"

#include <QtTest>

#include <memory>
#include <string>

#include <X11/Xlib.h>

namespace {

// Received text as QString, so that a failed comparison shows it.
QString shown(const std::string& text)
{
    return QString::fromStdString(kbdtest::visible(text));
}

}  // namespace

class TestX11KeyboardNoWm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void foregroundIsTheFocusedTopLevel();
    void typesIntoTerminal();
    void mapsUnmappedTarget();

private:
    kbdtest::XSession session_;
    kbdtest::Terminal terminal_;
    kbdtest::Recorder recorder_;
    std::unique_ptr<X11Keyboard> keyboard_;
};

void TestX11KeyboardNoWm::initTestCase()
{
    const std::string missing = kbdtest::XSession::missingPrograms({"Xvfb", "xterm"});
    QVERIFY2(missing.empty(), ("not installed: " + missing + " (scripts/install installs them)").c_str());
    std::string error;
    QVERIFY2(session_.start(false, error), error.c_str());
    QVERIFY2(terminal_.start(session_, "kbdterm", error), error.c_str());
    QVERIFY2(recorder_.start(session_, "kbdrec", error), error.c_str());
    keyboard_ = std::make_unique<X11Keyboard>(session_.display());
    QVERIFY(keyboard_->available());
}

void TestX11KeyboardNoWm::init()
{
    session_.setFocus(recorder_.window());
    terminal_.clear();
    recorder_.clear();
}

void TestX11KeyboardNoWm::foregroundIsTheFocusedTopLevel()
{
    // Nobody announces the active window: the caller has to poll.
    QCOMPARE(keyboard_->changeNotifier(), -1);
    QCOMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(recorder_.window()));

    // Focus inside a window counts for its top-level window.
    const kbdtest::Window inner = session_.createChild(terminal_.window());
    session_.setFocus(inner);
    QCOMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(terminal_.window()));
    session_.destroyWindow(inner);

    session_.setFocus(PointerRoot);
    QCOMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(0));
    session_.setFocus(None);
    QCOMPARE(keyboard_->foregroundWindow(), KeyboardOutput::WindowId(0));
}

void TestX11KeyboardNoWm::typesIntoTerminal()
{
    int clipboardCalls = 0;
    QVERIFY(
        typeCard(*keyboard_, terminal_.window(), "1A2B3C4D", true, true, [&](const std::string&) { ++clipboardCalls; })
        == TypeResult::Typed);
    const std::string expected = "1A2B3C4D,\r";
    terminal_.received(expected.size(), 3000);
    QTest::qWait(100);
    QCOMPARE(shown(terminal_.received()), shown(expected));
    QCOMPARE(clipboardCalls, 1);
    QVERIFY(session_.focusWithin(terminal_.window()));
    QVERIFY(recorder_.received().empty());
}

void TestX11KeyboardNoWm::mapsUnmappedTarget()
{
    XUnmapWindow(session_.x(), recorder_.window());
    XSync(session_.x(), False);
    session_.setFocus(terminal_.window());

    QVERIFY(typeCard(*keyboard_, recorder_.window(), "0439041101", false, true, {}) == TypeResult::Typed);
    QCOMPARE(shown(recorder_.received(11, 3000)), shown("0439041101\r"));
    QVERIFY(session_.waitViewable(recorder_.window(), 0));
    QVERIFY(terminal_.received().empty());
}

QTEST_GUILESS_MAIN(TestX11KeyboardNoWm)
#include "tst_x11keyboard_nowm.moc"
