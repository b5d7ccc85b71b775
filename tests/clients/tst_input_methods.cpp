// The real program typing cards from the simulated reader while a Chinese
// input method is switched on, on X11 (Xvfb and openbox): IBus and fcitx5,
// each with Pinyin and with Zhuyin (Chewing), into a GTK entry, a Qt line
// edit and xterm, cards in 8H and 10D with Enter and in 8H with a comma and
// Enter. Every card must arrive exactly as the program logged it, and the
// input method must be just as it was before the card: the same engine, on.
// Then with the input method off, where nothing may change either, and with
// the user half-way through a word when a card comes.
//
// Pinyin learns from what it is given, so a card can come out right once by
// luck: every card here is new to it.
#include "clients/CardReports.h"
#include "support/CardSettings.h"
#include "support/InputMethodSession.h"
#include "support/PrivateBus.h"
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/XSession.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

struct CardFormat {
    const char* name;
    int sendFormat;  // 0 8H, 2 10D
    bool comma;
};
const CardFormat kFormats[] = {{"8H+Enter", 0, false}, {"10D+Enter", 2, false}, {"8H+comma+Enter", 0, true}};
constexpr int kCardsPerCase = 3;

struct Target {
    const char* name;
    kbdtest::Window window;
    QString log;  // the entry's reports; empty for the terminal
};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

}  // namespace

class TestInputMethods : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ibus() { cardsPastTheInputMethod(InputMethodSession::IBus); }
    void fcitx5() { cardsPastTheInputMethod(InputMethodSession::Fcitx5); }
    void cleanupTestCase() { qInfo("%s", qPrintable(summary_.join("\n"))); }

private:
    void cardsPastTheInputMethod(InputMethodSession::Kind kind);
    // Presents a new card, and checks what `target` received and that `im`
    // is as it was; the card's time from the program's log line to the
    // field goes into `ms`.
    void card(RunningProgram& program, const Target& target, InputMethodSession& im, const CardFormat& format,
              const QString& where, QList<double>& ms);
    QString nextCard();

    kbdtest::XSession session_;
    QTemporaryDir dir_;
    PrivateBus bus_;
    SimulatedReader* reader_ = nullptr;
    kbdtest::Terminal* terminal_ = nullptr;
    int cardSerial_ = 0;
    int cards_ = 0;
    QStringList faults_;
    QStringList summary_;
};

void TestInputMethods::initTestCase()
{
    const std::string missing = kbdtest::XSession::missingPrograms(
        {"Xvfb", "openbox", "xterm", "xdotool", "ibus-daemon", "ibus", "fcitx5", "fcitx5-remote", "dbus-send"});
    QVERIFY2(missing.empty(), ("not installed: " + missing + " (scripts/install installs them)").c_str());
    QVERIFY2(QFile::exists(qEnvironmentVariable("TALLYPORT_BUILD") + "/tests/qt_entry"), "qt_entry is not built");
    std::string error;
    QVERIFY2(session_.start(true, error), error.c_str());
    QString busError;
    QVERIFY2(bus_.start(&busError), qPrintable(busError));
}

QString TestInputMethods::nextCard()
{
    // Hex digits in an order no word follows: a running counter scrambled.
    const quint32 n = 0x9E3779B9u * ++cardSerial_ + 0x1A2B3C4Du;
    return QString("%1").arg(n, 8, 16, QChar('0')).toUpper();
}

void TestInputMethods::card(RunningProgram& program, const Target& target, InputMethodSession& im,
                            const CardFormat& format, const QString& where, QList<double>& ms)
{
    const QString before = im.state();
    const int logged = program.seen.count("Card ID : ");
    const int reportsBefore = target.log.isEmpty() ? 0 : apptest::reports(target.log).size();
    terminal_->clear();
    QCOMPARE(reader_->command("card " + nextCard()), QString("ok"));
    QVERIFY2(program.waitFor("Card ID : ", 10000, logged + 1), "the program read no card");
    QCOMPARE(reader_->command("remove"), QString("ok"));
    // "hh:mm:ss.zzz Card ID : 1234ABCD"
    const QTime stamp = QTime::fromString(program.seen.section("Card ID : ", logged, logged).section('\n', -1).left(12),
                                          "hh:mm:ss.zzz");
    const QString want = program.seen.section("Card ID : ", logged + 1, logged + 1).section('\n', 0, 0).trimmed()
        + (format.comma ? "," : "");
    QString got = "(no Enter)";
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        if (target.log.isEmpty()) {
            const QString text = QString::fromStdString(terminal_->received());
            if (text.endsWith('\r')) {
                got = text.chopped(1);
                break;
            }
        } else {
            const auto reports = apptest::reports(target.log);
            if (reports.size() > reportsBefore) {
                got = reports.last().value("value").toString();
                break;
            }
        }
        QThread::msleep(2);
    }
    ++cards_;
    if (got == want)
        ms << stamp.msecsTo(QTime::currentTime());
    else
        faults_ << QString("%1: %2 arrived as %3").arg(where, want, got);
    QString after = im.state();
    for (clock.start(); after != before && clock.elapsed() < 2000; after = im.state())
        QTest::qWait(20);
    if (after != before)
        faults_ << QString("%1: the input method was %2 before the card, %3 after").arg(where, before, after);
    if (got != want) {
        // Whatever the card left in the field goes before the next one.
        session_.run({"xdotool", "key", "Escape"});
        session_.run(target.log.isEmpty()
                         ? std::vector<std::string>{"xdotool", "key", "Return"}
                         : std::vector<std::string>{"xdotool", "key", "ctrl+a", "BackSpace", "Return"});
    }
}

