#include "app/MainWindow.h"

#include "app/CardTypist.h"
#include "app/PlatformKeyboard.h"
#include "app/tray/TrayIcon.h"
#include "link/PortWatch.h"
#include "reading/ReaderWorker.h"
#include "settings/LanguageTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMaxInfoLines = 26;

}  // namespace

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
    typist_ = new CardTypist(std::move(keyboard), keyboardName, [this] { return settings_.Language; }, this);
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

// ---------------------------------------------------------------- the reader worker

namespace {

// Carries `signal` of the worker to the window's thread: `handler` runs there
// with copies of the signal's arguments.
template <typename... Args, typename Handler>
void relay(ReaderWorker* worker, void (ReaderWorker::*signal)(Args...), Mailbox* inbox, Handler handler)
{
    QObject::connect(
        worker, signal, inbox,
        [inbox, handler](Args... args) { inbox->post([handler, args...] { handler(args...); }); },
        Qt::DirectConnection);
}

}  // namespace

void TfrmMain::startReader()
{
    inbox_ = new Mailbox(this);
    worker_ = std::make_unique<ReaderWorker>();
    worker_->moveToThread(&readerThread_);
    readerThread_.setObjectName(QStringLiteral("reader"));
    ReaderWorker* w = worker_.get();
    // Window to worker.
    connect(this, &TfrmMain::configChanged, this, [w](const Settings& config) {
        w->post([config](ReaderWorker& worker) { worker.applyConfig(config); });
    });
    connect(this, &TfrmMain::startRequested, this, [w](const QStringList& ports, bool pausedAfter) {
        w->post([ports, pausedAfter](ReaderWorker& worker) { worker.startUp(ports, pausedAfter); });
    });
    connect(this, &TfrmMain::detectRequested, this, [w](const QStringList& ports, bool pausedAfter) {
        w->post([ports, pausedAfter](ReaderWorker& worker) { worker.detect(ports, pausedAfter); });
    });
    connect(this, &TfrmMain::portsChanged, this,
            [w](const QStringList& ports) { w->post([ports](ReaderWorker& worker) { worker.setPorts(ports); }); });
    connect(this, &TfrmMain::pauseChanged, this, [w](bool paused) {
        w->post([paused](ReaderWorker& worker) { worker.setPaused(paused); });
    });
    connect(this, &TfrmMain::closeRequested, this, [w] { w->post(&ReaderWorker::requestClose); });
    connect(this, &TfrmMain::minimizeRequested, this, [w] { w->post(&ReaderWorker::requestMinimize); });
    // Worker to window.
    relay(w, &ReaderWorker::infoLine, inbox_, [this](const InfoLine& line) {
        AddInfoLine(line.render(settings_.Language));
    });
    relay(w, &ReaderWorker::statusText, inbox_, [this](const InfoLine& text) {
        sbMessage->showMessage(text.render(settings_.Language));
    });
    // The tray icon blinks with the ticks while a reader is connected.
    relay(w, &ReaderWorker::tickFinished, inbox_, [this](bool connected) {
        triMain->setIconIndex(connected && triMain->iconIndex() == 0 ? 1 : 0);
    });
    relay(w, &ReaderWorker::cardRead, inbox_, [this](const QByteArray& card) {
        typist_->TypeText(card, settings_.AddDown, settings_.AddReturn);
    });
    relay(w, &ReaderWorker::detectionStarted, inbox_, [this] { onDetectionStarted(); });
    relay(w, &ReaderWorker::detectionFinished, inbox_, [this](const DetectionResult& result) {
        onDetectionFinished(result);
    });
    relay(w, &ReaderWorker::portFollowed, inbox_, [this](const QString& port) { onPortFollowed(port); });
    relay(w, &ReaderWorker::closeDue, inbox_, [this] { closeMainWindow(); });
    relay(w, &ReaderWorker::minimizeDue, inbox_, [this] { minimizeToTray(); });
    readerThread_.start();
}

void TfrmMain::stopReader()
{
    if (!readerThread_.isRunning())
        return;
    // The worker leaves whatever it waits for after the transaction under
    // way, then closes the card log and the port on its own thread.
    readerThread_.requestInterruption();
    worker_->post(&ReaderWorker::shutdown);
    readerThread_.wait();
    tsanAcquire(worker_.get());
    // Its last words (cards the card log still owed) before the window goes.
    QCoreApplication::sendPostedEvents(inbox_);
}

void TfrmMain::settingsEdited()
{
    if (editing_ == 0)
        emit configChanged(settings_);
}

void TfrmMain::setPaused(bool paused)
{
    emit pauseChanged(paused);
}

QStringList TfrmMain::portList() const
{
    QStringList ports;
    for (int i = 0; i < cmbPort->count(); ++i)
        ports << cmbPort->itemData(i).toString();
    return ports;
}

// ---------------------------------------------------------------- life cycle

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

// ---------------------------------------------------------------- info log

