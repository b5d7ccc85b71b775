// Time to find a reader behind 1, 4, 8 and 16 silent ports: the walk one
// port after another, as it used to run, and the walk side by side that the
// program runs now; and the longest gap between two log lines of each.
//
//   build/bench/bench_detection [rounds] [--side-by-side-only]
//
// Needs build/tallyport-readersim beside it.
#include "Sim.h"
#include "link/Detector.h"
#include "link/ReaderLink.h"
#include "reading/PortWalk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Timing {
    bool found = false;
    qint64 totalMs = 0;
    qint64 longestGapMs = 0;
    int lines = 0;
};

// Times between the start, each log line and the end.
struct Clock {
    QElapsedTimer clock;
    qint64 last = 0;
    Timing timing;
    Clock() { clock.start(); }
    void line()
    {
        timing.longestGapMs = std::max(timing.longestGapMs, clock.elapsed() - last);
        last = clock.elapsed();
        ++timing.lines;
    }
    Timing end(bool found)
    {
        timing.totalMs = clock.elapsed();
        timing.longestGapMs = std::max(timing.longestGapMs, timing.totalMs - last);
        timing.found = found;
        return timing;
    }
};

Timing oneAfterAnother(const QStringList& ports)
{
    ReaderLink link;
    Clock clock;
    const auto found = detectReader(link, ports, [&](const QString&) { clock.line(); });
    return clock.end(found.has_value());
}

Timing sideBySide(const QStringList& ports)
{
    Clock clock;
    bool done = false;
    bool found = false;
    PortWalk walk(
        ports,
        [](const QString& port) {
            ReaderLink link;
            return detectOnPort(link, port);
        },
        8000);
    walk.start([&](const QString&) { clock.line(); },
               [&](const std::optional<DetectedReader>& reader) {
                   found = reader.has_value();
                   done = true;
               });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return clock.end(found);
}

void print(const char* how, int silent, int round, const Timing& t)
{
    std::printf("%-16s %2d silent + reader, round %d: %s after %6lld ms, %2d log lines, longest gap %5lld ms\n", how,
                silent, round, t.found ? "found" : "NOT FOUND", static_cast<long long>(t.totalMs), t.lines,
                static_cast<long long>(t.longestGapMs));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int rounds = 1;
    bool sequential = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--side-by-side-only") == 0)
            sequential = false;
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }
    std::vector<std::unique_ptr<Sim>> silent;
    for (int i = 0; i < 16; ++i) {
        silent.push_back(std::make_unique<Sim>(QStringList{"--type", "A"}));
        silent.back()->command("silent on");
    }
    Sim reader({"--type", "F", "--id", "25"});
    for (int count : {1, 4, 8, 16}) {
        QStringList ports;
        for (int i = 0; i < count; ++i)
            ports << silent[static_cast<size_t>(i)]->path;
        ports << reader.path;
        for (int round = 1; round <= rounds; ++round) {
            if (sequential)
                print("one after another", count, round, oneAfterAnother(ports));
            print("side by side", count, round, sideBySide(ports));
        }
    }
    return 0;
}
