// The real executable under the offscreen platform: one copy per user,
// a clean end on a stop signal, and a stale lock that does not block.
#include "app/SingleInstance.h"
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString settingsFor(const QTemporaryDir& dir, const QString& port, const QString& cardLog = QString())
{
    QList<QPair<QString, QVariant>> values{{"CommName", port},
                                           {"ReaderType", 0},
                                           {"ReaderID", 7},
                                           {"SameCardTime", kHeldCardOnce}};
    if (!cardLog.isEmpty())
        values << qMakePair(QString("SaveToFile"), QVariant("-1"))
               << qMakePair(QString("ExportFile"), QVariant(cardLog));
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
        // The walk is under way (the system's own ports come first; one with
        // no device behind it is ruled out at once).
        QVERIFY2(program.waitFor("Detect reader ...  ", 15000), qPrintable(program.seen));
        QElapsedTimer stopping;
        stopping.start();
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        QVERIFY2(program.process.waitForFinished(3000), "the walk went on after the stop signal");
        QVERIFY2(stopping.elapsed() < 1500, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), 0);
        program.seen += QString::fromUtf8(program.process.readAllStandardError());
        // Our silent ports take about three seconds to rule out, so the walk
        // had neither reached the last of them nor ended.
        QVERIFY2(!program.seen.contains("Detect reader ...  " + silent.back()->path()), qPrintable(program.seen));
        QVERIFY2(!program.seen.contains("Connecting reader"), qPrintable(program.seen));
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

    // Without settings of the user's own, the machine's file is the start:
    // its port is read at once, cards come in its send format, and nothing is
    // written, neither there nor for the user, until a save.
    void machineDefaultsAtTheFirstStart()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QString cards = dir.filePath("cards.txt");
        const QString machine = dir.filePath("xdg/Quorix/Tallyport.conf");
        QVERIFY(QDir().mkpath(QFileInfo(machine).absolutePath()));
        writeSettingsFile(machine,
                          {{"CommName", sim.path()},
                           {"ReaderType", 0},
                           {"ReaderID", 7},
                           {"SendFormat", 2},
                           {"SameCardTime", kHeldCardOnce},
                           {"SaveToFile", "-1"},
                           {"ExportFile", cards}});
        const QByteArray machineText = fileContents(machine);
        RunningProgram program(dir, {"--verbose"}, QString(), {{"XDG_CONFIG_DIRS", dir.filePath("xdg")}});
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
        QCOMPARE(sim.command("card 1A2B3C4D"), QString("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(fileContents(cards), QByteArray("0439041101\n"), 10000);
        program.process.terminate();
        QVERIFY(program.process.waitForFinished(5000));
        QCOMPARE(fileContents(machine), machineText);
        QVERIFY(!QFileInfo::exists(dir.filePath("config/Quorix/Tallyport.conf")));
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
                                               + " names no running copy"),
                         qPrintable(program.seen));
            else  // replaced by a real lock, so the guard works again
                QVERIFY2(QFileInfo(dir.filePath("Tallyport.lock")).isFile(), qPrintable(what + ": " + program.seen));
        }
    }

    // Two starts at once: the second can meet the first one's lock before
    // the first has written it, empty but held. That is a running copy, not
    // a damaged lock: the second start must defer, not run unguarded.
    void aLockBeingWrittenIsARunningCopy()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        const QByteArray lock = QFile::encodeName(dir.filePath("Tallyport.lock"));
        const int held = ::open(lock.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        QVERIFY(held >= 0);
        auto release = qScopeGuard([&] { ::close(held); });
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);  // as a starting copy holds it
        RunningProgram second(dir, {"--settings", settingsFor(dir, sim.path()), "--verbose"});
        QVERIFY2(second.process.waitForFinished(5000), "the second start ran beside the first");
        QCOMPARE(second.process.exitCode(), 0);
        const QString said = QString::fromUtf8(second.process.readAllStandardError());
        QVERIFY2(!said.contains("guard off") && !said.contains("Connecting"), qPrintable(said));
        QVERIFY(QFileInfo::exists(dir.filePath("Tallyport.lock")));
    }

    // A lock left by a killed copy that names the process id this start got
    // (process-id namespaces, Wine) names no running copy: this one runs.
    void aStaleLockNamingOurOwnProcessIdDoesNotBlock()
    {
        QTemporaryDir dir;
        SimulatedReader sim({"--type", "A", "--id", "07"});
        RunningProgram program;
        program.process.setProcessEnvironment(RunningProgram::environment(dir));
        // The shell writes its own process id, which exec hands to the program.
        program.process.start(
            "sh",
            {"-c", "printf '%s\\ntallyport\\n\\n' $$ > \"$1\"; exec \"$0\" --verbose --settings \"$2\"",
             RunningProgram::program(), dir.filePath("Tallyport.lock"), settingsFor(dir, sim.path())});
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
        QVERIFY2(!program.seen.contains("guard off"), qPrintable(program.seen));
        RunningProgram second(dir, {"--settings", settingsFor(dir, sim.path()), "--verbose"});
        QVERIFY(second.process.waitForFinished(5000));
        QVERIFY(program.waitFor("a second start asked for the window"));
    }

    // The card log's file system stops answering (a network share; here an
    // ext4 image frozen with fsfreeze): cards go on being read, the info log
    // says that the log stalls, and a stop signal ends the program within a
    // bounded time, naming the cards the log still owed.
    void aStalledCardLogHoldsUpNothing()
    {
        if (geteuid() != 0)
            QFAIL("mounting and freezing a file system needs root (CI runs as root)");
        QTemporaryDir dir;
        const QString image = dir.filePath("log.img");
        const QString mount = dir.filePath("mnt");
        QVERIFY(QDir().mkpath(mount));
        QCOMPARE(QProcess::execute("truncate", {"-s", "8M", image}), 0);
        QCOMPARE(QProcess::execute("mkfs.ext4", {"-q", image}), 0);
        QCOMPARE(QProcess::execute("mount", {"-o", "loop", image, mount}), 0);
        auto unmount = qScopeGuard([&] {
            QProcess::execute("fsfreeze", {"-u", mount});
            QProcess::execute("umount", {mount});
        });
        const QString cards = mount + "/cards.txt";
        SimulatedReader sim({"--type", "A", "--id", "07"});
        RunningProgram program(dir, {"--settings", settingsFor(dir, sim.path(), cards), "--verbose"});
        QVERIFY2(program.waitFor("Connect reader ok."), qPrintable(program.seen));
        QCOMPARE(sim.command("card 1A2B3C4D"), QString("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(fileContents(cards), QByteArray("1A2B3C4D\n"), 10000);

        QCOMPARE(QProcess::execute("fsfreeze", {"-f", mount}), 0);
        const QStringList owed{"11111111", "22222222", "33333333"};
        for (const QString& card : owed) {
            QCOMPARE(sim.command("card " + card), QString("ok"));
            QVERIFY2(program.waitFor("Card ID : " + card), qPrintable(program.seen));
            QCOMPARE(sim.command("remove"), QString("ok"));
            QTest::qWait(400);
        }
        QVERIFY2(program.waitFor("The card log " + cards + " does not answer"), qPrintable(program.seen));

        QElapsedTimer sinceStop;
        sinceStop.start();
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        for (const QString& card : owed)
            QVERIFY2(program.waitFor("Card " + card + " may be missing from the card log"), qPrintable(program.seen));
        // The program is done once its lock is gone; a thread stuck in the
        // frozen file system only leaves with the thaw (the kernel's doing).
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(dir.filePath("Tallyport.lock")), 10000);
        const qint64 stopMs = sinceStop.elapsed();
        qInfo("from the stop signal to the program's end: %lld ms", stopMs);
        QVERIFY(stopMs < 6000);
        unmount.dismiss();
        QCOMPARE(QProcess::execute("fsfreeze", {"-u", mount}), 0);
        QVERIFY(program.process.waitForFinished(10000));
        QCOMPARE(program.process.exitCode(), 0);
        QProcess::execute("umount", {mount});
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
        program.process.start(
            "sh", {"-c", "exec \"$0\" --verbose --settings \"$(printf 'caf\\351.conf')\"", RunningProgram::program()});
        QVERIFY2(program.waitFor("Connect reader ok.  S/N:12345678"), qPrintable(program.seen));
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