void TestInputMethods::cardsPastTheInputMethod(InputMethodSession::Kind kind)
{
    InputMethodSession im;
    QString error;
    QVERIFY2(im.start(kind, QString::fromStdString(session_.display()), bus_.address(), &error), qPrintable(error));

    const QString gtkLog = dir_.filePath(im.name() + "-gtk");
    const QString qtLog = dir_.filePath(im.name() + "-qt");
    auto gtk = session_.spawn({"/usr/bin/python3",
                               qEnvironmentVariable("TALLYPORT_SOURCE").toStdString() + "/tests/clients/gtk_entry.py",
                               gtkLog.toStdString(), "gtkcards"});
    auto qt = session_.spawn({"env", "QT_QPA_PLATFORM=xcb",
                              qEnvironmentVariable("TALLYPORT_BUILD").toStdString() + "/tests/qt_entry",
                              qtLog.toStdString(), "qtcards"});
    kbdtest::Terminal terminal;
    terminal_ = &terminal;
    std::string termError;
    QVERIFY2(terminal.start(session_, "termcards", termError), termError.c_str());
    const kbdtest::Window gtkWindow = session_.findClient("gtkcards", 20000);
    const kbdtest::Window qtWindow = session_.findClient("qtcards", 20000);
    QVERIFY2(gtkWindow && qtWindow, "the GTK or the Qt entry did not appear");
    QTRY_VERIFY_WITH_TIMEOUT(QFile(gtkLog).size() > 0 && QFile(qtLog).size() > 0, 20000);
    const Target targets[] = {{"GTK", gtkWindow, gtkLog}, {"Qt", qtWindow, qtLog}, {"xterm", terminal.window(), {}}};

    SimulatedReader reader({"--type", "C", "--id", "07"});
    reader_ = &reader;
    cards_ = 0;
    faults_.clear();
    QList<double> onMs;
    QList<double> offMs;
    for (const CardFormat& format : kFormats) {
        QTemporaryDir home;
        const QString settings
            = writeCardSettings(home.filePath("tallyport.conf"), reader.path(),
                                {{"SendFormat", format.sendFormat}, {"AddDown", format.comma ? "-1" : "0"}});
        RunningProgram program(home, {"--settings", settings, "--verbose"}, QString::fromStdString(session_.display()),
                               {{"XDG_CONFIG_HOME", im.configHome()}});
        QVERIFY2(program.waitFor("Read card ...", 30000), qPrintable(program.seen));
        QTest::qWait(1000);  // its window shows, then minimises once the reader is found
        for (const Target& target : targets) {
            QVERIFY(session_.activate(target.window));
            for (const QString& engine : {im.pinyin(), im.zhuyin()}) {
                QVERIFY2(im.use(engine),
                         qPrintable(
                             QString("%1 did not take %2 in %3: %4").arg(im.name(), engine, target.name, im.state())));
                for (int i = 0; i < kCardsPerCase; ++i)
                    card(program, target, im, format,
                         QString("%1 %2 %3 %4").arg(im.name(), engine, target.name, format.name), onMs);
            }
            // Off (English mode), nothing is switched, and it stays off.
            QVERIFY2(im.useDirect(), qPrintable(im.name() + " did not go off: " + im.state()));
            card(program, target, im, format, QString("%1 off %2 %3").arg(im.name(), target.name, format.name), offMs);
        }
    }
    for (const QString& fault : faults_)
        qWarning("%s", qPrintable(fault));
    summary_ << QString("%1: %2 cards, %3 faults; from the log line to the field, median %4 ms with it on, %5 ms "
                        "with it off")
                    .arg(im.name())
                    .arg(cards_)
                    .arg(faults_.size())
                    .arg(median(onMs))
                    .arg(median(offMs));
    QVERIFY2(faults_.isEmpty(), qPrintable(QString("%1 faults").arg(faults_.size())));

    // The user is half-way through a word in the GTK entry when a card
    // comes: the card waits, and goes in alone once the word is cancelled.
    QTemporaryDir home;
    RunningProgram program(
        home, {"--settings", writeCardSettings(home.filePath("tallyport.conf"), reader.path()), "--verbose"},
        QString::fromStdString(session_.display()), {{"XDG_CONFIG_HOME", im.configHome()}});
    QVERIFY2(program.waitFor("Read card ...", 30000), qPrintable(program.seen));
    QTest::qWait(1000);
    QVERIFY(session_.activate(gtkWindow));
    QVERIFY(im.use(im.pinyin()));
    QCOMPARE(session_.run({"xdotool", "type", "--delay", "50", "nihao"}), 0);
    QTest::qWait(1000);  // the entry takes the word in
    const int reportsBefore = apptest::reports(gtkLog).size();
    QCOMPARE(reader.command("card " + nextCard()), QString("ok"));
    QVERIFY2(program.waitFor("Card ID : ", 10000), "the program read no card");
    QCOMPARE(reader.command("remove"), QString("ok"));
    QVERIFY2(program.waitFor(" waits: ", 5000), qPrintable(program.seen));
    QTest::qWait(500);
    QCOMPARE(apptest::reports(gtkLog).size(), reportsBefore);  // nothing typed into the word
    QCOMPARE(session_.run({"xdotool", "key", "Escape"}), 0);
    const auto reports = apptest::waitReports(gtkLog, reportsBefore + 1, 5000);
    QVERIFY2(reports.size() > reportsBefore, "the card was not typed once the word was cancelled");
    const QString logged = program.seen.section("Card ID : ", -1).section('\n', 0, 0).trimmed();
    QCOMPARE(reports.last().value("value").toString(), logged + ",");
}

QTEST_GUILESS_MAIN(TestInputMethods)
#include "tst_input_methods.moc"
