// Time to find a reader on the last of four ports, beside the worst case of
// the three silent ports before it, and the longest gap between two log
// lines of the probe.
//
//   build/bench/bench_detection
//
// Needs build/tallyport-readersim beside it.
#include "link/Detector.h"
#include "link/ReaderLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>

namespace {

QProcess* startReader(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess;
    process->start(program, arguments);
    process->waitForStarted();
    while (!process->canReadLine() && process->waitForReadyRead(5000)) {
    }
    return process;
}

QString portOf(QProcess* process)
{
    return QString::fromUtf8(process->readLine()).trimmed();
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString sim = QCoreApplication::applicationDirPath() + "/../tallyport-readersim";
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    QList<QProcess*> readers;
    QStringList ports;
    for (int i = 0; i < 3; ++i) {
        readers << startReader(sim, {"--type", "A"});
        ports << portOf(readers.last());
        readers.last()->write("silent on\n");
        readers.last()->waitForBytesWritten(1000);
        readers.last()->waitForReadyRead(1000);  // its "ok"
    }
    readers << startReader(sim, {"--type", "F", "--id", "25"});
    ports << portOf(readers.last());

    // The worst case of a silent port: the type B probe (two 150 ms waits),
    // then two rounds of seven requests, each after a 20 ms pause, each
    // waiting its 150 ms.
    const int silentPortMs = 2 * 150 + 2 * 7 * (20 + 150);
    for (int round = 0; round < rounds; ++round) {
        ReaderLink link;
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longestGap = 0;
        const auto found = detectReader(link, ports, [&](const QString&) {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        const qint64 total = clock.elapsed();
        longestGap = std::max(longestGap, total - last);
        std::printf("round %d: found %s on port 4 after %lld ms (3 silent ports x %d ms = %d ms worst case before it);"
                    " longest gap between log lines %lld ms\n",
                    round + 1, found ? "type F" : "nothing", static_cast<long long>(total), silentPortMs,
                    3 * silentPortMs, static_cast<long long>(longestGap));
    }
    for (QProcess* reader : readers) {
        reader->terminate();
        reader->waitForFinished();
        delete reader;
    }
    return 0;
}
