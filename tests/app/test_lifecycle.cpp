// The real executable under the offscreen platform: one copy per user,
// a clean end on a stop signal, and a stale lock that does not block.
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

QString settingsFor(const QTemporaryDir& dir, const QString& port)
{
    const QString path = dir.filePath("tallyport.conf");
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("CommName", port);
    settings.setValue("ReaderType", 0);
    settings.setValue("ReaderID", 7);
    settings.sync();
    return path;
}

}  // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private slots:
    void secondStartDefersToTheFirst()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString settings = settingsFor(dir, sim.path());
        RunningProgram first(dir, {"--settings", settings, "--verbose"});
        QVERIFY2(first.waitFor("Connect reader ok.  S/N:12345678"), qPrintable(first.seen));

        RunningProgram second(dir, {"--settings", settings, "--verbose"});
        QVERIFY(second.process.waitForFinished(5000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        // It asked the first to show itself and touched neither the port nor the log.
        QVERIFY(first.waitFor("a second start asked for the window"));
        QVERIFY(!QString::fromUtf8(second.process.readAllStandardError()).contains("Connecting"));
        QCOMPARE(first.process.state(), QProcess::Running);

        // A stop signal ends the first copy cleanly; then a new start runs.
        ::kill(static_cast<pid_t>(first.process.processId()), SIGTERM);
        QVERIFY(first.process.waitForFinished(5000));
        QCOMPARE(first.process.exitCode(), 0);
        RunningProgram third(dir, {"--settings", settings, "--verbose"});
        QVERIFY2(third.waitFor("Connect reader ok."), qPrintable(third.seen));
    }

    void aLockLeftByACrashDoesNotBlock()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString settings = settingsFor(dir, sim.path());
        {
            RunningProgram crashed(dir, {"--settings", settings, "--verbose"});
            QVERIFY(crashed.waitFor("Connect reader ok."));
            crashed.process.kill();
            crashed.process.waitForFinished(3000);
        }
        RunningProgram next(dir, {"--settings", settings, "--verbose"});
        QVERIFY2(next.waitFor("Connect reader ok."), qPrintable(next.seen));
    }

    void aMissingPortIsFoundByDetectionAtStart()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "C", "--id", "33", "--serial", "C0FFEE00"});
        const QString settings = settingsFor(dir, "/nonexistent/tallyport-port");
        RunningProgram program(dir, {"--settings", settings, "--port", sim.path(), "--verbose"});
        QVERIFY2(program.waitFor("Detect reader ok.  S/N:C0FFEE00", 30000), qPrintable(program.seen));
        QVERIFY2(program.waitFor("Connect reader ok.  S/N:C0FFEE00"), qPrintable(program.seen));
        QCOMPARE(sim.command("card 1A2B3C4D"), QString("ok"));
        QVERIFY2(program.waitFor("Card ID : 1A2B3C4D"), qPrintable(program.seen));
    }

    void aStopSignalEndsADetectionWalkAtOnce()
    {
        // Four silent ports keep a walk busy for about eleven seconds; the
        // window thread is free all along, and a stop signal ends the walk
        // after the transaction under way.
        QTemporaryDir dir;
        std::vector<std::unique_ptr<SimulatedReader>> silent;
        QStringList arguments{"--settings", settingsFor(dir, "/nonexistent/tallyport-port"), "--verbose"};
        for (int i = 0; i < 4; ++i) {
            silent.push_back(std::make_unique<SimulatedReader>(QStringList{"--type", "A"}));
            silent.back()->command("silent on");
            arguments << "--port" << silent.back()->path();
        }
        RunningProgram program(dir, arguments);
        QVERIFY2(program.waitFor("Detect reader ...  " + silent[1]->path(), 15000), qPrintable(program.seen));
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        QVERIFY2(program.process.waitForFinished(3000), "the walk went on after the stop signal");
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), 0);
        program.seen += QString::fromUtf8(program.process.readAllStandardError());
        QVERIFY2(!program.seen.contains("Detect reader ...  " + silent[3]->path()), qPrintable(program.seen));
    }

    void badOptionsAndHelp()
    {
        QTemporaryDir dir;
        RunningProgram bad(dir, {"--no-such-option"});
        QVERIFY(bad.process.waitForFinished(5000));
        QCOMPARE(bad.process.exitCode(), 2);
        QVERIFY(QString::fromUtf8(bad.process.readAllStandardError()).contains("no-such-option"));

        RunningProgram help(dir, {"--help"});
        QVERIFY(help.process.waitForFinished(5000));
        QCOMPARE(help.process.exitCode(), 0);
        const QString text = QString::fromUtf8(help.process.readAllStandardOutput());
        for (const char* option : {"--settings", "--verbose", "--port", "--version"})
            QVERIFY2(text.contains(option), option);
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
