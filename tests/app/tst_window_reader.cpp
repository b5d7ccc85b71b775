// The window with simulated readers: auto-detection from the button, the
// polling that follows it, and the settings that survive a restart.
#include "app/MainWindow.h"
#include "app/tray/TrayIcon.h"
#include "output/NoKeyboard.h"
#include "reading/ReaderWorker.h"
#include "settings/Autostart.h"
#include "settings/SettingsStore.h"
#include "support/RecordingKeyboard.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"
#include "support/WindowKit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

std::unique_ptr<TfrmMain> window(const QString& settings, const QStringList& ports,
                                 std::unique_ptr<KeyboardOutput> keyboard = std::make_unique<NoKeyboard>())
{
    AppOptions options;
    options.settingsFile = settings;
    options.extraPorts = ports;
    options.systemPorts = false;
    auto frm = std::make_unique<TfrmMain>(options, std::move(keyboard));
    // Shown as at start, but without the start-up timer: the tests drive the ticks.
    frm->show();
    control<QTimer>(*frm, "tmrStart")->stop();
    return frm;
}

// A recording keyboard whose window 42 has the user's attention.
std::unique_ptr<RecordingKeyboard> keyboardWithTarget(RecordingKeyboard*& typed)
{
    auto keyboard = std::make_unique<RecordingKeyboard>();
    typed = keyboard.get();
    typed->addWindow(42);
    typed->setForegroundWindow(42);
    return keyboard;
}

}  // namespace

