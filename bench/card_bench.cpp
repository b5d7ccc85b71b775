// The road of a card through the real program under Xvfb:
//  (a) latency from the simulated reader presenting a card to the last key
//      event reaching an X client, over many cards;
//  (b) CPU of the program while polling a connected reader with no card,
//      and while no reader answers;
//  (c) peak resident memory.
//
//   build/bench/card_bench [--cards N] [--cpu-seconds S]
#include "Percentile.h"
#include "Sim.h"
#include "support/TestFiles.h"
#include "support/XSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace {

// User plus system CPU seconds of a process so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    // After the name: state is field 3, utime 14, stime 15 (1-based, whole line).
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / sysconf(_SC_CLK_TCK);
}

QString statusValue(qint64 pid, const char* key)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return QString::fromLatin1(line.mid(qstrlen(key))).simplified();
    }
    return {};
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int cards = 200;
    int cpuSecondsWindow = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--cards")
            cards = std::atoi(argv[i + 1]);
        else if (QByteArray(argv[i]) == "--cpu-seconds")
            cpuSecondsWindow = std::atoi(argv[i + 1]);
    }
    kbdtest::XSession session;
    std::string error;
    if (!session.start(true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    kbdtest::Recorder sink;
    if (!sink.start(session, "cardsink", error) || !session.activate(sink.window())) {
        std::fprintf(stderr, "no receiving client: %s\n", error.c_str());
        return 1;
    }
    QTemporaryDir dir;
    Sim reader({"--type", "A", "--id", "01"});
    const QString settings = writeSettingsFile(dir.filePath("bench.conf"),
                                               {{"CommName", reader.path}, {"ReaderID", 1}, {"AddReturn", "-1"}});
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(session.display()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    program.setProcessEnvironment(env);
    program.start(QCoreApplication::applicationDirPath() + "/../tallyport", {"--settings", settings});
    program.waitForStarted();
    QThread::msleep(1500);
    session.activate(sink.window());
    const qint64 pid = program.processId();

    // (a) latency: 8 random hex digits and Enter per card.
    std::mt19937 random(12345);
    std::vector<double> latencyMs;
    for (int i = 0; i < cards; ++i) {
        char card[16];
        std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(random()));
        sink.clear();
        const long long presented = kbdtest::monotonicNs();
        reader.command(QString("card %1").arg(card));
        const std::string& got = sink.received(9, 3000);
        if (got.size() >= 9 && !sink.keyTimes().empty())
            latencyMs.push_back((sink.keyTimes().back() - presented) / 1e6);
        reader.command("remove");
        QThread::msleep(250 + random() % 200);  // off the reader, then the next card at a random phase
    }
    std::printf("(a) card latency over %zu of %d cards: p50 %.1f ms, p99 %.1f ms, min %.1f ms, max %.1f ms\n",
                latencyMs.size(), cards, percentile(latencyMs, 0.5), percentile(latencyMs, 0.99),
                percentile(latencyMs, 0.0), percentile(latencyMs, 1.0));
    std::printf(
        "    floor: poll interval 200 ms (a card waits 0..200 ms, mean 100 ms, for the next poll)\n"
        "    + reply transmission at 19200 baud, 8E1: 17 bytes x 11 bits = 9.7 ms on a real line (~0 on a pty)\n");

    // (b) CPU while connected without a card, then while nothing answers.
    double before = cpuSeconds(pid);
    QThread::sleep(cpuSecondsWindow);
    const double connected = (cpuSeconds(pid) - before) / cpuSecondsWindow * 100;
    reader.command("silent on");
    QThread::sleep(3);  // let it notice and drop the connection
    before = cpuSeconds(pid);
    QThread::sleep(cpuSecondsWindow);
    const double disconnected = (cpuSeconds(pid) - before) / cpuSecondsWindow * 100;
    std::printf("(b) CPU over %d s: %.2f%% of one core polling a connected reader with no card, "
                "%.2f%% while the reader is silent\n",
                cpuSecondsWindow, connected, disconnected);
    // (c) memory.
    std::printf("(c) peak resident memory (VmHWM): %s; now (VmRSS): %s\n", qPrintable(statusValue(pid, "VmHWM:")),
                qPrintable(statusValue(pid, "VmRSS:")));
    program.terminate();
    program.waitForFinished();
    return 0;
}
