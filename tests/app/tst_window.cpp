// The main window under the offscreen platform: controls and their
// defaults, the info log, languages, first run, and the deferred requests.
#include "app/MainWindow.h"
#include "app/tray/TrayIcon.h"
#include "output/NoKeyboard.h"
#include "reading/ReaderWorker.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"
#include "support/WindowKit.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

struct Window {
    explicit Window(const QString& settingsFile)
    {
        AppOptions options;
        options.settingsFile = settingsFile;
        options.extraPorts = {"/nonexistent/tallyport-test-port"};
        frm = std::make_unique<TfrmMain>(options, std::make_unique<NoKeyboard>());
    }
    std::unique_ptr<TfrmMain> frm;
};

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString freshSettings() { return dir.filePath(QString("s%1.conf").arg(counter++)); }
    int counter = 0;

private slots:
    void initTestCase()
    {
        // Keep the autostart entry of the tests out of the user's desktop.
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    }

    void fixedWindowWithReadOnlyFields()
    {
        Window w(freshSettings());
        QCOMPARE(w.frm->minimumSize(), w.frm->maximumSize());
        QVERIFY(!(w.frm->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!control<QComboBox>(*w.frm, "cmbBaudrate")->isEditable());
        QVERIFY(control<QLineEdit>(*w.frm, "edExportFile")->isReadOnly());
        QVERIFY(control<QPlainTextEdit>(*w.frm, "moInfo")->isReadOnly());
        QVERIFY(!control<QAction>(*w.frm, "mnuRestore")->isEnabled());
        // The reader's timers are the worker's, idle until start-up.
        auto* polling = w.frm->worker()->findChild<QTimer*>("tmrPolling");
        QVERIFY(polling && w.frm->worker()->findChild<QTimer*>("tmrSameCard"));
        QCOMPARE(polling->interval(), 10);
        QCOMPARE(w.frm->worker()->findChild<QTimer*>("tmrSameCard")->interval(), 1000);
        QVERIFY(!polling->isActive());
        QCOMPARE(control<QComboBox>(*w.frm, "cmbLanguage")->itemText(2), QString("繁體中文(Chinese Traditional)"));
    }

    // Tab reaches the two scroll bars in the order of the page; the arrow
    // keys move them by one, Page Up and Page Down by their large step.
    void scrollBarsFromTheKeyboard()
    {
        Window w(freshSettings());
        w.frm->show();
        QVERIFY(QTest::qWaitForWindowActive(w.frm.get()));
        auto* readerId = control<QScrollBar>(*w.frm, "sbReaderID");
        auto* sameCard = control<QScrollBar>(*w.frm, "sbSameCard");
        control<QPushButton>(*w.frm, "btnDetect")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), readerId);
        QTest::keyClick(readerId, Qt::Key_Right);
        QTest::keyClick(readerId, Qt::Key_PageDown);
        QCOMPARE(control<QLabel>(*w.frm, "pnReaderID")->text(), QString("12"));
        QTest::keyClick(readerId, Qt::Key_PageUp);
        QTest::keyClick(readerId, Qt::Key_Left);
        QCOMPARE(control<QLabel>(*w.frm, "pnReaderID")->text(), QString("01"));

        QTest::keyClick(readerId, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control<QPushButton>(*w.frm, "btnDetect"));
        QTest::keyClick(control<QPushButton>(*w.frm, "btnDetect"), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), sameCard);
        QTest::keyClick(sameCard, Qt::Key_PageDown);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(control<QLabel>(*w.frm, "pnSameCard")->text(), QString("201"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(*w.frm, "rbF8H"));
    }

    // The start hands the reader to its worker and returns: with nothing
    // long after it, it waits for no window to be shown, and does not spin.
    void theStartNeitherWaitsNorSpins()
    {
        AppOptions options;
        options.settingsFile = freshSettings();
        options.systemPorts = false;
        TfrmMain frm(options, std::make_unique<NoKeyboard>());
        frm.setAttribute(Qt::WA_DontShowOnScreen);  // shown, never exposed
        frm.show();
        auto* start = control<QTimer>(frm, "tmrStart");
        start->stop();
        int wakeUps = 0;
        const auto counting = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                      [&wakeUps] { ++wakeUps; });
        QElapsedTimer clock;
        clock.start();
        start->start(0);
        while (start->isActive() && clock.elapsed() < 500)
            QCoreApplication::processEvents();
        disconnect(counting);
        QVERIFY(!start->isActive());  // its handler ran, and stopped it
        QVERIFY(clock.elapsed() < 500);
        QVERIFY2(wakeUps < 50, qPrintable(QString::number(wakeUps)));
    }

    void firstRunShowsTheParametersAndPauses()
    {
        Window w(freshSettings());
        QCOMPARE(control<QTabWidget>(*w.frm, "pcMain")->currentWidget(), control<QWidget>(*w.frm, "tsParameter"));
        QVERIFY(pollingFlags(*w.frm).paused);
        QCOMPARE(control<QLineEdit>(*w.frm, "edExportFile")->text(), QDir::homePath() + "/card.txt");
        // The extra port is offered after the enumerated ones.
        auto* ports = control<QComboBox>(*w.frm, "cmbPort");
        QCOMPARE(ports->itemText(ports->count() - 1), QString("/nonexistent/tallyport-test-port"));
    }

    void infoLogKeepsTwentySixLines()
    {
        Window w(freshSettings());
        for (int i = 1; i <= 27; ++i)
            w.frm->AddInfoLine(QString("line %1").arg(i));
        const QStringList lines = control<QPlainTextEdit>(*w.frm, "moInfo")->toPlainText().split('\n');
        QCOMPARE(lines.size(), 26);
        QCOMPARE(lines.first(), QString("line 2"));
        QCOMPARE(lines.last(), QString("line 27"));
        QCOMPARE(control<QStatusBar>(*w.frm, "sbMessage")->currentMessage(), QString("line 27"));

        // A long run keeps nothing of the lines that went: no undo history.
        for (int i = 0; i < 500; ++i)
            w.frm->AddInfoLine("more");
        QCOMPARE(control<QPlainTextEdit>(*w.frm, "moInfo")->document()->availableUndoSteps(), 0);

        QTest::mouseDClick(control<QPlainTextEdit>(*w.frm, "moInfo")->viewport(), Qt::LeftButton);
        QVERIFY(control<QPlainTextEdit>(*w.frm, "moInfo")->toPlainText().isEmpty());
        QCOMPARE(control<QStatusBar>(*w.frm, "sbMessage")->currentMessage(), QString("more"));
        w.frm->AddInfoLine("fresh");
        QCOMPARE(control<QPlainTextEdit>(*w.frm, "moInfo")->toPlainText(), QString("fresh"));
    }

    void languagesSwitchCaptionsAndFonts()
    {
        Window w(freshSettings());
        w.frm->show();
        QCOMPARE(control<QLabel>(*w.frm, "lblPort")->text(), QString("Port :"));
        QCOMPARE(control<QPushButton>(*w.frm, "btnExit")->text(), QString("E&xit"));
        QCOMPARE(w.frm->font().family(), QString("MS Sans Serif"));
        w.frm->AddInfoLine(LanguageTable(Text::Connecting, control<QComboBox>(*w.frm, "cmbLanguage")->currentIndex()));

        choose(*w.frm, "cmbLanguage", 2);
        QCOMPARE(control<QLabel>(*w.frm, "lblPort")->text(), QString("連接阜 :"));
        QCOMPARE(control<QPushButton>(*w.frm, "btnExit")->text(), QString("離開(&x)"));
        QCOMPARE(control<QAction>(*w.frm, "mnuRestore")->text(), QString("還原(&R)"));
        QCOMPARE(w.frm->windowTitle(), QString("Tallyport 0104"));
        QCOMPARE(w.frm->font().pointSize(), 12);
        QCOMPARE(w.frm->font().family(), QString("細明體"));
        w.frm->AddInfoLine(LanguageTable(Text::Connecting, control<QComboBox>(*w.frm, "cmbLanguage")->currentIndex()));

        choose(*w.frm, "cmbLanguage", 1);
        QCOMPARE(control<QTabWidget>(*w.frm, "pcMain")->tabText(1), QString("参数设定"));
        QCOMPARE(control<QPushButton>(*w.frm, "btnExit")->text(), QString("离开(&x)"));

        choose(*w.frm, "cmbLanguage", 0);
        QCOMPARE(control<QLabel>(*w.frm, "lblPort")->text(), QString("Port :"));
        QCOMPARE(w.frm->font().pointSize(), 10);
        // Lines already written keep their language.
        QCOMPARE(logLines(*w.frm), (QStringList{"Connecting reader ...", "連線讀卡機中 ..."}));
    }

    void readerIdAndSameCardControls()
    {
        Window w(freshSettings());
        // Every change sends the reader worker the whole record.
        QSignalSpy sent(w.frm.get(), &TfrmMain::configChanged);
        control<QScrollBar>(*w.frm, "sbReaderID")->setValue(7);
        QCOMPARE(control<QLabel>(*w.frm, "pnReaderID")->text(), QString("07"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.last().first().value<Settings>().ReaderID, 7);

        control<QScrollBar>(*w.frm, "sbSameCard")->setValue(5);
        QCOMPARE(control<QLabel>(*w.frm, "pnSameCard")->text(), QString("5"));
        control<QCheckBox>(*w.frm, "chkReverse")->setChecked(true);
        QCOMPARE(sent.size(), 3);
        const Settings last = sent.last().first().value<Settings>();
        QCOMPARE(last.SameCardTime, 5);
        QVERIFY(last.CardIDReverse);
        QCOMPARE(last.ReaderID, 7);
        QTest::mouseDClick(control<QLabel>(*w.frm, "pnSameCard"), Qt::LeftButton);
        QCOMPARE(control<QScrollBar>(*w.frm, "sbSameCard")->value(), 0);
        QCOMPARE(control<QLabel>(*w.frm, "pnSameCard")->text(), QString("0"));
    }

    void minimizedTwiceBeforeATickMinimisesOnce()
    {
        const QString settings = freshSettings();
        Window w(settings);
        w.frm->show();
        QVERIFY(pollingFlags(*w.frm).paused);  // a first run: ticks without reader traffic
        int minimizes = 0;
        connect(control<TTrayIcon>(*w.frm, "triMain"), &TTrayIcon::minimized, [&minimizes] { ++minimizes; });
        control<QPushButton>(*w.frm, "btnMin")->click();
        control<QPushButton>(*w.frm, "btnMin")->click();
        QVERIFY(QFile::exists(settings));  // Minimized saves
        QCOMPARE(minimizes, 0);            // not before a tick
        startPolling(*w.frm);
        QTRY_COMPARE(minimizes, 1);
        QTest::qWait(1100);  // two more ticks at the disconnected interval
        QCOMPARE(minimizes, 1);
        // Polling goes on after the minimise: a later Exit is carried out.
        control<QPushButton>(*w.frm, "btnExit")->click();
        QTRY_VERIFY(!w.frm->isVisible());
    }

    void withoutATrayTheWindowIsMinimisedNotHidden()
    {
        Window w(freshSettings());
        w.frm->show();
        QVERIFY(!TTrayIcon::trayAvailable());
        auto* tray = control<TTrayIcon>(*w.frm, "triMain");
        tray->Minimize();
        QVERIFY(w.frm->isVisible());
        QVERIFY(w.frm->isMinimized());
        QVERIFY(control<QAction>(*w.frm, "mnuRestore")->isEnabled());
        control<QAction>(*w.frm, "mnuRestore")->trigger();
        QVERIFY(!w.frm->isMinimized());
        QVERIFY(!control<QAction>(*w.frm, "mnuRestore")->isEnabled());
        // Exit from the tray menu brings the window back first.
        tray->Minimize();
        control<QAction>(*w.frm, "mnuExit")->trigger();
        QVERIFY(!w.frm->isMinimized());
        QVERIFY(pollingFlags(*w.frm).closeRequested);
    }

    // A minimise the desktop lost (the window in front while counted
    // minimised) is asked for again without a restore in between; the tray's
    // state and its menu agree with the window before and after.
    void aLostMinimiseIsAskedForAgainWithoutARestore()
    {
        Window w(freshSettings());
        w.frm->show();
        w.frm->setWindowState(Qt::WindowMinimized);
        QApplication::setActiveWindow(w.frm.get());
        QVERIFY(w.frm->isMinimized() && w.frm->isActiveWindow());
        auto* tray = control<TTrayIcon>(*w.frm, "triMain");
        QSignalSpy restored(tray, &TTrayIcon::restored);
        tray->Minimize();
        QCOMPARE(restored.count(), 0);
        QVERIFY(w.frm->isMinimized());
        QVERIFY(tray->isMinimized());
        QVERIFY(control<QAction>(*w.frm, "mnuRestore")->isEnabled());
        // Restored by the desktop: the tray follows.
        w.frm->showNormal();
        QCOMPARE(restored.count(), 1);
        QVERIFY(!tray->isMinimized());
        QVERIFY(!control<QAction>(*w.frm, "mnuRestore")->isEnabled());
    }

    void exitSavesAndClosesAtTheNextTick()
    {
        const QString settings = freshSettings();
        Window w(settings);
        w.frm->show();
        QVERIFY(pollingFlags(*w.frm).paused);
        choose(*w.frm, "cmbLanguage", 2);
        // A close request from the window manager is refused.
        QVERIFY(!w.frm->close());
        QVERIFY(w.frm->isVisible());
        control<QPushButton>(*w.frm, "btnExit")->click();
        QCOMPARE(loadSettings(settings).values.Language, 2);
        QVERIFY(w.frm->isVisible());
        startPolling(*w.frm);
        QTRY_VERIFY(!w.frm->isVisible());
        // Closing ended the reader's thread, and with it every tick.
        QVERIFY(w.frm->worker()->thread()->isFinished());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
