// Round trip of one reader transaction over a pseudo-terminal: the time
// from the reader's write of the reply's last byte to the transaction
// returning, and the CPU time the program spends per transaction.
//
//   build/bench/bench_transaction [count]
//
// A responder thread plays the reader on the pseudo-terminal's master side
// and stamps the moment its write() of each reply returned.
#include "Percentile.h"
#include "link/Frames.h"
#include "link/ReaderLink.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long long> replyWrittenNs{0};
std::atomic<bool> stop{false};

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void respond(int master)
{
    const std::vector<std::uint8_t> reply = Frames::AsciiFrame(Frames::LF, "A01B12345678");
    std::uint8_t buffer[256];
    while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        // Answer each complete request (it ends with CR).
        if (buffer[n - 1] != Frames::CR)
            continue;
        [[maybe_unused]] const ssize_t w = ::write(master, reply.data(), reply.size());
        replyWrittenNs = nowNs();
    }
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    std::thread responder(respond, master);

    ReaderLink link;
    if (!link.OpenPort(slave, "19200,e,8,1")) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(slave));
        return 1;
    }
    std::vector<double> afterLastByteUs;
    std::vector<double> roundTripUs;
    int failures = 0;
    const double cpuBefore = cpuSeconds();
    for (int i = 0; i < count; ++i) {
        const long long start = nowNs();
        const bool ok = link.SendTabCommand("A01B");
        const long long end = nowNs();
        if (!ok || link.ReplyLength() != 16) {
            ++failures;
            continue;
        }
        afterLastByteUs.push_back((end - replyWrittenNs.load()) / 1000.0);
        roundTripUs.push_back((end - start) / 1000.0);
    }
    const double cpuPerTransactionUs = (cpuSeconds() - cpuBefore) / count * 1e6;
    stop = true;
    responder.join();
    link.ClosePort();
    ::close(master);

    std::printf("transactions: %d (failed %d) over a pseudo-terminal\n", count, failures);
    std::printf("last reply byte written -> transaction returned: median %.1f us, p99 %.1f us, max %.1f us\n",
                percentile(afterLastByteUs, 0.5), percentile(afterLastByteUs, 0.99), percentile(afterLastByteUs, 1.0));
    std::printf("whole round trip (request + reply): median %.1f us, p99 %.1f us\n", percentile(roundTripUs, 0.5),
                percentile(roundTripUs, 0.99));
    std::printf("CPU time of the program per transaction: %.1f us\n", cpuPerTransactionUs);
    std::printf("floor for comparison: a 5 ms sleep-and-poll loop adds 2500 us on average\n");
    return failures == 0 ? 0 : 1;
}
