// The main window under the offscreen platform: controls and their
// defaults, the info log, languages, first run, and the deferred requests.
#include "app/MainWindow.h"
#include "output/NoKeyboard.h"
#include "app/tray/TrayIcon.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"

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
    template <typename T>
    T* find(const char* name) const
    {
        T* widget = frm->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no control named %s", name);
        return widget;
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
        QVERIFY(!w.find<QComboBox>("cmbBaudrate")->isEditable());
        QVERIFY(w.find<QLineEdit>("edExportFile")->isReadOnly());
        QVERIFY(w.find<QPlainTextEdit>("moInfo")->isReadOnly());
        QVERIFY(!w.frm->mnuRestore->isEnabled());
        QVERIFY(!w.frm->tmrPolling->isActive());
    }

    // Tab reaches the two scroll bars in the order of the page; the arrow
    // keys move them by one, Page Up and Page Down by their large step.
    void scrollBarsFromTheKeyboard()
    {
        Window w(freshSettings());
        w.frm->show();
        QVERIFY(QTest::qWaitForWindowActive(w.frm.get()));
        auto* readerId = w.find<QScrollBar>("sbReaderID");
        auto* sameCard = w.find<QScrollBar>("sbSameCard");
        w.frm->btnDetect->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), readerId);
        QTest::keyClick(readerId, Qt::Key_Right);
        QTest::keyClick(readerId, Qt::Key_PageDown);
        QCOMPARE(w.frm->pnReaderID->text(), QString("12"));
        QTest::keyClick(readerId, Qt::Key_PageUp);
        QTest::keyClick(readerId, Qt::Key_Left);
        QCOMPARE(w.frm->pnReaderID->text(), QString("01"));

        QTest::keyClick(readerId, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.frm->btnDetect);
        QTest::keyClick(w.frm->btnDetect, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), sameCard);
        QTest::keyClick(sameCard, Qt::Key_PageDown);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(w.frm->pnSameCard->text(), QString("201"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.frm->rbFormat[0]);
    }

    // The start waits up to a second for the window to be shown, sleeping.
    void theStartWaitsForTheWindowWithoutSpinning()
    {
        AppOptions options;
        options.settingsFile = freshSettings();
        options.systemPorts = false;
        TfrmMain frm(options, std::make_unique<NoKeyboard>());
        frm.setAttribute(Qt::WA_DontShowOnScreen);  // shown, never exposed
        frm.show();
        frm.tmrStart->stop();
        int wakeUps = 0;
        const auto counting = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                      [&wakeUps] { ++wakeUps; });
        QElapsedTimer clock;
        clock.start();
        frm.tmrStartTimer();
        disconnect(counting);
        QVERIFY(clock.elapsed() >= 900);
        QVERIFY2(wakeUps < 50, qPrintable(QString::number(wakeUps)));
    }

    void firstRunShowsTheParametersAndPauses()
    {
        Window w(freshSettings());
        QCOMPARE(w.frm->pcMain->currentWidget(), w.frm->tsParameter);
        QVERIFY(w.frm->cycle().PollingPaused);
        QCOMPARE(w.frm->edExportFile->text(), QDir::homePath() + "/card.txt");
        // The extra port is offered after the enumerated ones.
        auto* ports = w.find<QComboBox>("cmbPort");
        QCOMPARE(ports->itemText(ports->count() - 1), QString("/nonexistent/tallyport-test-port"));
    }

    void infoLogKeepsTwentySixLines()
    {
        Window w(freshSettings());
        for (int i = 1; i <= 27; ++i)
            w.frm->AddInfoLine(QString("line %1").arg(i));
        const QStringList lines = w.frm->moInfo->toPlainText().split('\n');
        QCOMPARE(lines.size(), 26);
        QCOMPARE(lines.first(), QString("line 2"));
        QCOMPARE(lines.last(), QString("line 27"));
        QCOMPARE(w.frm->sbMessage->currentMessage(), QString("line 27"));

        // A long run keeps nothing of the lines that went: no undo history.
        for (int i = 0; i < 500; ++i)
            w.frm->AddInfoLine("more");
        QCOMPARE(w.frm->moInfo->document()->availableUndoSteps(), 0);

        w.frm->moInfoDblClick();
        QVERIFY(w.frm->moInfo->toPlainText().isEmpty());
        QCOMPARE(w.frm->sbMessage->currentMessage(), QString("more"));
        w.frm->AddInfoLine("fresh");
        QCOMPARE(w.frm->moInfo->toPlainText(), QString("fresh"));
    }

    void languagesSwitchCaptionsAndFonts()
    {
        Window w(freshSettings());
        w.frm->show();
        QCOMPARE(w.frm->lblPort->text(), QString("Port :"));
        QCOMPARE(w.frm->btnExit->text(), QString("E&xit"));
        QCOMPARE(w.frm->font().family(), QString("MS Sans Serif"));
        w.frm->AddInfoLine(LanguageTable(Text::Connecting, w.frm->LanguageIndex));

        w.frm->cmbLanguage->setCurrentIndex(2);
        w.frm->cmbLanguageChange();
        QCOMPARE(w.frm->lblPort->text(), QString("連接阜 :"));
        QCOMPARE(w.frm->btnExit->text(), QString("離開(&x)"));
        QCOMPARE(w.frm->mnuRestore->text(), QString("還原(&R)"));
        QCOMPARE(w.frm->windowTitle(), QString("Tallyport 0104"));
        QCOMPARE(w.frm->font().pointSize(), 12);
        QCOMPARE(w.frm->font().family(), QString("細明體"));
        w.frm->AddInfoLine(LanguageTable(Text::Connecting, w.frm->LanguageIndex));

        w.frm->cmbLanguage->setCurrentIndex(1);
        w.frm->cmbLanguageChange();
        QCOMPARE(w.frm->pcMain->tabText(1), QString("参数设定"));
        QCOMPARE(w.frm->btnExit->text(), QString("离开(&x)"));

        w.frm->cmbLanguage->setCurrentIndex(0);
        w.frm->cmbLanguageChange();
        QCOMPARE(w.frm->lblPort->text(), QString("Port :"));
        QCOMPARE(w.frm->font().pointSize(), 10);
        // Lines already written keep their language.
        QCOMPARE(w.frm->moInfo->toPlainText(), QString("Connecting reader ...\n連線讀卡機中 ..."));
    }

    void readerIdAndSameCardControls()
    {
        Window w(freshSettings());
        w.frm->cycle().LinkSettingsChanged = false;
        w.frm->sbReaderID->setValue(7);
        QCOMPARE(w.frm->pnReaderID->text(), QString("07"));
        QVERIFY(w.frm->cycle().LinkSettingsChanged);

        w.frm->sbSameCard->setValue(5);
        QCOMPARE(w.frm->pnSameCard->text(), QString("5"));
        w.frm->pnSameCardDblClick();
        QCOMPARE(w.frm->sbSameCard->value(), 0);
        QCOMPARE(w.frm->pnSameCard->text(), QString("0"));
    }

    void minimizedTwiceBeforeATickMinimisesOnce()
    {
        const QString settings = freshSettings();
        Window w(settings);
        w.frm->show();
        w.frm->cycle().PollingPaused = true;
        int minimizes = 0;
        connect(w.frm->tray(), &TTrayIcon::minimized, [&minimizes] { ++minimizes; });
        w.frm->btnMinClick();
        w.frm->btnMinClick();
        w.frm->tmrPollingTimer();
        w.frm->tmrPollingTimer();
        QCOMPARE(minimizes, 1);
        QVERIFY(QFile::exists(settings));  // Minimized saves
        QVERIFY(w.frm->tmrPolling->isActive());
    }

    void withoutATrayTheWindowIsMinimisedNotHidden()
    {
        Window w(freshSettings());
        w.frm->show();
        QVERIFY(!TTrayIcon::trayAvailable());
        w.frm->minimizeToTray();
        QVERIFY(w.frm->isVisible());
        QVERIFY(w.frm->isMinimized());
        QVERIFY(w.frm->mnuRestore->isEnabled());
        w.frm->mnuRestoreClick();
        QVERIFY(!w.frm->isMinimized());
        QVERIFY(!w.frm->mnuRestore->isEnabled());
        // Exit from the tray menu brings the window back first.
        w.frm->minimizeToTray();
        w.frm->mnuExit->trigger();
        QVERIFY(!w.frm->isMinimized());
        QVERIFY(w.frm->cycle().CloseRequested);
    }

    void exitSavesAndClosesAtTheNextTick()
    {
        const QString settings = freshSettings();
        Window w(settings);
        w.frm->show();
        w.frm->cycle().PollingPaused = true;
        w.frm->cmbLanguage->setCurrentIndex(2);
        w.frm->cmbLanguageChange();
        // A close request from the window manager is refused.
        QVERIFY(!w.frm->close());
        QVERIFY(w.frm->isVisible());
        w.frm->btnExitClick();
        QCOMPARE(loadSettings(settings).values.Language, 2);
        QVERIFY(w.frm->isVisible());
        w.frm->tmrPollingTimer();
        QVERIFY(!w.frm->isVisible());
        QVERIFY(!w.frm->tmrPolling->isActive());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
