#include "XSession.h"

#include "output/x11/WindowTree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#ifndef TALLYPORT_KEY_RECORDER
#error "TALLYPORT_KEY_RECORDER must name the key_recorder program"
#endif

namespace kbdtest {

long long monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string visible(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

namespace {

void sleepMs(int ms)
{
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// The test's own connection must survive errors about windows that have
// gone; it only looks.
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

bool readProperty32(Display* x, Window w, const char* name, Atom type, std::vector<unsigned long>& out)
{
    Atom actual = None;
    int format = 0;
    unsigned long n = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    out.clear();
    if (XGetWindowProperty(x, w, XInternAtom(x, name, False), 0, 1024, False, type, &actual, &format, &n, &after, &data)
        != Success) {
        return false;
    }
    if (data && format == 32) {
        const auto* items = reinterpret_cast<unsigned long*>(data);
        out.assign(items, items + n);
    }
    if (data) {
        XFree(data);
    }
    return actual != None;
}

}  // namespace

// ---------------------------------------------------------------------------

Child::Child(const std::vector<std::string>& argv, const std::string& display, bool captureOutput)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    if (!display.empty())
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    process_.setProcessEnvironment(env);
    process_.setStandardInputFile(QProcess::nullDevice());
    if (!captureOutput)
        process_.setStandardOutputFile(QProcess::nullDevice());
    if (std::getenv("KBDTEST_VERBOSE"))
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    else
        process_.setStandardErrorFile(QProcess::nullDevice());
    process_.setChildProcessModifier([] {
        setpgid(0, 0);
        // Should the test die, its server and clients go with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Nothing of the test's own is passed on (QProcess's own pipes close
        // at the exec).
        for (int fd = 3; fd < 1024; ++fd) {
            const int flags = fcntl(fd, F_GETFD);
            if (flags >= 0 && !(flags & FD_CLOEXEC))
                close(fd);
        }
    });
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i)
        arguments << QString::fromStdString(argv[i]);
    process_.start(QString::fromStdString(argv.at(0)), arguments);
    started_ = process_.waitForStarted(10000);
}

Child::~Child()
{
    stop();
}

bool Child::running()
{
    return process_.state() != QProcess::NotRunning && !process_.waitForFinished(0);
}

bool Child::readLine(std::string& line, int timeoutMs)
{
    const long long deadline = monotonicNs() + timeoutMs * 1000000LL;
    while (!process_.canReadLine()) {
        const long long left = (deadline - monotonicNs()) / 1000000LL;
        if (!process_.waitForReadyRead(static_cast<int>(left > 0 ? left : 0)) && (left <= 0 || !running()))
            return false;
    }
    line = process_.readLine().toStdString();
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return true;
}

void Child::stop()
{
    if (!running())
        return;
    ::kill(-static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(1000)) {
        ::kill(-static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(-1);
    }
}

void Child::kill()
{
    if (!running())
        return;
    process_.kill();
    process_.waitForFinished(-1);
}

int Child::wait()
{
    if (!started_ || !process_.waitForFinished(-1) || process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

// ---------------------------------------------------------------------------

XSession::XSession() = default;

XSession::~XSession()
{
    wm_.reset();
    if (x_) {
        XCloseDisplay(x_);
        x_ = nullptr;
    }
    server_.reset();
    if (!tempDir_.empty()) {
        run({"rm", "-rf", tempDir_});
    }
}

std::string XSession::missingPrograms(const std::vector<std::string>& programs)
{
    std::string missing;
    const char* path = std::getenv("PATH");
    for (const auto& program : programs) {
        bool found = false;
        std::stringstream dirs(path ? path : "/usr/bin:/bin");
        std::string dir;
        while (!found && std::getline(dirs, dir, ':')) {
            found = access((dir + "/" + program).c_str(), X_OK) == 0;
        }
        if (!found) {
            missing += (missing.empty() ? "" : " ") + program;
        }
    }
    return missing;
}

bool XSession::start(bool windowManager, std::string& error)
{
    const std::string missing = missingPrograms(windowManager ? std::vector<std::string>{"Xvfb", "openbox"}
                                                              : std::vector<std::string>{"Xvfb"});
    if (!missing.empty()) {
        error = "not installed: " + missing + " (scripts/install installs them)";
        return false;
    }
    char dirTemplate[] = "/tmp/tallyport-kbd-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        error = "mkdtemp failed";
        return false;
    }
    tempDir_ = dirTemplate;

    // Xvfb picks a free display number itself and writes it out.
    server_ = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "",
        true);
    std::string number;
    if (!server_->readLine(number, 15000) || number.empty()) {
        error = "Xvfb did not start";
        return false;
    }
    display_ = ":" + number;
    x_ = XOpenDisplay(display_.c_str());
    if (!x_) {
        error = "cannot connect to " + display_;
        return false;
    }
    XSetErrorHandler(ignoreXError);

    if (windowManager) {
        const std::string config = tempDir_ + "/config";
        mkdir(config.c_str(), 0700);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        wm_ = spawn({"openbox", "--sm-disable"});
        // openbox announces itself before it manages windows; it is ready
        // once a window of ours gets mapped through it (a map request sent
        // too early is dropped, so it is repeated).
        const Window probe = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 10, 10, 0, 0, 0);
        bool managed = false;
        for (int i = 0; i < 100 && !managed; ++i) {
            XMapWindow(x_, probe);
            XSync(x_, False);
            for (int j = 0; j < 10 && !managed; ++j) {
                sleepMs(10);
                managed = wmState(probe) == NormalState;
            }
        }
        XDestroyWindow(x_, probe);
        XSync(x_, False);
        if (!managed) {
            error = "openbox did not start";
            return false;
        }
        return true;
    }
    return true;
}

std::unique_ptr<Child> XSession::spawn(const std::vector<std::string>& argv, bool captureOutput)
{
    return std::make_unique<Child>(argv, display_, captureOutput);
}

int XSession::run(const std::vector<std::string>& argv)
{
    return Child(argv, display_, false).wait();
}

void XSession::killServer()
{
    if (x_) {
        XCloseDisplay(x_);
        x_ = nullptr;
    }
    if (server_)
        server_->kill();
}

Window XSession::findClient(const std::string& name, int timeoutMs)
{
    const long long deadline = monotonicNs() + timeoutMs * 1000000LL;
    do {
        // Top-level windows and, under a window manager, the frames' children.
        const Window found = x11tree::findBelow(
            x_, DefaultRootWindow(x_), 3,
            [&](Window w) {
                XClassHint hint{};
                if (!XGetClassHint(x_, w, &hint))
                    return false;
                const bool match = hint.res_name && name == hint.res_name;
                XFree(hint.res_name);
                XFree(hint.res_class);
                return match;
            },
            [] { return false; });
        if (found)
            return found;
        sleepMs(20);
    } while (monotonicNs() < deadline);
    return 0;
}

bool XSession::waitViewable(Window w, int timeoutMs)
{
    const long long deadline = monotonicNs() + timeoutMs * 1000000LL;
    do {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(x_, w, &attrs) && attrs.map_state == IsViewable) {
            return true;
        }
        sleepMs(10);
    } while (monotonicNs() < deadline);
    return false;
}

