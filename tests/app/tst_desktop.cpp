// The real program on a real X server (Xvfb with a window manager): it
// connects to the simulated reader, hides in the notification area, types
// every card into the window the user works in, and writes the card log.
// Without a notification area it minimises to the taskbar instead.
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"
#include "support/XSession.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

QString shown(const std::string& text)
{
    return QString::fromStdString(kbdtest::visible(text));
}

std::string windowClass(Display* x, Window w)
{
    XClassHint hint{};
    if (!XGetClassHint(x, w, &hint))
        return {};
    std::string name = hint.res_name ? hint.res_name : "";
    XFree(hint.res_name);
    XFree(hint.res_class);
    return name;
}

// True when a window of class "tallyport" sits inside the tray host.
bool iconInTray(Display* x, Window w, bool insideTray)
{
    const std::string name = windowClass(x, w);
    if (insideTray && name == "tallyport")
        return true;
    insideTray = insideTray || name == "trayer" || name == "panel";
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x, w, &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i)
        found = iconInTray(x, children[i], insideTray);
    if (children)
        XFree(children);
    return found;
}

QString settingsFile(const QTemporaryDir& dir, const QString& port, const QString& cards)
{
    return writeSettingsFile(dir.filePath("tallyport.conf"),
                             {{"CommName", port},
                              {"ReaderType", 2},
                              {"ReaderID", 7},
                              {"AddDown", "-1"},
                              {"AddReturn", "-1"},
                              {"SameCardTime", kHeldCardOnce},
                              {"SaveToFile", "-1"},
                              {"ExportFile", cards}});
}

}  // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const std::string missing = kbdtest::XSession::missingPrograms({"Xvfb", "openbox", "trayer"});
        QVERIFY2(missing.empty(), ("not installed: " + missing + " (scripts/install installs them)").c_str());
    }

    void cardsReachTheActiveWindowFromTheTray()
    {
        kbdtest::XSession session;
        std::string error;
        QVERIFY2(session.start(true, error), error.c_str());
        auto tray = session.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                                   "120", "--height", "24"});
        kbdtest::Recorder sink;
        QVERIFY2(sink.start(session, "cardsink", error), error.c_str());
        QVERIFY(session.activate(sink.window()));

        QTemporaryDir dir;
        SimulatedReader reader({"--type", "C", "--id", "07"});
        const QString cards = dir.filePath("cards.txt");
        RunningProgram program(dir, {"--settings", settingsFile(dir, reader.path(), cards), "--verbose"},
                               QString::fromStdString(session.display()));
        QVERIFY2(program.waitFor("Read card ..."), qPrintable(program.seen));

        // Connected at start: the window went to the tray.
        QTRY_VERIFY_WITH_TIMEOUT(iconInTray(session.x(), DefaultRootWindow(session.x()), false), 5000);
        const kbdtest::Window window = session.findClient("tallyport", 2000);
        QVERIFY(window != 0);
        XWindowAttributes attributes{};
        QTRY_VERIFY_WITH_TIMEOUT(
            (XGetWindowAttributes(session.x(), window, &attributes), attributes.map_state != IsViewable), 5000);
        QVERIFY(session.activate(sink.window()));

        QCOMPARE(reader.command("card 1A2B3C4D"), QString("ok"));
        QCOMPARE(shown(sink.received(10, 5000)), QString("1A2B3C4D,\\x0d"));
        QCOMPARE(reader.command("remove"), QString("ok"));
        QVERIFY(program.waitFor("Card ID : 1A2B3C4D"));
        QCOMPARE(reader.command("card 00C0FFEE"), QString("ok"));
        QCOMPARE(shown(sink.received(20, 5000)), QString("1A2B3C4D,\\x0d00C0FFEE,\\x0d"));
        QTRY_COMPARE_WITH_TIMEOUT(fileContents(cards), QByteArray("1A2B3C4D\n00C0FFEE\n"), 5000);
    }

    void exitSavesWhatTheNextStartUses()
    {
        kbdtest::XSession session;
        std::string error;
        QVERIFY2(session.start(true, error), error.c_str());
        QTemporaryDir dir;
        SimulatedReader reader({"--type", "A", "--id", "01"});
        const QString settings = dir.filePath("fresh.conf");
        const QStringList arguments{"--settings", settings, "--verbose"};
        {
            // First run: no settings yet, so the reader stays untouched.
            RunningProgram first(dir, arguments, QString::fromStdString(session.display()));
            const kbdtest::Window window = session.findClient("tallyport", 5000);
            QVERIFY(window != 0);
            // Exit through its keyboard accelerator, as a user may. A slow
            // build (the sanitizers) may not take keys yet: asked again.
            for (int attempt = 0; attempt < 5 && first.process.state() != QProcess::NotRunning; ++attempt) {
                QVERIFY(session.activate(window));
                QCOMPARE(session.run({"xdotool", "key", "alt+x"}), 0);
                first.process.waitForFinished(5000);
            }
            QVERIFY(first.process.state() == QProcess::NotRunning);
            QCOMPARE(first.process.exitCode(), 0);
            QVERIFY(!first.seen.contains("Connecting reader"));
            QVERIFY(QFile::exists(settings));
        }
        // The saved file makes the next start an ordinary one that polls;
        // only the port is pointed at the simulated reader.
        QSettings edit(settings, QSettings::IniFormat);
        edit.setValue("CommName", reader.path());
        edit.sync();
        RunningProgram second(dir, arguments, QString::fromStdString(session.display()));
        QVERIFY2(second.waitFor("Connect reader ok.  S/N:12345678"), qPrintable(second.seen));
    }

    void withoutATrayTheWindowIsMinimised()
    {
        kbdtest::XSession session;
        std::string error;
        QVERIFY2(session.start(true, error), error.c_str());
        QTemporaryDir dir;
        SimulatedReader reader({"--type", "C", "--id", "07"});
        RunningProgram program(dir,
                               {"--settings", settingsFile(dir, reader.path(), dir.filePath("c.txt")), "--verbose"},
                               QString::fromStdString(session.display()));
        QVERIFY2(program.waitFor("Read card ..."), qPrintable(program.seen));
        const kbdtest::Window window = session.findClient("tallyport", 5000);
        QVERIFY(window != 0);
        // Iconic (3): reachable from the taskbar, not withdrawn.
        QTRY_COMPARE_WITH_TIMEOUT(session.wmState(window), 3L, 5000);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
