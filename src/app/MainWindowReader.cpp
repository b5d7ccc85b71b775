// The main window and its reader worker: the worker's thread, what the
// window asks of it and what it reports.
#include "app/MainWindow.h"

#include "app/CardTypist.h"
#include "app/tray/TrayIcon.h"
#include "reading/ReaderWorker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QStatusBar>

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
    connect(this, &TfrmMain::configChanged, this,
            [w](const Settings& config) { w->post([config](ReaderWorker& worker) { worker.applyConfig(config); }); });
    connect(this, &TfrmMain::startRequested, this, [w](const QStringList& ports, bool pausedAfter) {
        w->post([ports, pausedAfter](ReaderWorker& worker) { worker.startUp(ports, pausedAfter); });
    });
    connect(this, &TfrmMain::detectRequested, this, [w](const QStringList& ports, bool pausedAfter) {
        w->post([ports, pausedAfter](ReaderWorker& worker) { worker.detect(ports, pausedAfter); });
    });
    connect(this, &TfrmMain::portsChanged, this,
            [w](const QStringList& ports) { w->post([ports](ReaderWorker& worker) { worker.setPorts(ports); }); });
    connect(this, &TfrmMain::pauseChanged, this,
            [w](bool paused) { w->post([paused](ReaderWorker& worker) { worker.setPaused(paused); }); });
    connect(this, &TfrmMain::closeRequested, this, [w] { w->post(&ReaderWorker::requestClose); });
    connect(this, &TfrmMain::minimizeRequested, this, [w] { w->post(&ReaderWorker::requestMinimize); });
    // Worker to window.
    relay(w, &ReaderWorker::infoLine, inbox_,
          [this](const InfoLine& line) { AddInfoLine(line.render(settings_.Language)); });
    relay(w, &ReaderWorker::statusText, inbox_,
          [this](const InfoLine& text) { sbMessage->showMessage(text.render(settings_.Language)); });
    // The tray icon blinks with the ticks while a reader is connected.
    relay(w, &ReaderWorker::tickFinished, inbox_,
          [this](bool connected) { triMain->setIconIndex(connected && triMain->iconIndex() == 0 ? 1 : 0); });
    relay(w, &ReaderWorker::cardRead, inbox_,
          [this](const QByteArray& card) { typist_->TypeText(card, settings_.AddDown, settings_.AddReturn); });
    relay(w, &ReaderWorker::detectionStarted, inbox_, [this] { onDetectionStarted(); });
    relay(w, &ReaderWorker::detectionFinished, inbox_,
          [this](const DetectionResult& result) { onDetectionFinished(result); });
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