Window XSession::focus()
{
    Window w = None;
    int revert = 0;
    XGetInputFocus(x_, &w, &revert);
    return w;
}

bool XSession::focusWithin(Window target)
{
    Window w = focus();
    while (w != None && w != PointerRoot) {
        if (w == target) {
            return true;
        }
        Window rootReturn;
        Window parent;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(x_, w, &rootReturn, &parent, &children, &n)) {
            return false;
        }
        if (children) {
            XFree(children);
        }
        if (w == rootReturn) {
            return false;
        }
        w = parent;
    }
    return false;
}

void XSession::setFocus(Window w)
{
    XSetInputFocus(x_, w, RevertToParent, CurrentTime);
    XSync(x_, False);
}

bool XSession::activate(Window w)
{
    if (wm_) {
        run({"xdotool", "windowactivate", std::to_string(w)});
    } else {
        setFocus(w);
    }
    for (int i = 0; i < 300; ++i) {
        if (focusWithin(w)) {
            return true;
        }
        sleepMs(10);
    }
    return false;
}

int XSession::emptyKeycodes()
{
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(x_, &minCode, &maxCode);
    int per = 0;
    KeySym* map = XGetKeyboardMapping(x_, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &per);
    int empty = 0;
    for (int code = 0; map && code <= maxCode - minCode; ++code) {
        bool none = true;
        for (int i = 0; i < per; ++i) {
            none = none && map[code * per + i] == NoSymbol;
        }
        empty += none ? 1 : 0;
    }
    if (map) {
        XFree(map);
    }
    return empty;
}

