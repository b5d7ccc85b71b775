// The main window's making and life cycle: the start, Exit and Minimized,
// the close, the end of the session and a second start.
#include "app/MainWindow.h"

#include "app/CardTypist.h"
#include "app/PlatformKeyboard.h"
#include "app/tray/TrayIcon.h"
#include "link/PortWatch.h"
#include "reading/ReaderWorker.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>

TfrmMain::TfrmMain(const AppOptions& options, std::unique_ptr<KeyboardOutput> keyboard, QWidget* parent)
    : QWidget(parent), options_(options)
{
    QString keyboardName;  // stays empty for an output handed in by a test
    PlatformKeyboard chosen;
    if (!keyboard) {
        chosen = makePlatformKeyboard(options_.keyboard);
        keyboard = std::move(chosen.output);
        keyboardName = chosen.name.isEmpty() ? QStringLiteral("-") : chosen.name;
    }
    typist_ = new CardTypist(
        std::move(keyboard), keyboardName, [this] { return settings_.Language; }, this);
    typist_->useInputMethods(std::move(chosen.inputMethods), chosen.unknownInputMethods);
    connect(typist_, &CardTypist::said, this, &TfrmMain::AddInfoLine);
    connect(typist_, &CardTypist::focusWanted, this, &TfrmMain::minimizeToTray);
    connect(typist_, &CardTypist::restoreTokenChanged, this, [this](const QString& token) {
        settings_.PortalRestoreToken = token;
        storePortalRestoreToken();
    });
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tallyport"));
    setWindowIcon(TTrayIcon::image(0));
    buildWidgets();
    buildNonVisual();
    startReader();
    FormCreate();
    if (options_.systemPorts) {
        // Ports that come after the start (a reader plugged in, or back
        // under another name) join the list.
        auto* ports = new PortWatch(this);
        connect(ports, &PortWatch::changed, this, &TfrmMain::refreshPortList);
    }
}

TfrmMain::~TfrmMain()
{
    FormClose();
}

void TfrmMain::FormCreate()
{
    // The filter time starts at 0 without taking the focus (see sbSameCardChange).
    pnSameCardTag = 0;
    sbSameCard->setValue(0);
    pnSameCardTag = 0;
    LoadSettings();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    ApplyLanguage();
    moInfo->clear();
    if (!startNote_.isEmpty())
        AddInfoLine(startNote_);
    tmrStart->start();
}

void TfrmMain::tmrStartTimer()
{
    tmrStart->stop();
    typist_->start(settings_.PortalRestoreToken);
    // The worker opens the port, detects when it does not open, then polls;
    // the window stays free meanwhile.
    detectPorts_ = portList();
    emit startRequested(detectPorts_, chkPause->isChecked());
}

void TfrmMain::btnExitClick()
{
    SaveSettings();
    emit closeRequested();
}

void TfrmMain::mnuExitClick()
{
    triMain->Restore();
    btnExitClick();
}

void TfrmMain::btnMinClick()
{
    SaveSettings();
    emit minimizeRequested();
}

void TfrmMain::closeMainWindow()
{
    closeAllowed_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Only Exit (through the polling tick) or the end of the session close
    // the window; a close request from the window manager is ignored.
    if (!closeAllowed_ && !sessionEnded_) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    QApplication::quit();
}

void TfrmMain::FormClose()
{
    stopReader();
}

void TfrmMain::endSession()
{
    if (sessionEnded_)
        return;
    sessionEnded_ = true;
    FormClose();
    triMain->setVisible(false);
    close();
    QApplication::quit();
}

void TfrmMain::showFromSecondStart()
{
    if (options_.verbose)
        std::fputs("tallyport: a second start asked for the window\n", stderr);
    if (isMinimized() || !isVisible()) {
        // Back from the tray or the taskbar; the tray icon stays as it is.
        showNormal();
    }
    raise();
    activateWindow();
}
