// The main window and its reader worker: the worker's thread, what the
// window asks of it and what it reports.
#include "app/MainWindow.h"

#include "app/CardTypist.h"
#include "app/tray/TrayIcon.h"
#include "reading/ReaderWorker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QStatusBar>

void TfrmMain::startReader()
{
    worker_ = std::make_unique<ReaderWorker>();
    worker_->moveToThread(&readerThread_);
    readerThread_.setObjectName(QStringLiteral("reader"));
    ReaderWorker* w = worker_.get();
    // Across the thread line every connection is queued (the worker lives on
    // its thread, the lambdas' context is the window): each call carries
    // copies of its arguments, and arrives after every call sent before it.
    // Window to worker.
    connect(this, &TfrmMain::configChanged, w, &ReaderWorker::applyConfig);
    connect(this, &TfrmMain::startRequested, w, &ReaderWorker::startUp);
    connect(this, &TfrmMain::detectRequested, w, &ReaderWorker::detect);
    connect(this, &TfrmMain::portsChanged, w, &ReaderWorker::setPorts);
    connect(this, &TfrmMain::pauseChanged, w, &ReaderWorker::setPaused);
    connect(this, &TfrmMain::closeRequested, w, &ReaderWorker::requestClose);
    connect(this, &TfrmMain::minimizeRequested, w, &ReaderWorker::requestMinimize);
    // Worker to window.
    connect(w, &ReaderWorker::infoLine, this,
            [this](const InfoLine& line) { AddInfoLine(line.render(settings_.Language)); });
    connect(w, &ReaderWorker::statusText, this,
            [this](const InfoLine& text) { sbMessage->showMessage(text.render(settings_.Language)); });
    // The tray icon blinks with the ticks while a reader is connected.
    connect(w, &ReaderWorker::tickFinished, this,
            [this](bool connected) { triMain->setIconIndex(connected && triMain->iconIndex() == 0 ? 1 : 0); });
    connect(w, &ReaderWorker::cardRead, this,
            [this](const QByteArray& card) { typist_->TypeText(card, settings_.AddDown, settings_.AddReturn); });
    connect(w, &ReaderWorker::detectionStarted, this, &TfrmMain::onDetectionStarted);
    connect(w, &ReaderWorker::detectionFinished, this, &TfrmMain::onDetectionFinished);
    connect(w, &ReaderWorker::portFollowed, this, &TfrmMain::onPortFollowed);
    connect(w, &ReaderWorker::closeDue, this, &TfrmMain::closeMainWindow);
    connect(w, &ReaderWorker::minimizeDue, this, &TfrmMain::minimizeToTray);
    readerThread_.start();
}

void TfrmMain::stopReader()
{
    if (!readerThread_.isRunning())
        return;
    // The worker leaves whatever it waits for after the transaction under
    // way, then closes the card log and the port on its own thread.
    readerThread_.requestInterruption();
    QMetaObject::invokeMethod(worker_.get(), &ReaderWorker::shutdown, Qt::QueuedConnection);
    readerThread_.wait();
    // Its last words (cards the card log still owed) before the window goes.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
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
