// The one window of the program, TfrmMain: two pages (reader information
// and parameters), the buttons Minimized and Exit, and the status bar. It
// owns the widgets and the reader link, turns the widgets' state into plain
// values for the polling cycle, and carries out what the cycle asks of it.
#pragma once

#include "app/AppOptions.h"
#include "link/ReaderLink.h"
#include "output/KeyboardOutput.h"

#include <QElapsedTimer>
#include <QList>
#include "reading/PollingCycle.h"

#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSocketNotifier;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class TTrayIcon;

class TfrmMain : public QWidget, public PollingHost {
    Q_OBJECT
public:
    // `keyboard` replaces the platform's keyboard output (tests record with it).
    explicit TfrmMain(const AppOptions& options, std::unique_ptr<KeyboardOutput> keyboard = nullptr,
                      QWidget* parent = nullptr);
    ~TfrmMain() override;

    void AddInfoLine(const QString& text) override;
    void ApplyLanguage();
    void LoadSettings();
    void SaveSettings();

    // Handlers, named after the control and the event they serve.
    void btnExitClick();
    void btnMinClick();
    void mnuExitClick();
    void mnuRestoreClick();
    void moInfoDblClick();
    void cmbPortChange();
    void cmbBaudrateChange();
    void cmbReaderTypeChange();
    void sbReaderIDChange();
    void sbSameCardChange();
    void pnSameCardDblClick();
    void cmbLanguageChange();
    void chkPauseMouseUp();
    void btnDetectClick();
    void btnExportFileClick();
    void tmrStartTimer();
    void tmrPollingTimer();
    void tmrSameCardTimer();
    void appEventsIdle();
    void triMainMinimize();
    void triMainRestore();

    // A second start asked for the window: bring it back and to the front.
    void showFromSecondStart();
    // The desktop session ends or the process was told to stop: close the
    // port and the card log, without saving (only Minimized and Exit save).
    void endSession();

    PollingCycle& cycle() { return cycle_; }
    TTrayIcon* tray() const { return triMain; }

    QString PortName;
    QString LineSettings;
    int LanguageIndex = 0;
    int SendFormatIndex = 0;
    KeyboardOutput::WindowId TargetWindow = 0;

    // PollingHost
    PollInputs pollInputs() override;
    QString statusText() override;
    void setStatusText(const QString& text) override;
    void TypeText(const QByteArray& text) override;
    int trayImage() override;
    void setTrayImage(int index) override;
    void setPollingTimer(bool enabled, int intervalMs) override;
    void closeMainWindow() override;
    void minimizeToTray() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    QWidget* buildReaderPage();
    QWidget* buildParameterPage();
    void buildNonVisual();
    void FormCreate();
    void FormClose();
    void fillPortList();
    void setSendFormat(int index);
    QString settingsPath() const;

    AppOptions options_;
    ReaderLink link_;
    PollingCycle cycle_;
    std::unique_ptr<KeyboardOutput> keyboard_;
    QString keyboardName_;       // the output chosen at start, for the info log
    QString portalRestoreToken_; // lets the desktop portal skip asking again
    // Cards held back while our own window gives up the keyboard focus (on
    // Wayland keys go to the focused window).
    struct PendingCard {
        QByteArray text;
        bool comma;
        bool enter;
    };
    QList<PendingCard> pendingCards_;
    QTimer* tmrFocusWait = nullptr;
    QElapsedTimer focusWaitClock_;
    void focusWaitTick();
    void typeCard(const PendingCard& card);
    void startKeyboard();
    void storePortalRestoreToken();
    bool shownOnce_ = false;
    bool closeAllowed_ = false;
    bool sessionEnded_ = false;

public:
    // The controls, under the names the rest of the program and the tests use.
    QTabWidget* pcMain = nullptr;
    QWidget* tsReader = nullptr;
    QPlainTextEdit* moInfo = nullptr;
    QCheckBox* chkPause = nullptr;
    QWidget* tsParameter = nullptr;
    QLabel* lblPort = nullptr;
    QComboBox* cmbPort = nullptr;
    QLabel* lblBaudrate = nullptr;
    QComboBox* cmbBaudrate = nullptr;
    QLabel* lblReaderType = nullptr;
    QComboBox* cmbReaderType = nullptr;
    QLabel* lblReaderID = nullptr;
    QLabel* pnReaderID = nullptr;
    QScrollBar* sbReaderID = nullptr;
    QPushButton* btnDetect = nullptr;
    QLabel* lblSameCard = nullptr;
    QLabel* pnSameCard = nullptr;
    QLabel* lblSec = nullptr;
    QScrollBar* sbSameCard = nullptr;
    QGroupBox* gbFormat = nullptr;
    QRadioButton* rbFormat[6] = {};
    QCheckBox* chkReverse = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* chkSaveToFile = nullptr;
    QLabel* lblExportFile = nullptr;
    QLineEdit* edExportFile = nullptr;
    QToolButton* btnExportFile = nullptr;
    QCheckBox* chkTimeField = nullptr;
    QCheckBox* chkAddDown = nullptr;
    QCheckBox* chkAddEnter = nullptr;
    QCheckBox* chkAutoRun = nullptr;
    QLabel* lblLanguage = nullptr;
    QComboBox* cmbLanguage = nullptr;
    QPushButton* btnMin = nullptr;
    QPushButton* btnExit = nullptr;
    QStatusBar* sbMessage = nullptr;
    QMenu* mnuTray = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuRestore = nullptr;
    TTrayIcon* triMain = nullptr;
    QTimer* tmrPolling = nullptr;
    QTimer* tmrSameCard = nullptr;
    QTimer* tmrStart = nullptr;
    QTimer* tmrIdle = nullptr;          // follows the foreground window where it cannot be watched
    QSocketNotifier* foregroundWatch = nullptr;
    QFileDialog* dlgSaveFile = nullptr;
    int pnSameCardTag = 0;
};
