// The real program on a headless sway, as a native Wayland client: a card
// from the simulated reader arrives once in the focused window; with our own
// window focused, the window first gives up the focus (to the tray, where
// there is one) and the card still arrives; where it cannot, nothing is typed
// and the info log says so.
#include "support/CardSettings.h"
#include "support/SimulatedReader.h"
#include "support/SwaySession.h"
#include "support/WaylandProgram.h"

#include <QtTest>

#include <sys/stat.h>

namespace {

QString settingsFile(const waytest::SwaySession& sway, const QString& port)
{
    return writeCardSettings(sway.runtimeDir() + "/tallyport.conf", port);
}

}  // namespace

class TestWaylandProgram : public QObject {
    Q_OBJECT

private slots:
    void cardsGoToTheFocusedWindow_data();
    void cardsGoToTheFocusedWindow();
};

void TestWaylandProgram::cardsGoToTheFocusedWindow_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void TestWaylandProgram::cardsGoToTheFocusedWindow()
{
    QFETCH(bool, tray);
    waytest::SwaySession sway;
    QString error;
    QVERIFY2(sway.start("fr", false, &error, tray), qPrintable(error));
    waytest::FootTerminal sink;
    QVERIFY2(sink.start(sway, "cardsink", &error), qPrintable(error));

    SimulatedReader reader({"--type", "C", "--id", "07"});
    waytest::Program program(sway, {"--settings", settingsFile(sway, reader.path()), "--verbose"});
    QVERIFY2(program.waitFor("Keystrokes through: Wayland virtual keyboard"), qPrintable(program.seen));
    QVERIFY2(program.waitFor("Read card ..."), qPrintable(program.seen));

    // The user works in the terminal: the card arrives there, once.
    QVERIFY(sway.focus("cardsink"));
    QCOMPARE(reader.command("card 1A2B3C4D"), QString("ok"));
    QCOMPARE(sink.received(10, 5000), QByteArray("1A2B3C4D,\r"));
    QVERIFY(program.waitFor("Card ID : 1A2B3C4D"));
    QCOMPARE(reader.command("remove"), QString("ok"));
    QTest::qWait(300);
    QCOMPARE(sink.received(), QByteArray("1A2B3C4D,\r"));

    // Our own window holds the focus when the next card comes. In the tray
    // it first has to come back: a second start brings it.
    sink.clear();
    if (tray) {
        QProcess second;
        sway.prepare(second,
                     {qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport", "--settings",
                      sway.runtimeDir() + "/tallyport.conf"},
                     QProcessEnvironment());
        second.start();
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(sway.waitFocused(waytest::kProgramAppId, 5000));
    }
    QVERIFY(sway.focus(waytest::kProgramAppId));
    QCOMPARE(reader.command("card 00C0FFEE"), QString("ok"));
    QVERIFY(program.waitFor("Card ID : 00C0FFEE"));
    if (tray) {
        // Hidden in the tray: the focus goes back to the terminal.
        QCOMPARE(sink.received(10, 5000), QByteArray("00C0FFEE,\r"));
    } else {
        // sway has no minimised windows: the focus stays, nothing is typed.
        QVERIFY2(program.waitFor("Our window kept the keyboard focus; card not typed."), qPrintable(program.seen));
        QCOMPARE(sink.received(), QByteArray());
    }
}

QTEST_GUILESS_MAIN(TestWaylandProgram)
#include "tst_wayland_program.moc"
