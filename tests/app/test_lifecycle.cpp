// The real executable under the offscreen platform: one copy per user,
// a clean end on a stop signal, and a stale lock that does not block.
#include "app/SingleInstance.h"
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"

#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <memory>
#include <vector>

namespace {

QString settingsFor(const QTemporaryDir& dir, const QString& port, const QString& cardLog = QString())
{
    QList<QPair<QString, QVariant>> values{{"CommName", port}, {"ReaderType", 0}, {"ReaderID", 7}};
    if (!cardLog.isEmpty())
        values << qMakePair(QString("SaveToFile"), QVariant("-1")) << qMakePair(QString("ExportFile"), QVariant(cardLog));
    return writeSettingsFile(dir.filePath("tallyport.conf"), values);
}

// No display of any kind, and no platform chosen for the program.
const QMap<QString, QString> NoDisplay{{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};

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

        // The copy a second start lets come to the front (on Windows, where
        // only the process in front may): the one its lock names.
        {
            const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
            const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
            qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
            SingleInstance another;
            QCOMPARE(another.claim(), SingleInstance::Running);
            QCOMPARE(another.runningCopyPid(), first.process.processId());
            if (hadRuntime)
                qputenv("XDG_RUNTIME_DIR", runtime);
            else
                qunsetenv("XDG_RUNTIME_DIR");
        }

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
        // Four silent ports keep a walk busy for about three seconds (each
        // port's probe runs beside the others'); the window thread is free
        // all along, and a stop signal ends the walk after the transactions
        // under way, before the first port has been ruled out.
        QTemporaryDir dir;
        std::vector<std::unique_ptr<SimulatedReader>> silent;
        QStringList arguments{"--settings", settingsFor(dir, "/nonexistent/tallyport-port"), "--verbose"};
        for (int i = 0; i < 4; ++i) {
            silent.push_back(std::make_unique<SimulatedReader>(QStringList{"--type", "A"}));
            silent.back()->command("silent on");
            arguments << "--port" << silent.back()->path();
        }
        RunningProgram program(dir, arguments);
        // The first port of the list (the system's own, then ours) is under way.
        QVERIFY2(program.waitFor("Detect reader ...  ", 15000), qPrintable(program.seen));
        QElapsedTimer stopping;
        stopping.start();
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        QVERIFY2(program.process.waitForFinished(3000), "the walk went on after the stop signal");
        QVERIFY2(stopping.elapsed() < 1500, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), 0);
        program.seen += QString::fromUtf8(program.process.readAllStandardError());
        QVERIFY2(program.seen.count("Detect reader ...  ") == 1, qPrintable(program.seen));
    }

    void withoutADisplay()
    {
        QTemporaryDir dir;
        RunningProgram bad(dir, {"--no-such-option"}, QString(), NoDisplay);
        QVERIFY(bad.process.waitForFinished(5000));
        QCOMPARE(bad.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bad.process.exitCode(), 2);
        QVERIFY(QString::fromUtf8(bad.process.readAllStandardError()).contains("no-such-option"));

        RunningProgram help(dir, {"--help"}, QString(), NoDisplay);
        QVERIFY(help.process.waitForFinished(5000));
        QCOMPARE(help.process.exitCode(), 0);
        const QString text = QString::fromUtf8(help.process.readAllStandardOutput());
        for (const char* option : {"Usage: tallyport", "--settings", "--verbose", "--port", "--version"})
            QVERIFY2(text.contains(option), option);

        RunningProgram version(dir, {"--version"}, QString(), NoDisplay);
        QVERIFY(version.process.waitForFinished(5000));
        QCOMPARE(version.process.exitCode(), 0);
        QVERIFY(version.process.readAllStandardOutput().startsWith("tallyport 1."));

        // A real run is headless: the reader is read and the card logged.
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString cards = dir.filePath("cards.txt");
        RunningProgram program(dir, {"--settings", settingsFor(dir, sim.path(), cards), "--verbose"}, QString(),
                               NoDisplay);
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
        QCOMPARE(sim.command("card 1A2B3C4D"), QString("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(fileContents(cards), QByteArray("1A2B3C4D\n"), 10000);
        QCOMPARE(program.seen.count("running headless"), 1);
    }

    void aLockThatCannotBeMadeIsNoOtherCopy()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        RunningProgram program(dir, {"--settings", settingsFor(dir, sim.path()), "--verbose"}, QString(),
                               {{"XDG_RUNTIME_DIR", "/dev/null/runtime"}});
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
        QVERIFY2(program.seen.contains("single-instance guard off: cannot create /dev/null/runtime/Tallyport.lock"),
                 qPrintable(program.seen));
    }

    // A lock that names no running copy never keeps the program from starting.
    void aDamagedLockIsNoOtherCopy()
    {
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QList<QPair<QString, std::function<bool(const QString&)>>> damages{
            {"empty", [](const QString& lock) { return writeFile(lock, {}); }},
            {"random", [](const QString& lock) { return writeFile(lock, "\x9c\x01garbage\n\xff\n"); }},
            {"a link to nothing", [](const QString& lock) { return QFile::link("/nonexistent/lock", lock); }},
            {"a folder", [](const QString& lock) { return QDir().mkpath(lock + "/inside"); }},
        };
        for (const auto& [what, damage] : damages) {
            QTemporaryDir dir;
            QVERIFY2(damage(dir.filePath("Tallyport.lock")), qPrintable(what));
            RunningProgram program(dir, {"--settings", settingsFor(dir, sim.path()), "--verbose"});
            QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(what + ": " + program.seen));
            if (what == "a folder")
                QVERIFY2(program.seen.contains("single-instance guard off: " + dir.filePath("Tallyport.lock")
                                               + " names no running copy"), qPrintable(program.seen));
            else  // replaced by a real lock, so the guard works again
                QVERIFY2(QFileInfo(dir.filePath("Tallyport.lock")).isFile(), qPrintable(what + ": " + program.seen));
        }
    }

    // A compositor that takes the connection and never answers costs the
    // start two seconds, not the whole program.
    void aSilentCompositorDoesNotHoldTheStart()
    {
        QTemporaryDir dir;
        QLocalServer silent;  // listens, and never reads or answers
        QVERIFY(silent.listen(dir.filePath("wayland-silent")));
        SimulatedReader sim({"--type", "A", "--id", "07"});
        RunningProgram program(dir, {"--settings", settingsFor(dir, sim.path()), "--verbose", "--keyboard", "wayland"},
                               QString(), {{"WAYLAND_DISPLAY", dir.filePath("wayland-silent")}});
        QVERIFY2(program.waitFor("No keystrokes: no desktop to type into."), qPrintable(program.seen));
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
    }

    // Without a session runtime folder the lock lives in a folder of the
    // temporary folder, but only in one nobody else can write to.
    void theFallbackFolderMustBePrivate()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString settings = settingsFor(dir, sim.path());
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));
        const QMap<QString, QString> env{{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", dir.filePath("tmp")}};
        const QString fallback = dir.filePath(QString("tmp/tallyport-%1").arg(::getuid()));
        {
            // Made by someone else beforehand, open to all, with a lock in it.
            QVERIFY(QDir().mkpath(fallback));
            QVERIFY(::chmod(QFile::encodeName(fallback).constData(), 0777) == 0);
            QVERIFY(writeFile(fallback + "/Tallyport.lock", "1\ntallyport\n\n"));
            RunningProgram program(dir, {"--settings", settings, "--verbose"}, QString(), env);
            QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
            QVERIFY2(program.seen.contains("single-instance guard off: " + fallback + " is open to other users"),
                     qPrintable(program.seen));
            QCOMPARE(QDir(fallback).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                     QStringList{"Tallyport.lock"});
        }
        // Made by the program itself: private, and the guard works.
        QVERIFY(QDir(fallback).removeRecursively());
        RunningProgram first(dir, {"--settings", settings, "--verbose"}, QString(), env);
        QVERIFY2(first.waitFor("Connect reader ok."), qPrintable(first.seen));
        struct stat info = {};
        QVERIFY(::stat(QFile::encodeName(fallback).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        RunningProgram second(dir, {"--settings", settings, "--verbose"}, QString(), env);
        QVERIFY(second.process.waitForFinished(5000));
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(first.waitFor("a second start asked for the window"));
    }

    // tallyport -v 2>&1 | head: the log has nowhere to go, the cards still do.
    void aClosedStandardErrorIsNotFatal()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString cards = dir.filePath("cards.txt");
        const QByteArray fifo = QFile::encodeName(dir.filePath("stderr"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        QProcess program;
        program.setProcessEnvironment(RunningProgram::environment(dir));
        program.setStandardErrorFile(QFile::decodeName(fifo));
        // As from a shell: the test itself may ignore SIGPIPE, and children inherit that.
        program.setChildProcessModifier([] { ::signal(SIGPIPE, SIG_DFL); });
        program.start(RunningProgram::program(), {"--settings", settingsFor(dir, sim.path(), cards), "--verbose"});
        QVERIFY(program.waitForStarted(5000));
        pollfd ready = {reader, POLLIN, 0};
        QVERIFY(::poll(&ready, 1, 10000) == 1);
        char line[64];
        QVERIFY(::read(reader, line, sizeof line) > 0);
        ::close(reader);
        QCOMPARE(sim.command("card 1A2B3C4D"), QString("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(fileContents(cards), QByteArray("1A2B3C4D\n"), 10000);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
    }

    // A port given as a relative path is found from the working folder, and
    // control characters in its name reach the log escaped.
    void relativeAndOddPortNames()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "C", "--id", "33", "--serial", "C0FFEE00"});
        QVERIFY(QDir(dir.path()).mkpath("sub"));
        QVERIFY(QFile::link(sim.path(), dir.filePath("sub/re\x1b[31mder\x07")));
        const QString settings = settingsFor(dir, "/nonexistent/tallyport-port");
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        RunningProgram program(dir, {"--settings", settings, "--port", "sub/re\x1b[31mder\x07", "--verbose"});
        QDir::setCurrent(before);
        QVERIFY2(program.waitFor("Detect reader ok.  S/N:C0FFEE00", 30000), qPrintable(program.seen));
        QVERIFY2(program.seen.contains("Detect reader ...  " + dir.filePath("sub/re\\x1B[31mder\\x07")),
                 qPrintable(program.seen));
        QVERIFY(!program.seen.contains(QChar(0x1b)));
        QVERIFY(!program.seen.contains(QChar(0x07)));
    }

    // A settings file name that is not UTF-8, given relative to the working
    // folder as a shell gives it, is the file that is read: the reader in it
    // is connected at once (under another name the program would find no
    // file and start paused, as on a first run).
    void aSettingsNameThatIsNotUtf8()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xe9.conf";
        QVERIFY(::rename(QFile::encodeName(settingsFor(dir, sim.path())).constData(), name.constData()) == 0);
        auto remove = qScopeGuard([&] { ::unlink(name.constData()); });  // Qt cannot name it
        RunningProgram program;
        program.process.setProcessEnvironment(RunningProgram::environment(dir));
        program.process.setWorkingDirectory(dir.path());
        program.process.start("sh", {"-c", "exec \"$0\" --verbose --settings \"$(printf 'caf\\351.conf')\"",
                                     RunningProgram::program()});
        QVERIFY2(program.waitFor("Connect reader ok.  S/N:12345678"), qPrintable(program.seen));
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
