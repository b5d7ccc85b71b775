// A private X server (Xvfb) for the keyboard tests and the typing benchmark,
// with an optional window manager and real X clients that receive keys: the
// key_recorder program and xterm. Xlib and standard C++ in its interface, so
// the benchmarks without an application object can use it too; its children
// run as every other child of the tests does, through QProcess.
#pragma once

#include <QProcess>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

struct _XDisplay;

namespace kbdtest {

using Window = unsigned long;

// A child process in its own process group, stopped with the group, with
// the session's display; it dies with the test.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& display, bool captureOutput);
    ~Child();
    bool started() const { return started_; }
    bool running();
    // Reads one line of the child's standard output (when it was captured).
    bool readLine(std::string& line, int timeoutMs);
    // Ends it: the group is asked to stop, and killed after a second.
    void stop();
    // Ends it at once, without asking.
    void kill();
    // Waits for its end; its exit status, or -1 when it did not exit.
    int wait();

private:
    QProcess process_;
    bool started_ = false;
};

class XSession {
public:
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Names the programs that are not installed, or "" when all are.
    static std::string missingPrograms(const std::vector<std::string>& programs);

    // Starts Xvfb on a free display, and openbox when `windowManager`.
    bool start(bool windowManager, std::string& error);
    const std::string& display() const { return display_; }
    // A connection of the test's own, for looking at the server's state.
    _XDisplay* x() const { return x_; }
    const std::string& tempDir() const { return tempDir_; }

    std::unique_ptr<Child> spawn(const std::vector<std::string>& argv, bool captureOutput = false);
    // Runs a program to its end; its exit status, or -1.
    int run(const std::vector<std::string>& argv);

    // Stops the X server; the test's own connection is closed first.
    void killServer();

    // The client window whose WM_CLASS instance is `name`, or 0.
    Window findClient(const std::string& name, int timeoutMs);
    bool waitViewable(Window w, int timeoutMs);
    Window focus();
    bool focusWithin(Window w);
    void setFocus(Window w);
    // Activates `w` as the user would (through the window manager when there
    // is one) and waits until it holds the focus.
    bool activate(Window w);
    // Keycodes without any keysym in the current keymap.
    int emptyKeycodes();
    long wmState(Window w);  // WM_STATE, -1 when absent
    std::vector<std::string> netWmState(Window w);
    bool capsLocked();
    bool shiftDown();
    // setxkbmap with `layouts` ("us,ru"), then `group` locked (1: ru).
    bool setLayout(const std::string& layouts, int group = 0);
    int group();
    bool sendNetWmState(Window w, bool add, const std::string& a, const std::string& b);
    std::string layout();  // the XKB rules' layout names, e.g. "us"
    // A window of the test process itself, with _NET_WM_PID set, mapped.
    Window createOwnWindow(bool withPid);
    Window createChild(Window parent);
    void destroyWindow(Window w);

private:
    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> wm_;
    std::string display_;
    std::string tempDir_;
    _XDisplay* x_ = nullptr;
};

// key_recorder as a child process: the text it received, and when.
class Recorder {
public:
    bool start(XSession& session, const std::string& name, std::string& error, bool noInput = false);
    Window window() const { return window_; }
    // Reads what has arrived; waits up to timeoutMs for at least `bytes` bytes.
    const std::string& received(std::size_t bytes = 0, int timeoutMs = 0);
    const std::vector<long long>& keyTimes() const { return times_; }
    void clear();
    void stop();

private:
    std::unique_ptr<Child> child_;
    Window window_ = 0;
    std::string text_;
    std::vector<long long> times_;
};

// xterm running `stty raw -echo; cat > FILE`: what the terminal received as
// input, byte for byte (Enter arrives as "\r").
class Terminal {
public:
    bool start(XSession& session, const std::string& name, std::string& error);
    Window window() const { return window_; }
    // What arrived since the last clear(); waits up to timeoutMs for at least
    // `bytes` bytes.
    std::string received(std::size_t bytes = 0, int timeoutMs = 0);
    void clear();
    void stop();

private:
    std::unique_ptr<Child> child_;
    Window window_ = 0;
    std::string file_;
    std::size_t offset_ = 0;
};

long long monotonicNs();
// `text` with control and non-ASCII bytes escaped, for messages.
std::string visible(const std::string& text);

}  // namespace kbdtest
