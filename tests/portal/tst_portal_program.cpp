// The real program typing through the stand-in portal, on a headless sway
// (for the Wayland session) and a private session bus: the permission asked
// once and remembered in the settings for the next start, the keysyms of a
// card in order, and a refusal or a missing portal told once in the info
// log while the card log goes on.
#include "support/PrivateBus.h"
#include "support/SimulatedReader.h"
#include "support/SwaySession.h"
#include "support/TestFiles.h"
#include "support/WaylandProgram.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList keysymCalls(const QStringList& calls)
{
    QStringList keys;
    for (const QString& call : calls) {
        if (call.startsWith("Keysym"))
            keys << call;
    }
    return keys;
}

}  // namespace

class TestPortalProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void permissionRemembered();
    void stalledPortal();
    void refusedOrMissing();

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
        env.insert("XDG_RUNTIME_DIR", dir_.path());
        env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
        return env;
    }
    // Type C, ID 07, comma and Enter, cards logged to cards.txt.
    QStringList arguments(const QString& port)
    {
        const QString path = writeSettingsFile(dir_.filePath("tallyport.conf"),
                                               {{"CommName", port},
                                                {"ReaderType", 2},
                                                {"ReaderID", 7},
                                                {"SameCardTime", kHeldCardOnce},
                                                {"AddDown", "-1"},
                                                {"AddReturn", "-1"},
                                                {"SaveToFile", "-1"},
                                                {"ExportFile", dir_.filePath("cards.txt")}});
        return {"--keyboard", "portal", "--settings", path, "--verbose"};
    }

    PrivateBus bus_;
    waytest::SwaySession sway_;
    waytest::FootTerminal sink_;
    QTemporaryDir dir_;
};

void TestPortalProgram::initTestCase()
{
    QString error;
    QVERIFY2(bus_.start(&error), qPrintable(error));
    QVERIFY2(sway_.start("us", false, &error), qPrintable(error));
    QVERIFY2(sink_.start(sway_, "cardsink", &error), qPrintable(error));
    QVERIFY2(!waytest::SwaySession::missingPrograms({"wtype"}).size(), "not installed: wtype");
    // A headless sway has no keyboard of its own. Without one the seat has
    // none, and each short-lived wtype below makes the program take a new
    // keyboard, which races wtype's keys: they came under the wrong keymap,
    // or not at all. This virtual keyboard stays for the whole test.
    QVERIFY(sway_.spawn({"wtype", "-s", "3600000"}));
}

void TestPortalProgram::permissionRemembered()
{
    QVERIFY(bus_.startPortal(dir_.filePath("grant.log")));
    SimulatedReader reader({"--type", "C", "--id", "07"});
    const QStringList args = arguments(reader.path());
    {
        waytest::Program first(sway_, args, environment(), true);
        QVERIFY2(first.waitFor("Keystrokes through: desktop portal"), qPrintable(first.seen));
        QVERIFY2(first.waitFor("Read card ..."), qPrintable(first.seen));
        QTRY_VERIFY_WITH_TIMEOUT(bus_.calls().contains("Start"), 20000);
        QCOMPARE(bus_.calls().mid(0, 2),
                 (QStringList{"CreateSession", "SelectDevices types=1 persist_mode=2 restore_token="}));

        // Kept at once, not only when the settings are saved; written when the
        // portal's answer to Start arrived, so the keyboard is ready from here.
        QTRY_COMPARE_WITH_TIMEOUT(QSettings(args[3], QSettings::IniFormat).value("PortalRestoreToken").toString(),
                                  QString("token-1"), 20000);
        QVERIFY(sway_.focus("cardsink"));
        QCOMPARE(reader.command("card 1A2B3C4D"), QString("ok"));
        QVERIFY(first.waitFor("Card ID : 1A2B3C4D"));
        QStringList expected;
        for (int sym : std::initializer_list<int>{'1', 'A', '2', 'B', '3', 'C', '4', 'D', ',', 0xff0d})
            expected << QString("Keysym %1 1").arg(sym) << QString("Keysym %1 0").arg(sym);
        QTRY_COMPARE_WITH_TIMEOUT(keysymCalls(bus_.calls()), expected, 20000);

        // Exit by its accelerator, which saves the settings, the token with them.
        // A window that has only just been given the focus may not take the
        // accelerator yet: asked again until the program ends.
        // A slow build (the sanitizers) may take a while to show the window
        // again after typing: up to about 30 s in all.
        for (int attempt = 0; attempt < 10 && first.process.state() != QProcess::NotRunning; ++attempt) {
            if (!sway_.focus(waytest::kProgramAppId)) {
                QTest::qWait(1000);
                continue;
            }
            QProcess exit;
            sway_.prepare(exit, {"wtype", "-M", "alt", "x", "-m", "alt"});
            exit.start();
            QVERIFY(exit.waitForFinished(5000));
            first.process.waitForFinished(3000);
        }
        QVERIFY2(first.process.state() == QProcess::NotRunning, qPrintable(first.seen));
    }
    QCOMPARE(QSettings(args[3], QSettings::IniFormat).value("PortalRestoreToken").toString(), QString("token-1"));

    // The next start hands the token back: the desktop need not ask again.
    waytest::Program second(sway_, args, environment(), true);
    QTRY_VERIFY_WITH_TIMEOUT(bus_.calls().contains("SelectDevices types=1 persist_mode=2 restore_token=token-1"),
                             20000);
}

