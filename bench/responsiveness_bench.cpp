// How long the window's event loop takes to answer while the reader is
// slow: the real program under Xvfb (openbox) is pinged with _NET_WM_PING,
// the request a desktop sends to tell whether a window still responds, one
// ping after another, during
//  (a) start-up detection over three silent ports to a reader on the fourth,
//  (b) the reader going silent until the program drops it, then coming back,
//  (c) a card held on the reader, read and typed at every poll.
// Prints the longest and the 99th-percentile answer time of each phase.
//
//   build/bench/responsiveness_bench [--program PATH]
//
// PATH defaults to the tallyport beside this benchmark's folder; the
// simulated reader is taken from the same folder as the program.
#include "Sim.h"
#include "support/TestFiles.h"
#include "support/XSession.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Ping {
    long long sentNs;
    double answerMs;
};

// Pings `window` over a connection of its own until stopped.
class Pinger {
public:
    Pinger(const std::string& display, Window window) : window_(window)
    {
        x_ = XOpenDisplay(display.c_str());
        root_ = DefaultRootWindow(x_);
        protocols_ = XInternAtom(x_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(x_, "_NET_WM_PING", False);
        // The client sends its answer to the root window.
        XSelectInput(x_, root_, StructureNotifyMask | SubstructureNotifyMask);
        XSync(x_, False);
        thread_ = std::thread([this] { run(); });
    }
    ~Pinger()
    {
        stop_ = true;
        thread_.join();
        XCloseDisplay(x_);
    }
    std::vector<Ping> between(long long fromNs, long long toNs)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Ping> out;
        for (const Ping& p : pings_) {
            if (p.sentNs >= fromNs && p.sentNs < toNs)
                out.push_back(p);
        }
        return out;
    }

private:
    void run()
    {
        unsigned long serial = 1;
        while (!stop_) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window_;
            event.xclient.message_type = protocols_;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(ping_);
            event.xclient.data.l[1] = static_cast<long>(serial);
            event.xclient.data.l[2] = static_cast<long>(window_);
            const long long sent = kbdtest::monotonicNs();
            XSendEvent(x_, window_, False, NoEventMask, &event);
            XFlush(x_);
            if (waitAnswer(serial)) {
                std::lock_guard<std::mutex> lock(mutex_);
                pings_.push_back({sent, (kbdtest::monotonicNs() - sent) / 1e6});
            }
            ++serial;
            QThread::msleep(5);
        }
    }
    bool waitAnswer(unsigned long serial)
    {
        while (!stop_) {
            while (XPending(x_)) {
                XEvent event;
                XNextEvent(x_, &event);
                if (event.type == ClientMessage && event.xclient.message_type == protocols_
                    && static_cast<Atom>(event.xclient.data.l[0]) == ping_
                    && static_cast<unsigned long>(event.xclient.data.l[1]) == serial)
                    return true;
            }
            pollfd fd{ConnectionNumber(x_), POLLIN, 0};
            poll(&fd, 1, 50);
        }
        return false;
    }

    Display* x_;
    Window root_;
    Window window_;
    Atom protocols_;
    Atom ping_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Ping> pings_;
    std::thread thread_;
};

// The mapped top-level window whose WM_CLASS instance is "tallyport".
Window findProgramWindow(Display* x, int timeoutMs)
{
    const long long deadline = kbdtest::monotonicNs() + timeoutMs * 1000000LL;
    do {
        std::vector<Window> level{DefaultRootWindow(x)};
        for (int depth = 0; depth < 3; ++depth) {
            std::vector<Window> next;
            for (Window w : level) {
                Window root, parent, *children = nullptr;
                unsigned int n = 0;
                if (!XQueryTree(x, w, &root, &parent, &children, &n))
                    continue;
                for (unsigned int i = 0; i < n; ++i) {
                    XClassHint hint{};
                    XWindowAttributes attributes{};
                    if (XGetClassHint(x, children[i], &hint)) {
                        const bool named = hint.res_name && std::string(hint.res_name) == "tallyport";
                        XFree(hint.res_name);
                        XFree(hint.res_class);
                        if (named && XGetWindowAttributes(x, children[i], &attributes)
                            && attributes.map_state == IsViewable) {
                            const Window found = children[i];
                            XFree(children);
                            return found;
                        }
                    }
                    next.push_back(children[i]);
                }
                if (children)
                    XFree(children);
            }
            level = next;
        }
        QThread::msleep(50);
    } while (kbdtest::monotonicNs() < deadline);
    return 0;
}