long XSession::wmState(Window w)
{
    std::vector<unsigned long> v;
    const Atom type = XInternAtom(x_, "WM_STATE", False);
    if (!readProperty32(x_, w, "WM_STATE", type, v) || v.empty()) {
        return -1;
    }
    return static_cast<long>(v[0]);
}

std::vector<std::string> XSession::netWmState(Window w)
{
    std::vector<unsigned long> atoms;
    std::vector<std::string> names;
    readProperty32(x_, w, "_NET_WM_STATE", XA_ATOM, atoms);
    for (unsigned long a : atoms) {
        if (char* name = XGetAtomName(x_, a)) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

bool XSession::capsLocked()
{
    XkbStateRec state{};
    XkbGetState(x_, XkbUseCoreKbd, &state);
    return state.locked_mods & LockMask;
}

bool XSession::setLayout(const std::string& layouts, int group)
{
    if (run({"setxkbmap", "-layout", layouts}) != 0) {
        return false;
    }
    XkbLockGroup(x_, XkbUseCoreKbd, group);
    XSync(x_, False);
    return this->group() == group;
}

int XSession::group()
{
    XkbStateRec state{};
    XkbGetState(x_, XkbUseCoreKbd, &state);
    return state.group;
}

bool XSession::shiftDown()
{
    XkbStateRec state{};
    XkbGetState(x_, XkbUseCoreKbd, &state);
    return state.base_mods & ShiftMask;
}

bool XSession::sendNetWmState(Window w, bool add, const std::string& a, const std::string& b)
{
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(x_, "_NET_WM_STATE", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = add ? 1 : 0;
    ev.xclient.data.l[1] = static_cast<long>(XInternAtom(x_, a.c_str(), False));
    ev.xclient.data.l[2] = b.empty() ? 0 : static_cast<long>(XInternAtom(x_, b.c_str(), False));
    ev.xclient.data.l[3] = 2;
    const Status ok
        = XSendEvent(x_, DefaultRootWindow(x_), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XSync(x_, False);
    return ok;
}

std::string XSession::layout()
{
    // _XKB_RULES_NAMES: rules, model, layout, variant and options, each
    // ended by a NUL.
    Atom actual = None;
    int format = 0;
    unsigned long n = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(x_, DefaultRootWindow(x_), XInternAtom(x_, "_XKB_RULES_NAMES", False), 0, 1024, False,
                           XA_STRING, &actual, &format, &n, &after, &data)
            == Success
        && data && format == 8) {
        std::vector<std::string> fields;
        std::string field;
        for (unsigned long i = 0; i < n; ++i) {
            if (data[i] == 0) {
                fields.push_back(field);
                field.clear();
            } else {
                field.push_back(static_cast<char>(data[i]));
            }
        }
        fields.push_back(field);
        if (fields.size() > 2) {
            out = fields[2];
        }
    }
    if (data) {
        XFree(data);
    }
    return out;
}

Window XSession::createOwnWindow(bool withPid)
{
    const Window w = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 100, 100, 0, 0, 0);
    if (withPid) {
        const long pid = getpid();
        XChangeProperty(x_, w, XInternAtom(x_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
    }
    XMapWindow(x_, w);
    XSync(x_, False);
    return w;
}

Window XSession::createChild(Window parent)
{
    const Window w = XCreateSimpleWindow(x_, parent, 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(x_, w);
    XSync(x_, False);
    return w;
}

void XSession::destroyWindow(Window w)
{
    XDestroyWindow(x_, w);
    XSync(x_, False);
}

// ---------------------------------------------------------------------------

bool Recorder::start(XSession& session, const std::string& name, std::string& error, bool noInput)
{
    std::vector<std::string> argv{TALLYPORT_KEY_RECORDER, name};
    if (noInput) {
        argv.push_back("--no-input");
    }
    child_ = session.spawn(argv, true);
    std::string line;
    if (!child_->readLine(line, 10000) || line.rfind("W ", 0) != 0) {
        error = "key_recorder did not start (" + std::string(TALLYPORT_KEY_RECORDER) + ")";
        return false;
    }
    window_ = std::strtoul(line.c_str() + 2, nullptr, 16);
    if (!session.waitViewable(window_, 5000)) {
        error = "key_recorder window never became viewable";
        return false;
    }
    return true;
}

const std::string& Recorder::received(std::size_t bytes, int timeoutMs)
{
    const long long deadline = monotonicNs() + timeoutMs * 1000000LL;
    for (;;) {
        const long long left = (deadline - monotonicNs()) / 1000000LL;
        const bool wantMore = text_.size() < bytes;
        std::string line;
        if (!child_->readLine(line, wantMore && left > 0 ? static_cast<int>(left) : 0)) {
            if (!wantMore || left <= 0) {
                return text_;
            }
            continue;
        }
        // K <time> <keysym> <hex bytes or ->
        std::istringstream in(line);
        std::string tag;
        long long t = 0;
        std::string sym;
        std::string hex;
        in >> tag >> t >> sym >> hex;
        if (tag != "K") {
            continue;
        }
        times_.push_back(t);
        if (hex != "-") {
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
                text_.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
            }
        }
    }
}

void Recorder::clear()
{
    received();
    text_.clear();
    times_.clear();
}

void Recorder::stop()
{
    child_.reset();
}

// ---------------------------------------------------------------------------

bool Terminal::start(XSession& session, const std::string& name, std::string& error)
{
    const std::string missing = XSession::missingPrograms({"xterm"});
    if (!missing.empty()) {
        error = "not installed: xterm (scripts/install installs it)";
        return false;
    }
    file_ = session.tempDir() + "/" + name + ".in";
    const std::string ready = session.tempDir() + "/" + name + ".ready";
    child_ = session.spawn({"xterm", "-name", name, "-geometry", "60x10", "-e", "sh", "-c",
                            "stty raw -echo && : > '" + ready + "' && exec cat > '" + file_ + "'"});
    window_ = session.findClient(name, 10000);
    if (!window_ || !session.waitViewable(window_, 5000)) {
        error = "xterm window did not appear";
        return false;
    }
    for (int i = 0; i < 500 && access(ready.c_str(), F_OK) != 0; ++i) {
        sleepMs(10);
    }
    if (access(ready.c_str(), F_OK) != 0) {
        error = "the shell in xterm did not start";
        return false;
    }
    offset_ = 0;
    return true;
}

std::string Terminal::received(std::size_t bytes, int timeoutMs)
{
    const long long deadline = monotonicNs() + timeoutMs * 1000000LL;
    std::string text;
    for (;;) {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        const std::string content = all.str();
        text = content.size() > offset_ ? content.substr(offset_) : std::string();
        if (text.size() >= bytes || monotonicNs() >= deadline) {
            return text;
        }
        sleepMs(5);
    }
}

void Terminal::clear()
{
    std::ifstream in(file_, std::ios::binary | std::ios::ate);
    offset_ = in ? static_cast<std::size_t>(in.tellg()) : 0;
}

void Terminal::stop()
{
    child_.reset();
}

}  // namespace kbdtest
