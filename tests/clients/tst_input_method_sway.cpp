// The real program on a headless sway typing cards into a GTK entry while
// fcitx5 serves the compositor as its input method (its Wayland frontend,
// which takes the virtual keyboard's keys too), in Pinyin and in Zhuyin:
// every card exact, fcitx5 as it was after each.
#include "clients/CardReports.h"
#include "support/CardSettings.h"
#include "support/SimulatedReader.h"
#include "support/SwaySession.h"
#include "support/WaylandProgram.h"

#include <QDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString kEntryApp = QStringLiteral("cardentry");

}  // namespace

class TestInputMethodSway : public QObject {
    Q_OBJECT

private slots:
    void cardsPastFcitx5();

private:
    // A program run as the session's user; its output.
    QString run(const QStringList& argv);
    QString remote(const QStringList& arguments) { return run(QStringList{"fcitx5-remote"} + arguments); }
    QString state() { return remote({"-n"}) + (remote({}) == "2" ? " on" : " off"); }

    waytest::SwaySession sway_;
    QProcessEnvironment chinese_;
};

QString TestInputMethodSway::run(const QStringList& argv)
{
    QProcess p;
    sway_.prepare(p, argv, chinese_);
    p.start();
    if (!p.waitForFinished(5000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestInputMethodSway::cardsPastFcitx5()
{
    const QString missing = waytest::SwaySession::missingPrograms({"fcitx5", "fcitx5-remote"});
    QVERIFY2(missing.isEmpty(), qPrintable("not installed: " + missing + " (scripts/install installs them)"));
    QString error;
    QVERIFY2(sway_.start("us", false, &error, true), qPrintable(error));
    // fcitx5 with Pinyin and Zhuyin, in the session's own configuration.
    const QString config = sway_.runtimeDir() + "/config/fcitx5";
    QDir().mkpath(config);
    QFile profile(config + "/profile");
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n\n"
                  "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n[Groups/0/Items/1]\nName=pinyin\nLayout=\n\n"
                  "[Groups/0/Items/2]\nName=chewing\nLayout=\n\n[GroupOrder]\n0=Default\n");
    profile.close();
    if (const passwd* nobody = getuid() == 0 ? getpwnam("nobody") : nullptr) {
        for (const QString& path : {config, profile.fileName()})
            QVERIFY(chown(path.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) == 0);
    }
    chinese_.insert("LANG", "zh_CN.UTF-8");
    sway_.spawn({"fcitx5", "--replace", "--keep"}, chinese_);
    QTRY_VERIFY_WITH_TIMEOUT(run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                  "org.freedesktop.DBus.NameHasOwner", "string:org.fcitx.Fcitx5"})
                                 .contains("true"),
                             20000);

    const QString log = sway_.runtimeDir() + "/reports";
    QProcessEnvironment gtk = chinese_;
    gtk.insert("GDK_BACKEND", "wayland");  // and text-input-v3 as its input method module
    sway_.spawn(
        {"/usr/bin/python3", qEnvironmentVariable("TALLYPORT_SOURCE") + "/tests/clients/gtk_entry.py", log, kEntryApp},
        gtk);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(log).size() > 0, 20000);

    SimulatedReader reader({"--type", "C", "--id", "07"});
    waytest::Program program(
        sway_, {"--settings", writeCardSettings(sway_.runtimeDir() + "/tallyport.conf", reader.path()), "--verbose"},
        chinese_);
    QVERIFY2(program.waitFor("Input method fcitx5", 30000), qPrintable(program.seen));
    QVERIFY2(program.waitFor("Read card ...", 30000), qPrintable(program.seen));
    QTest::qWait(1000);  // its window shows, then hides in the tray once the reader is found
    QVERIFY(sway_.focus(kEntryApp));

    QStringList faults;
    int cards = 0;
    int reports = 0;
    for (const QString& engine : {QStringLiteral("pinyin"), QStringLiteral("chewing")}) {
        QTRY_VERIFY_WITH_TIMEOUT((remote({"-s", engine}), remote({"-o"}), state() == engine + " on"), 5000);
        for (int i = 0; i < 5; ++i) {
            const QString number
                = QString("%1").arg(0x1A2B3C4Du + 0x9E3779B9u * (++cards), 8, 16, QChar('0')).toUpper();
            const QString before = state();
            QCOMPARE(reader.command("card " + number), QString("ok"));
            const auto got = apptest::waitReports(log, reports + 1, 5000);
            QCOMPARE(reader.command("remove"), QString("ok"));
            QString value = got.size() > reports ? got.last().value("value").toString() : "(no Enter)";
            reports = got.size();
            if (value != number + ",")
                faults << QString("%1: %2 arrived as %3").arg(engine, number, value);
            QString after = state();
            for (int wait = 0; after != before && wait < 100; ++wait, after = state())
                QTest::qWait(20);
            if (after != before)
                faults << QString("%1: fcitx5 was %2 before card %3, %4 after").arg(engine, before, number, after);
        }
    }
    qInfo("fcitx5 on sway: %d cards, %d faults", cards, int(faults.size()));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));
}

QTEST_GUILESS_MAIN(TestInputMethodSway)
#include "tst_input_method_sway.moc"