// The program's info log, from its standard error (--verbose).
class Log {
public:
    explicit Log(QProcess& program) : program_(program) { }
    // Waits for a line containing `text` after the lines already seen.
    bool waitFor(const QString& text, int timeoutMs)
    {
        const long long deadline = kbdtest::monotonicNs() + timeoutMs * 1000000LL;
        for (;;) {
            while (program_.canReadLine()) {
                const QString line = QString::fromUtf8(program_.readLine());
                if (line.contains(text))
                    return true;
            }
            const long long left = (deadline - kbdtest::monotonicNs()) / 1000000;
            if (left <= 0)
                return false;
            program_.waitForReadyRead(static_cast<int>(std::min<long long>(left, 100)));
        }
    }
    int count(const QString& text, int forMs)
    {
        int n = 0;
        const long long deadline = kbdtest::monotonicNs() + forMs * 1000000LL;
        while (kbdtest::monotonicNs() < deadline) {
            program_.waitForReadyRead(50);
            while (program_.canReadLine())
                n += QString::fromUtf8(program_.readLine()).contains(text);
        }
        return n;
    }

private:
    QProcess& program_;
};

void report(const char* phase, std::vector<Ping> pings, long long fromNs, long long toNs)
{
    std::vector<double> ms;
    for (const Ping& p : pings)
        ms.push_back(p.answerMs);
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](double q) { return ms.empty() ? 0.0 : ms[static_cast<size_t>(q * (ms.size() - 1))]; };
    std::printf("%s (%.1f s, %zu pings): longest %.1f ms, p99 %.1f ms, p50 %.2f ms\n", phase, (toNs - fromNs) / 1e9,
                ms.size(), at(1.0), at(0.99), at(0.5));
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    XInitThreads();
    QString program = QCoreApplication::applicationDirPath() + "/../tallyport";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--program")
            program = QFileInfo(QString::fromLocal8Bit(argv[i + 1])).absoluteFilePath();
    }
    const QString simProgram = QFileInfo(program).absolutePath() + "/tallyport-readersim";

    kbdtest::XSession session;
    std::string error;
    if (!session.start(true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    kbdtest::Recorder sink;
    if (!sink.start(session, "cardsink", error)) {
        std::fprintf(stderr, "no receiving client: %s\n", error.c_str());
        return 1;
    }

    // Three silent readers, then a type C reader on the fourth port.
    std::vector<std::unique_ptr<Sim>> silent;
    QStringList arguments;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<Sim>(QStringList{"--type", "A"}, simProgram));
        silent.back()->command("silent on");
        arguments << "--port" << silent.back()->path;
    }
    Sim reader({"--type", "C", "--id", "07"}, simProgram);
    arguments << "--port" << reader.path;

    QTemporaryDir dir;
    // The port is not there: detection at start; a held card is read at every poll.
    const QString settings = writeSettingsFile(
        dir.filePath("bench.conf"),
        {{"CommName", "/nonexistent/tallyport-port"}, {"ReaderType", 2}, {"ReaderID", 7}, {"SameCardTime", 0}});
    QProcess tallyport;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(session.display()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    tallyport.setProcessEnvironment(env);
    tallyport.setProcessChannelMode(QProcess::SeparateChannels);
    tallyport.setReadChannel(QProcess::StandardError);
    tallyport.start(program, QStringList{"--settings", settings, "--verbose"} + arguments);
    if (!tallyport.waitForStarted()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 1;
    }
    Log log(tallyport);
    const Window window = findProgramWindow(session.x(), 10000);
    if (!window) {
        std::fprintf(stderr, "the program's window did not appear\n");
        return 1;
    }
    std::printf("program: %s\n", qPrintable(program));
    std::fflush(stdout);
    Pinger pinger(session.display(), window);

    // (a) The walk starts as soon as the window is up.
    const long long a0 = kbdtest::monotonicNs();
    const bool found = log.waitFor("Connect reader ok.", 60000);
    const long long a1 = kbdtest::monotonicNs();
    report("(a) detection over 3 silent ports, reader on the 4th", pinger.between(a0, a1), a0, a1);
    if (!found) {
        std::fprintf(stderr, "no reader found\n");
        return 1;
    }

    // (b) Silent until the connection drops and a reconnect fails, then back.
    const long long b0 = kbdtest::monotonicNs();
    reader.command("silent on");
    const bool dropped = log.waitFor("Connect reader error!", 20000);
    reader.command("silent off");
    const bool back = log.waitFor("Connect reader ok.", 20000);
    const long long b1 = kbdtest::monotonicNs();
    report("(b) reader silent, dropped, reconnected", pinger.between(b0, b1), b0, b1);
    if (!dropped || !back) {
        std::fprintf(stderr, "the reader was not dropped and found again\n");
        return 1;
    }

    // (c) A card held on the reader: read and typed at every poll.
    session.activate(sink.window());
    const long long c0 = kbdtest::monotonicNs();
    reader.command("card 1A2B3C4D");
    const int typed = log.count("Card ID", 10000);
    const long long c1 = kbdtest::monotonicNs();
    reader.command("remove");
    report("(c) a card at every poll", pinger.between(c0, c1), c0, c1);
    std::printf("    cards read in (c): %d (%.1f per second)\n", typed, typed / ((c1 - c0) / 1e9));

    tallyport.terminate();
    tallyport.waitForFinished(5000);
    return 0;
}
