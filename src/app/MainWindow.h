// The one window of the program, TfrmMain: two pages (reader information
// and parameters), the buttons Minimized and Exit, and the status bar. It
// owns the widgets, the tray icon, the keystroke output and the settings
// record; the reader worker on its own thread does everything that waits for
// the serial line. The window sends the worker the settings and requests,
// and shows and types what the worker reports.
#pragma once

#include "app/AppOptions.h"
#include "output/KeyboardOutput.h"
#include "settings/Settings.h"

#include <QThread>
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
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class TTrayIcon;
class CardTypist;
class ReaderWorker;
struct DetectionResult;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    // `keyboard` replaces the platform's keyboard output (tests record with it).
    explicit TfrmMain(const AppOptions& options, std::unique_ptr<KeyboardOutput> keyboard = nullptr,
                      QWidget* parent = nullptr);
    ~TfrmMain() override;

    void AddInfoLine(const QString& text);
    void ApplyLanguage();
    void LoadSettings();
    void SaveSettings();

    // A second start asked for the window: bring it back and to the front.
    void showFromSecondStart();
    // The desktop session ends or the process was told to stop: close the
    // port and the card log, without saving (only Minimized and Exit save).
    void endSession();

    // The worker, on its own thread: reached by queued calls only.
    ReaderWorker* worker() const { return worker_.get(); }

signals:
    // To the worker, posted to its thread.
    void configChanged(const Settings& config);
    void startRequested(const QStringList& ports, bool pausedAfter);
    void detectRequested(const QStringList& ports, bool pausedAfter);
    void portsChanged(const QStringList& ports);
    void pauseChanged(bool paused);
    void closeRequested();
    void minimizeRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
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
    void triMainMinimize();
    void triMainRestore();

    // Carrying out what the worker reports.
    void closeMainWindow();
    void minimizeToTray();

    void buildWidgets();
    QWidget* buildReaderPage();
    QWidget* buildParameterPage();
    void buildNonVisual();
    void FormCreate();
    void FormClose();
    void fillPortList();
    // The system's ports came or went: the list is read again.
    void refreshPortList();
    void onPortFollowed(const QString& port);
    void setSendFormat(int index);
    QString settingsPath() const;
    QStringList portList() const;
    void startReader();
    // Ends the worker's thread; the port and the card log close within one
    // transaction time.
    void stopReader();
    // A control changed the settings: the worker gets the new record.
    void settingsEdited();
    void setPaused(bool paused);
    void onDetectionStarted();
    void onDetectionFinished(const DetectionResult& result);
    void storePortalRestoreToken();

    AppOptions options_;
    Settings settings_;
    CardTypist* typist_ = nullptr;  // owns the keystroke output
    QThread readerThread_;
    std::unique_ptr<ReaderWorker> worker_;  // lives on readerThread_; goes before it
    bool shownOnce_ = false;
    QString startNote_;  // what loading the settings has to say, once the log is shown
    bool closeAllowed_ = false;
    bool sessionEnded_ = false;
    int editing_ = 0;  // > 0: several controls change at once; send once at the end
    bool detecting_ = false;
    QStringList detectPorts_;  // the ports of the walk under way

    // The controls; each carries its name as its object name.
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
    QTimer* tmrStart = nullptr;
    QFileDialog* dlgSaveFile = nullptr;
    int pnSameCardTag = 0;
};
