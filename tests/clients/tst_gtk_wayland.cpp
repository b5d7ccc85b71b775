// The real program typing cards from the simulated reader into a GTK3 entry
// on a headless sway: the entry must activate on every Enter (GTK acts only
// on the Enter key itself), with the text and keys exact, whatever layout
// the compositor has (us with Caps Lock, fr, ru, changed while the program
// runs) and again after a fresh start.
#include "clients/CardReports.h"
#include "support/CardSettings.h"
#include "support/SimulatedReader.h"
#include "support/SwaySession.h"
#include "support/WaylandProgram.h"

#include <QtTest>

namespace {

const QString kEntryApp = QStringLiteral("cardentry");

}  // namespace

class TestGtkWayland : public QObject {
    Q_OBJECT

private slots:
    void cardsIntoAGtkEntry();
};

void TestGtkWayland::cardsIntoAGtkEntry()
{
    const QString python = "/usr/bin/python3";  // Debian's, which has the GTK bindings
    QVERIFY2(QFile::exists(python), "python3 is not installed (scripts/install installs it)");
    QProcess probe;
    probe.start(python, {"-c", "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk"});
    QVERIFY2(probe.waitForFinished(20000) && probe.exitCode() == 0,
             "python3-gi with GTK 3 is not installed (scripts/install installs python3-gi and gir1.2-gtk-3.0)");

    waytest::SwaySession sway;
    QString error;
    QVERIFY2(sway.start("us", true, &error), qPrintable(error));
    const QString log = sway.runtimeDir() + "/reports";
    QProcessEnvironment gtk;
    gtk.insert("GDK_BACKEND", "wayland");
    sway.spawn({python, qEnvironmentVariable("TALLYPORT_SOURCE") + "/tests/clients/gtk_entry.py", log, kEntryApp}, gtk);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(log).size() > 0, 20000);
    QVERIFY(sway.waitFocused(kEntryApp, 5000));

    SimulatedReader reader({"--type", "C", "--id", "07"});
    apptest::Tally tally;
    int reports = 0;
    int card = 0;
    waytest::Program* running = nullptr;
    auto typeCard = [&] {
        const QString number = apptest::kCards[card++ % apptest::kCards.size()];
        QCOMPARE(reader.command("card " + number), QString("ok"));
        const auto got = apptest::waitReports(log, ++reports);
        QCOMPARE(reader.command("remove"), QString("ok"));
        if (got.size() != reports) {
            running->seen += QString::fromUtf8(running->process.readAllStandardError());
            QFAIL(qPrintable(QString("card %1: %2 activations of the entry where %3 were due\n%4")
                                 .arg(number)
                                 .arg(got.size())
                                 .arg(reports)
                                 .arg(running->seen)));
        }
        tally.add(got.last(), number);
        // Enter came from the Enter key (evdev 28).
        QCOMPARE(got.last().value("keys").toArray().last().toObject().value("code").toInt(), 36);
    };
    const QStringList changes[] = {{"fr", "ru"}, {}};
    for (const QStringList& layouts : changes) {
        waytest::Program program(
            sway, {"--settings", writeCardSettings(sway.runtimeDir() + "/tallyport.conf", reader.path()), "--verbose"});
        running = &program;
        QVERIFY2(program.waitFor("Keystrokes through: Wayland virtual keyboard", 30000), qPrintable(program.seen));
        QVERIFY2(program.waitFor("Read card ...", 30000), qPrintable(program.seen));
        // Its window takes the focus when it comes; the user goes back to the form.
        QVERIFY(sway.waitFocused(waytest::kProgramAppId, 30000));
        QVERIFY(sway.focus(kEntryApp));
        for (int i = 0; i < 4 && !QTest::currentTestFailed(); ++i)
            typeCard();
        for (const QString& layout : layouts) {
            QVERIFY(sway.setLayout(layout));
            for (int i = 0; i < 2 && !QTest::currentTestFailed(); ++i)
                typeCard();
        }
        QVERIFY(!QTest::currentTestFailed());
    }
    qInfo("GTK3 on sway: %s", qPrintable(tally.summary()));
    QVERIFY2(tally.faults.isEmpty(), qPrintable(tally.faults.join("\n")));
}

QTEST_GUILESS_MAIN(TestGtkWayland)
#include "tst_gtk_wayland.moc"