void TfrmMain::AddInfoLine(const QString& text)
{
    QTextDocument* document = moInfo->document();
    if (document->blockCount() >= kMaxInfoLines && !moInfo->toPlainText().isEmpty()) {
        QTextCursor cursor(document->firstBlock());
        cursor.select(QTextCursor::BlockUnderCursor);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    moInfo->appendPlainText(text);
    sbMessage->showMessage(text);
    if (options_.verbose) {
        const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toUtf8()
            + text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

void TfrmMain::moInfoDblClick()
{
    moInfo->clear();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == sbReaderID || watched == sbSameCard)) {
        // The keys of a scroll bar: Right, Down and Page Down go up the
        // range, Left, Up and Page Up down it.
        QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Right: case Qt::Key_Down: action = QAbstractSlider::SliderSingleStepAdd; break;
        case Qt::Key_Left: case Qt::Key_Up: action = QAbstractSlider::SliderSingleStepSub; break;
        case Qt::Key_PageDown: action = QAbstractSlider::SliderPageStepAdd; break;
        case Qt::Key_PageUp: action = QAbstractSlider::SliderPageStepSub; break;
        default: break;
        }
        if (action != QAbstractSlider::SliderNoAction) {
            static_cast<QScrollBar*>(watched)->triggerAction(action);
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == moInfo->viewport()) {
            moInfoDblClick();
            return true;
        }
        if (watched == pnSameCard) {
            pnSameCardDblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- link settings

void TfrmMain::cmbPortChange()
{
    // The entry shows what the system says about the port; its name is what counts.
    settings_.CommName = cmbPort->currentData().toString();
    settingsEdited();
}

void TfrmMain::onPortFollowed(const QString& port)
{
    settings_.CommName = port;
    const int index = cmbPort->findData(port);
    if (index >= 0)
        cmbPort->setCurrentIndex(index);
    settingsEdited();
}

void TfrmMain::cmbBaudrateChange()
{
    settings_.CommBaudRate = cmbBaudrate->currentText();
    settingsEdited();
}

void TfrmMain::cmbReaderTypeChange()
{
    settings_.ReaderType = cmbReaderType->currentIndex();
    settingsEdited();
}

void TfrmMain::sbReaderIDChange()
{
    pnReaderID->setText(QString::asprintf("%02d", sbReaderID->value()));
    settings_.ReaderID = sbReaderID->value();
    settingsEdited();
}

// ---------------------------------------------------------------- same-card filter

void TfrmMain::sbSameCardChange()
{
    pnSameCard->setText(QString::number(sbSameCard->value()));
    settings_.SameCardTime = sbSameCard->value();
    settingsEdited();
    // A change by mouse moves the focus to the panel; one made with the
    // keys leaves it on the bar, so that the next key moves it further.
    if (pnSameCardTag == 1 && !sbSameCard->hasFocus())
        pnSameCard->setFocus();
    pnSameCardTag = 1;
}

void TfrmMain::pnSameCardDblClick()
{
    sbSameCard->setValue(0);
}

// ---------------------------------------------------------------- polling

void TfrmMain::chkPauseMouseUp()
{
    if (chkPause->isChecked()) {
        setPaused(true);
        sbMessage->showMessage(QString());
    } else {
        setPaused(false);
    }
}

void TfrmMain::minimizeToTray()
{
    triMain->setIconIndex(0);
    triMain->Minimize();
}

// ---------------------------------------------------------------- tray

void TfrmMain::triMainMinimize()
{
    triMain->setVisible(true);
    mnuRestore->setEnabled(true);
}

void TfrmMain::triMainRestore()
{
    triMain->setVisible(false);
    mnuRestore->setEnabled(false);
}

void TfrmMain::mnuRestoreClick()
{
    triMain->Restore();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // The window manager minimised or restored us: go the tray's way.
    if (isMinimized() && !triMain->isMinimized() && TTrayIcon::trayAvailable())
        QTimer::singleShot(0, triMain, &TTrayIcon::Minimize);
    else if (!isMinimized() && isVisible() && triMain->isMinimized())
        triMain->Restore();
}

// ---------------------------------------------------------------- detection

void TfrmMain::btnDetectClick()
{
    // The walk runs on the worker; the window stays disabled, with the wait
    // cursor, until its result comes back, and shows each probe line meanwhile.
    onDetectionStarted();
    detectPorts_ = portList();
    emit detectRequested(detectPorts_, chkPause->isChecked());
}

void TfrmMain::onDetectionStarted()
{
    if (detecting_)
        return;
    detecting_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
}

void TfrmMain::onDetectionFinished(const DetectionResult& result)
{
    ++editing_;
    if (result.found) {
        const DetectedReader& found = result.reader;
        settings_.CommName = found.portName;
        settings_.CommBaudRate = found.lineSettings;
        settings_.ReaderType = found.readerType;
        cmbPort->setCurrentIndex(cmbPort->findData(found.portName));
        cmbBaudrate->setCurrentIndex(cmbBaudrate->findText(found.lineSettings));
        cmbReaderType->setCurrentIndex(found.readerType);
        sbReaderID->setValue(found.readerId);
    } else {
        const bool listed = std::any_of(detectPorts_.begin(), detectPorts_.end(), [this](const QString& port) {
            return port.compare(settings_.CommName, Qt::CaseInsensitive) == 0;
        });
        if (!listed && !detectPorts_.isEmpty()) {
            cmbPort->setCurrentIndex(0);
            settings_.CommName = detectPorts_.first();
        }
    }
    --editing_;
    settingsEdited();
    if (detecting_) {
        detecting_ = false;
        setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
}
