#include "reading/ReaderWorker.h"

#include "link/Printable.h"

#include <QThread>
#include <QTimer>

ReaderWorker::ReaderWorker(QObject* parent) : QObject(parent), cycle_(link_, *this)
{
    registerTypes();
    inbox_ = new Mailbox(this);
    tmrPolling = new QTimer(this);
    tmrPolling->setObjectName(QStringLiteral("tmrPolling"));
    tmrPolling->setInterval(10);  // the first tick follows the start at once
    connect(tmrPolling, &QTimer::timeout, this, [this] { cycle_.tmrPollingTimer(); });
    tmrSameCard = new QTimer(this);
    tmrSameCard->setObjectName(QStringLiteral("tmrSameCard"));
    tmrSameCard->setInterval(1000);
    connect(tmrSameCard, &QTimer::timeout, this, [this] { cycle_.tmrSameCardTimer(); });
}

ReaderWorker::~ReaderWorker() = default;

void ReaderWorker::registerTypes()
{
    qRegisterMetaType<Settings>();
    qRegisterMetaType<InfoLine>();
    qRegisterMetaType<DetectionResult>();
}

void ReaderWorker::post(std::function<void(ReaderWorker&)> call)
{
    inbox_->post([this, call = std::move(call)] { call(*this); });
}

void ReaderWorker::applyConfig(const Settings& config)
{
    cycle_.setConfig(config);
}

void ReaderWorker::startUp(const QStringList& ports, bool pausedAfter)
{
    if (!link_.OpenPort(cycle_.config().CommName, cycle_.config().CommBaudRate))
        detect(ports, pausedAfter);
    startPolling();
}

void ReaderWorker::startPolling()
{
    if (ReaderLink::stopAsked())
        return;
    tmrPolling->start();
    tmrSameCard->start();
}

void ReaderWorker::detect(const QStringList& ports, bool pausedAfter)
{
    cycle_.PollingPaused = true;
    cycle_.LinkSettingsChanged = false;
    emit detectionStarted();
    ReaderLink::pause(100);

    DetectionResult result;
    const auto found = detectReader(link_, ports, [this](const QString& port) {
        cycle_.AddInfoLine({Text::Detecting, QStringLiteral("  ") + shownName(port)});
    });
    if (found) {
        result.found = true;
        result.reader = *found;
        cycle_.useFoundReader(found->portName, found->lineSettings, found->readerType, found->readerId);
        cycle_.AddInfoLine({Text::DetectOk, found->identity});
    }
    cycle_.PollingPaused = pausedAfter;
    emit detectionFinished(result);
}

void ReaderWorker::setPaused(bool paused)
{
    cycle_.PollingPaused = paused;
    // Pausing clears the status bar; the blink starts again from there.
    if (paused)
        cycle_.statusCleared();
}

void ReaderWorker::requestClose()
{
    cycle_.CloseRequested = true;
}

void ReaderWorker::requestMinimize()
{
    cycle_.MinimizeRequested = true;
}

void ReaderWorker::setPollingTimer(bool enabled, int intervalMs)
{
    if (!enabled) {
        tmrPolling->stop();
        return;
    }
    tmrPolling->setInterval(intervalMs);
    tmrPolling->start();
}

void ReaderWorker::shutdown()
{
    tmrPolling->stop();
    tmrSameCard->stop();
    link_.ClosePort();
    cycle_.cardLog().finish(kCardLogWaitMs);
    // The window deletes the worker once the thread has ended.
    tsanRelease(this);
    QThread::currentThread()->quit();
}