// A portal that takes keys and never answers: the card is told as not
// typed, the press it got is released, and SIGTERM still ends the program
// at once.
void TestPortalProgram::stalledPortal()
{
    QVERIFY(bus_.startPortal(dir_.filePath("stall.log"), {"stall"}));
    SimulatedReader reader({"--type", "C", "--id", "07"});
    const QStringList args = arguments(reader.path());
    waytest::Program program(sway_, args, environment(), true);
    QVERIFY2(program.waitFor("Read card ..."), qPrintable(program.seen));
    // Ready once the new token is kept.
    QTRY_COMPARE_WITH_TIMEOUT(QSettings(args[3], QSettings::IniFormat).value("PortalRestoreToken").toString(),
                              QString("token-1"), 20000);
    QVERIFY(sway_.focus("cardsink"));
    QCOMPARE(reader.command("card 5A5A0001"), QString("ok"));
    QVERIFY2(program.waitFor("Card 5A5A0001 was not typed in full."), qPrintable(program.seen));
    QCOMPARE(keysymCalls(bus_.calls()), (QStringList{"Keysym 53 1 unanswered", "Keysym 53 0 unanswered"}));
    QCOMPARE(reader.command("card 5A5A0002"), QString("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(keysymCalls(bus_.calls()).size(), 3, 10000);  // its first press is out
    QElapsedTimer clock;
    clock.start();
    program.process.terminate();
    QVERIFY(program.process.waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString("SIGTERM took %1 ms").arg(clock.elapsed())));
    QCOMPARE(keysymCalls(bus_.calls()).mid(2), (QStringList{"Keysym 53 1 unanswered", "Keysym 53 0 unanswered"}));
}

void TestPortalProgram::refusedOrMissing()
{
    QVERIFY(bus_.startPortal(dir_.filePath("refuse.log"), {"refuse"}));
    QFile::remove(dir_.filePath("cards.txt"));
    SimulatedReader reader({"--type", "C", "--id", "07"});
    const QString refused = "The desktop refused keystrokes; cards are not typed.";
    {
        waytest::Program program(sway_, arguments(reader.path()), environment(), true);
        QVERIFY2(program.waitFor(refused), qPrintable(program.seen));
        QVERIFY(sway_.focus("cardsink"));
        QCOMPARE(reader.command("card 00C0FFEE"), QString("ok"));
        QVERIFY(program.waitFor("Card ID : 00C0FFEE"));
        QTRY_COMPARE(fileContents(dir_.filePath("cards.txt")), QByteArray("00C0FFEE\n"));
        QCOMPARE(program.seen.count(refused), 1);
        QVERIFY(keysymCalls(bus_.calls()).isEmpty());
    }

    bus_.stopPortal();
    waytest::Program program(sway_, arguments(reader.path()), environment(), true);
    QVERIFY2(program.waitFor("No desktop portal for keystrokes; cards are not typed."), qPrintable(program.seen));
}

QTEST_GUILESS_MAIN(TestPortalProgram)
#include "tst_portal_program.moc"