class TestWindowReader : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int counter = 0;
    QString freshSettings() { return dir.filePath(QString("w%1.conf").arg(counter++)); }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()); }

    void detectionFindsTypeBOnTheSecondPort()
    {
        SimulatedReader silent({"--type", "A"});
        silent.command("silent on");
        SimulatedReader b({"--type", "B", "--id", "01", "--serial", "B0B0B0B0"});
        const QString settings = freshSettings();
        auto frm = window(settings, {silent.path(), b.path()});
        control<QPlainTextEdit>(*frm, "moInfo")->clear();
        control<QPushButton>(*frm, "btnDetect")->click();
        // The walk runs on the reader's thread; the window waits disabled,
        // with the wait cursor, and shows each probe line as it comes.
        QVERIFY(!frm->isEnabled());
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        QTRY_VERIFY(logLines(*frm).contains("Detect reader ...  " + silent.path()));
        QVERIFY(!frm->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(frm->isEnabled(), 30000);
        QVERIFY(!QApplication::overrideCursor());

        QCOMPARE(logLines(*frm),
                 (QStringList{"Detect reader ...  " + silent.path(), "Detect reader ...  " + b.path(),
                              "Detect reader ok.  S/N:B0B0B0B0"}));
        QCOMPARE(control<QComboBox>(*frm, "cmbPort")->currentText(), b.path());
        QCOMPARE(control<QComboBox>(*frm, "cmbBaudrate")->currentText(), QString("115200,n,8,1"));
        QCOMPARE(control<QComboBox>(*frm, "cmbReaderType")->currentIndex(), 1);
        QCOMPARE(control<QLabel>(*frm, "pnReaderID")->text(), QString("01"));
        const Settings found = savedSettings(*frm, settings);
        QCOMPARE(found.CommName, b.path());
        QCOMPARE(found.CommBaudRate, QString("115200,n,8,1"));
        QCOMPARE(found.ReaderID, 1);

        // The first tick connects with what was found and reads cards.
        control<QPlainTextEdit>(*frm, "moInfo")->clear();
        startPolling(*frm);
        QTRY_COMPARE(logLines(*frm).join("|"),
                     QString("Connecting reader ...|Connect reader ok.  S/N:B0B0B0B0|Read card ..."));
        QVERIFY(pollingFlags(*frm).connected);
        // While connected the tray icon blinks with the ticks.
        QTRY_COMPARE(control<TTrayIcon>(*frm, "triMain")->iconIndex(), 1);
        QTRY_COMPARE(control<TTrayIcon>(*frm, "triMain")->iconIndex(), 0);
        b.command("card 1A2B3C4D");
        QTRY_COMPARE(logLines(*frm).last(), QString("Card ID : 1A2B3C4D"));
    }

    void noReaderLeavesTheSettingsAsTheyWere()
    {
        SimulatedReader silent({"--type", "A"});
        silent.command("silent on");
        const QString settings = freshSettings();
        Settings stored;
        stored.CommName = silent.path();
        stored.CommBaudRate = "9600,n,8,1";
        stored.ExportFile = dir.filePath("cards.txt");
        QVERIFY(saveSettings(settings, stored));
        auto frm = window(settings, {"/nonexistent/one", silent.path()});
        const Settings before = savedSettings(*frm, settings);
        QSignalSpy sent(frm.get(), &TfrmMain::configChanged);
        control<QPlainTextEdit>(*frm, "moInfo")->clear();
        control<QPushButton>(*frm, "btnDetect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(frm->isEnabled(), 30000);
        QCOMPARE(logLines(*frm),
                 (QStringList{"Detect reader ...  /nonexistent/one", "Detect reader ...  " + silent.path()}));
        const Settings after = savedSettings(*frm, settings);
        QCOMPARE(after.CommName, silent.path());
        QCOMPARE(after.CommBaudRate, QString("9600,n,8,1"));
        // The worker keeps the link it had: what it was sent is what it had.
        for (const QList<QVariant>& config : sent)
            QVERIFY(config.first().value<Settings>().sameLink(before));
    }

    void pollingFollowsThePauseBoxAfterDetection()
    {
        SimulatedReader reader({"--type", "D", "--id", "07"});
        auto frm = window(freshSettings(), {reader.path()});
        control<QCheckBox>(*frm, "chkPause")->setChecked(true);
        control<QPushButton>(*frm, "btnDetect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(frm->isEnabled(), 30000);
        QCOMPARE(control<QComboBox>(*frm, "cmbReaderType")->currentIndex(), 3);
        QCOMPARE(control<QComboBox>(*frm, "cmbBaudrate")->currentText(), QString("19200,e,8,1"));
        QVERIFY(pollingFlags(*frm).paused);

        control<QCheckBox>(*frm, "chkPause")->setChecked(false);
        control<QPushButton>(*frm, "btnDetect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(frm->isEnabled(), 30000);
        QVERIFY(!pollingFlags(*frm).paused);
        // The worker polls again: it connects to the reader it found.
        startPolling(*frm);
        QTRY_VERIFY(logLines(*frm).contains("Connect reader ok.  S/N:12345678"));
    }

    void settingsSurviveARestart()
    {
        const QString settings = freshSettings();
        {
            auto first = window(settings, {"/dev/tallyport-a", "/dev/tallyport-b"});
            const TfrmMain& frm = *first;
            choose(frm, "cmbPort", 1);
            choose(frm, "cmbBaudrate", 10);
            control<QComboBox>(frm, "cmbReaderType")->setCurrentIndex(5);
            control<QScrollBar>(frm, "sbReaderID")->setValue(42);
            control<QScrollBar>(frm, "sbSameCard")->setValue(7);
            control<QCheckBox>(frm, "chkAddDown")->setChecked(true);
            control<QCheckBox>(frm, "chkAddEnter")->setChecked(false);
            control<QCheckBox>(frm, "chkReverse")->setChecked(true);
            control<QRadioButton>(frm, "rbF8D")->click();
            choose(frm, "cmbLanguage", 1);
            control<QCheckBox>(frm, "chkSaveToFile")->setChecked(true);
            control<QCheckBox>(frm, "chkTimeField")->setChecked(true);
            control<QPushButton>(frm, "btnExit")->click();
        }
        auto second = window(settings, {"/dev/tallyport-a", "/dev/tallyport-b"});
        QCOMPARE(control<QComboBox>(*second, "cmbPort")->currentText(), QString("/dev/tallyport-b"));
        QCOMPARE(control<QComboBox>(*second, "cmbBaudrate")->currentText(), QString("115200,n,8,1"));
        QCOMPARE(control<QComboBox>(*second, "cmbReaderType")->currentIndex(), 5);
        QCOMPARE(control<QLabel>(*second, "pnReaderID")->text(), QString("42"));
        QCOMPARE(control<QLabel>(*second, "pnSameCard")->text(), QString("7"));
        QVERIFY(control<QCheckBox>(*second, "chkAddDown")->isChecked());
        QVERIFY(!control<QCheckBox>(*second, "chkAddEnter")->isChecked());
        QVERIFY(control<QCheckBox>(*second, "chkReverse")->isChecked());
        QVERIFY(control<QRadioButton>(*second, "rbF8D")->isChecked());
        const Settings loaded = savedSettings(*second, settings);
        QCOMPARE(loaded.CommName, QString("/dev/tallyport-b"));
        QCOMPARE(loaded.SendFormat, 3);
        QCOMPARE(loaded.Language, 1);
        QVERIFY(control<QCheckBox>(*second, "chkSaveToFile")->isChecked());
        QVERIFY(control<QCheckBox>(*second, "chkTimeField")->isChecked());
        QCOMPARE(control<QTabWidget>(*second, "pcMain")->currentWidget(), control<QWidget>(*second, "tsReader"));
        QVERIFY(!pollingFlags(*second).paused);
    }

    // A card is typed into the window the user last worked in, and logged at
    // the full card-log path, however long, from the settings file and from
    // the chooser; a save keeps the path whole.
    void aCardIsTypedAndLoggedAtTheFullPath()
    {
        SimulatedReader reader({"--type", "A", "--id", "07"});
        const QString longFolder = dir.filePath(QString("log-%1/%2").arg(QString(90, 'a'), QString(90, 'b')));
        QVERIFY(QDir().mkpath(longFolder));
        const QString stored = longFolder + "/stored cards.txt";
        const QString chosen = longFolder + "/chosen cards.txt";
        QVERIFY(stored.size() > 200);
        const QString settings = freshSettings();
        Settings values;
        values.CommName = reader.path();
        values.ReaderID = 7;
        values.SameCardTime = kHeldCardOnce;  // polling runs on
        values.AddDown = true;
        values.SaveToFile = true;
        values.ExportFile = stored;
        QVERIFY(saveSettings(settings, values));

        AppOptions options;
        options.settingsFile = settings;
        options.systemPorts = false;
        {
            auto keyboard = std::make_unique<RecordingKeyboard>();
            RecordingKeyboard* typed = keyboard.get();
            typed->addWindow(42);
            typed->setForegroundWindow(42);
            TfrmMain frm(options, std::move(keyboard));
            frm.show();
            control<QTimer>(frm, "tmrStart")->stop();
            startPolling(frm);
            QTRY_VERIFY(pollingFlags(frm).connected);
            QCOMPARE(reader.command("card 1A2B3C4D"), QString("ok"));
            QTRY_COMPARE(fileContents(stored), QByteArray("1A2B3C4D\n"));
            // The reader's thread writes the card log; the window types the
            // card when its own queue gets there, which may be later.
            QTRY_COMPARE(typed->records(), (std::vector<RecordingKeyboard::Record>{{42, "1A2B3C4D", true, true}}));

            // The chooser picks an existing file, without a question: cards
            // are only appended to it.
            QVERIFY(writeFile(chosen, "earlier\n"));
            QString asked;
            QTimer::singleShot(0, &frm, [&] {
                auto* chooser = frm.findChild<QFileDialog*>("dlgSaveFile");
                QCOMPARE(chooser->nameFilters(), QStringList{"txt files(*.txt)"});
                chooser->selectFile(chosen);
                QMetaObject::invokeMethod(chooser, "accept");
                QTimer::singleShot(200, &frm, [&] {
                    if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                        asked = question->text();
                        question->accept();
                    }
                });
            });
            control<QToolButton>(frm, "btnExportFile")->click();
            QTest::qWait(300);
            QCOMPARE(asked, QString());
            QCOMPARE(control<QLineEdit>(frm, "edExportFile")->text(), chosen);
            control<QPushButton>(frm, "btnExit")->click();
            QTRY_VERIFY(!frm.isVisible());
        }
        QCOMPARE(loadSettings(settings).values.ExportFile, chosen);
        // The next start logs at the chosen path.
        TfrmMain next(options, std::make_unique<NoKeyboard>());
        next.show();
        control<QTimer>(next, "tmrStart")->stop();
        startPolling(next);
        QTRY_VERIFY(pollingFlags(next).connected);
        QCOMPARE(reader.command("card 00C0FFEE"), QString("ok"));
        QTRY_COMPARE(fileContents(chosen), QByteArray("earlier\n00C0FFEE\n"));
    }

    // An output that goes away, and comes back, is told once each way; a
    // card that cannot be typed is told with the reason.
    void aLostKeyboardIsSaid()
    {
        SimulatedReader reader({"--type", "A", "--id", "01"});
        const QString settings = freshSettings();
        Settings values = defaultSettings();
        values.CommName = reader.path();
        values.SameCardTime = kHeldCardOnce;
        QVERIFY(saveSettings(settings, values));
        RecordingKeyboard* typed = nullptr;
        auto owned = window(settings, {}, keyboardWithTarget(typed));
        TfrmMain& frm = *owned;
        startPolling(frm);
        QTRY_VERIFY(pollingFlags(frm).connected);
        const QString lost = "Cards are no longer typed: the connection to the desktop was lost.";
        const auto present = [&](const char* card) {
            QCOMPARE(reader.command(QString("card ") + card), QString("ok"));
            QTRY_VERIFY(logLines(frm).contains(QString("Card ID : ") + card));
            QCOMPARE(reader.command("remove"), QString("ok"));
        };
        present("00000001");
        typed->setAvailable(false);
        present("00000002");
        present("00000003");
        QTRY_COMPARE(logLines(frm).count(lost), 1);
        typed->setAvailable(true);
        present("00000004");
        QTRY_COMPARE(logLines(frm).count("Cards are typed again."), 1);
        QCOMPARE(typed->records().size(), std::size_t(2));
        QCOMPARE(logLines(frm).count(lost), 1);
        // A card for a window that has closed is not typed, and the log says why.
        typed->closeWindow(42);
        present("00000005");
        QTRY_COMPARE(logLines(frm).last(), QString("Card 00000005 not typed: the window it was for has been closed."));
        // ... and one for a program run as administrator, with what to do.
        typed->addWindow(42);
        typed->setRefusing(42);
        present("00000006");
        QTRY_VERIFY(logLines(frm).last().startsWith("Card 00000006 not typed: its window belongs to a program run as "
                                                    "administrator"));
        QVERIFY(logLines(frm).last().endsWith("Start Tallyport as administrator too."));
        QCOMPARE(typed->records().size(), std::size_t(2));
    }

    void storedValuesOutOfRange()
    {
        const QString settings = freshSettings();
        QVERIFY(
            writeFile(settings, "[General]\nReaderID=150\nSameCardTime=-5\nSendFormat=9\nReaderType=8\nLanguage=7\n"));
        auto frm = window(settings, {});
        QCOMPARE(control<QLabel>(*frm, "pnReaderID")->text(), QString("99"));
        QCOMPARE(control<QLabel>(*frm, "pnSameCard")->text(), QString("0"));
        QVERIFY(control<QRadioButton>(*frm, "rbF8H")->isChecked());
        QCOMPARE(control<QComboBox>(*frm, "cmbReaderType")->currentIndex(), 0);
        const Settings clamped = savedSettings(*frm, settings);
        QCOMPARE(clamped.SendFormat, 0);
        QCOMPARE(clamped.Language, 0);
    }

    void aCorruptFileIsAFirstRun()
    {
        const QString settings = freshSettings();
        // Broken lines, and none of our values in them.
        static const char kJunk[] = "[General\nReaderID\x01\xff@Variant(\x00\x00\x00\x7f\xff\xff\xff\xff)\n";
        const QByteArray corrupt(kJunk, sizeof kJunk - 1);
        QVERIFY(writeFile(settings, corrupt));
        auto frm = window(settings, {});
        QCOMPARE(control<QTabWidget>(*frm, "pcMain")->currentWidget(), control<QWidget>(*frm, "tsParameter"));
        QVERIFY(pollingFlags(*frm).paused);
        QCOMPARE(control<QLabel>(*frm, "pnReaderID")->text(), QString("01"));
        // What did not load as settings is not replaced by them; the log says so.
        frm->SaveSettings();
        QCOMPARE(logLines(*frm).last(), "Settings not saved, the file is not a settings file : " + settings);
        QCOMPARE(fileContents(settings), corrupt);
    }

    void aFailedStartAtLoginIsSaid()
    {
        auto frm = window(freshSettings(), {});
        // The autostart folder is a file.
        const QString folder = QFileInfo(autostartEntryPath()).absolutePath();
        QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
        QVERIFY(writeFile(folder, {}));
        control<QCheckBox>(*frm, "chkAutoRun")->click();
        frm->SaveSettings();
        QVERIFY(QFile::remove(folder));
        QCOMPARE(logLines(*frm).last(), "Start at login not changed, cannot write " + autostartEntryPath());
    }

    void aWrongTypeStopsTheReading()
    {
        const QString settings = freshSettings();
        QVERIFY(writeFile(settings, "[General]\nReaderType=2\nReaderID=abc\nSameCardTime=9\n"));
        auto frm = window(settings, {});
        QCOMPARE(control<QComboBox>(*frm, "cmbReaderType")->currentIndex(), 2);  // read before the fault
        QCOMPARE(control<QLabel>(*frm, "pnReaderID")->text(), QString("01"));    // the rest keep their defaults
        QCOMPARE(control<QLabel>(*frm, "pnSameCard")->text(), QString("0"));
        QCOMPARE(control<QTabWidget>(*frm, "pcMain")->currentWidget(), control<QWidget>(*frm, "tsParameter"));
        QVERIFY(!pollingFlags(*frm).paused);
        QVERIFY(!control<QLineEdit>(*frm, "edExportFile")->text().isEmpty());
    }
};

QTEST_MAIN(TestWindowReader)
#include "tst_window_reader.moc"
