// X11Keyboard without a usable X server: no display at all, and a server
// that goes away while we are connected. Nothing may crash or end the
// process, every call reports failure, and the change notifier falls silent.
#include "output/TypeCard.h"
#include "output/x11/X11Keyboard.h"
#include "support/XSession.h"

#include <QtTest>

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <X11/Xlib.h>

namespace {

bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

// Stand-ins for the handlers a GUI toolkit installs when it starts after us:
// they end the process, as Xlib's own do.
int toolkitIOErrorHandler(Display*)
{
    _exit(41);
}
int toolkitErrorHandler(Display*, XErrorEvent*)
{
    _exit(42);
}

}  // namespace

class TestX11KeyboardFailures : public QObject {
    Q_OBJECT

private slots:
    void noDisplay_data();
    void noDisplay();
    void serverGoesAway_data();
    void serverGoesAway();
};

void TestX11KeyboardFailures::noDisplay_data()
{
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<bool>("unsetDisplay");
    QTest::newRow("DISPLAY unset") << QString() << true;
    QTest::newRow("no server behind the name") << "unix:64999" << false;
}

void TestX11KeyboardFailures::noDisplay()
{
    QFETCH(QString, displayName);
    QFETCH(bool, unsetDisplay);
    const QByteArray saved = qgetenv("DISPLAY");
    if (unsetDisplay) {
        unsetenv("DISPLAY");
    }
    X11Keyboard keyboard(displayName.toStdString());
    if (unsetDisplay && !saved.isEmpty()) {
        setenv("DISPLAY", saved.constData(), 1);
    }
    QVERIFY(!keyboard.available());
    QCOMPARE(keyboard.foregroundWindow(), KeyboardOutput::WindowId(0));
    QVERIFY(!keyboard.isOwnWindow(0x400001));
    QCOMPARE(keyboard.changeNotifier(), -1);
    keyboard.drainChanges();
    int clipboardCalls = 0;
    QVERIFY(typeCard(keyboard, 0x400001, "1A2B", true, true, [&](const std::string&) { ++clipboardCalls; })
            != TypeResult::Typed);
    QCOMPARE(clipboardCalls, 0);
}

void TestX11KeyboardFailures::serverGoesAway_data()
{
    QTest::addColumn<int>("first");  // the call that runs into the loss
    QTest::newRow("notifier noticed first") << 0;
    QTest::newRow("typing noticed first") << 1;
    QTest::newRow("window query noticed first") << 2;
}

void TestX11KeyboardFailures::serverGoesAway()
{
    QFETCH(int, first);
    kbdtest::XSession session;
    std::string error;
    QVERIFY2(session.start(true, error), error.c_str());
    kbdtest::Recorder recorder;
    QVERIFY2(recorder.start(session, "kbdrec", error), error.c_str());

    {
        X11Keyboard keyboard(session.display());
        QVERIFY(keyboard.available());
        QVERIFY(typeCard(keyboard, recorder.window(), "1A", false, false, {}) == TypeResult::Typed);
        QCOMPARE(recorder.received(2, 3000), std::string("1A"));
        const int notifier = keyboard.changeNotifier();
        QVERIFY(notifier >= 0);
        keyboard.drainChanges();

        const XIOErrorHandler oldIO = XSetIOErrorHandler(toolkitIOErrorHandler);
        const XErrorHandler old = XSetErrorHandler(toolkitErrorHandler);
        session.killServer();

        int clipboardCalls = 0;
        const auto clipboard = [&](const std::string&) { ++clipboardCalls; };
        if (first == 0) {
            QVERIFY(readable(notifier, 3000));
            keyboard.drainChanges();
        } else if (first == 1) {
            QVERIFY(typeCard(keyboard, recorder.window(), "1A2B", true, true, clipboard) != TypeResult::Typed);
        } else {
            QVERIFY(!keyboard.isOwnWindow(recorder.window()));
        }
        QVERIFY(!keyboard.available());
        keyboard.drainChanges();
        // A watcher on the notifier must not spin on the dead connection.
        QVERIFY(!readable(notifier, 200));
        QVERIFY(typeCard(keyboard, recorder.window(), "1A2B", true, true, clipboard) != TypeResult::Typed);
        QCOMPARE(clipboardCalls, 0);
        QCOMPARE(keyboard.foregroundWindow(), KeyboardOutput::WindowId(0));
        QVERIFY(!keyboard.isOwnWindow(recorder.window()));
        QCOMPARE(keyboard.changeNotifier(), -1);

        XSetIOErrorHandler(oldIO);
        XSetErrorHandler(old);
    }
    // A keyboard on a new server works as before.
    kbdtest::XSession next;
    QVERIFY2(next.start(false, error), error.c_str());
    kbdtest::Recorder nextRecorder;
    QVERIFY2(nextRecorder.start(next, "kbdrec", error), error.c_str());
    X11Keyboard keyboard(next.display());
    QVERIFY(typeCard(keyboard, nextRecorder.window(), "9", false, false, {}) == TypeResult::Typed);
    QCOMPARE(nextRecorder.received(1, 3000), std::string("9"));
}

QTEST_GUILESS_MAIN(TestX11KeyboardFailures)
#include "tst_x11keyboard_failures.moc"
