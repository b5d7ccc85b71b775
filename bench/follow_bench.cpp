// Time from a reader's reappearance under another port name to the
// program's "Connect reader ok.": the real program (offscreen) reads a
// simulated reader kept at one of two paths of its port list; the reader is
// unplugged (hung up) and plugged in again at the other path, round after
// round. Times are the program's own log times (--verbose), from the moment
// the new path exists.
//
//   build/bench/follow_bench [rounds]
#include "Sim.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Reads the program's standard error until a line holding `text` comes;
// returns that line's log time (ms since midnight), or -1.
qint64 waitForLine(QProcess& program, const QString& text, int timeoutMs = 20000)
{
    static QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pending += program.readAllStandardError();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            if (line.contains(text))
                return QTime::fromString(line.left(12), "HH:mm:ss.zzz").msecsSinceStartOfDay();
        }
        program.waitForReadyRead(50);
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    QTemporaryDir dir;
    const QString paths[2] = {dir.filePath("reader-a"), dir.filePath("reader-b")};
    const QStringList reader{"--type", "C", "--id", "07", "--serial", "0000C007", "--link"};
    auto sim = std::make_unique<Sim>(reader + QStringList{paths[0]});
    {
        QFile settings(dir.filePath("tallyport.conf"));
        settings.open(QIODevice::WriteOnly);
        settings.write("[General]\nCommName=" + paths[0].toUtf8() + "\nReaderType=2\nReaderID=7\n");
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    program.setProcessEnvironment(env);
    program.start(QCoreApplication::applicationDirPath() + "/../tallyport",
                  {"--verbose", "--settings", dir.filePath("tallyport.conf"), "--port", paths[0], "--port", paths[1]});
    if (waitForLine(program, "Connect reader ok.") < 0) {
        std::fprintf(stderr, "follow_bench: the program did not connect\n");
        return 1;
    }
    std::vector<qint64> times;
    for (int round = 1; round <= rounds; ++round) {
        const QString to = paths[round % 2];
        sim->command("hangup");
        waitForLine(program, "does not exist");
        // Unplugged for a moment, as a person takes to move the plug.
        QThread::msleep(700);
        sim.reset();
        sim = std::make_unique<Sim>(reader + QStringList{to});
        const qint64 appeared = QTime::currentTime().msecsSinceStartOfDay();
        const qint64 connected = waitForLine(program, "Connect reader ok.");
        if (connected < 0) {
            std::fprintf(stderr, "follow_bench: round %d: not found again at %s\n", round, qPrintable(to));
            return 1;
        }
        times.push_back(connected - appeared);
        std::printf("round %2d: reader back at %s, \"Connect reader ok.\" after %lld ms\n", round,
                    qPrintable(QFileInfo(to).fileName()), static_cast<long long>(times.back()));
        std::fflush(stdout);
    }
    std::sort(times.begin(), times.end());
    std::printf("median %lld ms, min %lld ms, max %lld ms over %d rounds\n",
                static_cast<long long>(times[times.size() / 2]), static_cast<long long>(times.front()),
                static_cast<long long>(times.back()), rounds);
    program.terminate();
    program.waitForFinished(5000);
    return 0;
}
