#include "reading/ReaderWorker.h"

#include "reading/PortWalk.h"
#include "reading/ReaderFollower.h"
#include "text/Printable.h"

#include <QThread>
#include <QTimer>

namespace {

// A port's whole probe takes about 2.7 s when nothing answers; one still
// running after this is stuck in its open.
constexpr int kDetectionProbeLimitMs = 8000;

}  // namespace

ReaderWorker::ReaderWorker(QObject* parent) : QObject(parent), cycle_(link_, *this)
{
    registerTypes();
    tmrPolling = new QTimer(this);
    tmrPolling->setObjectName(QStringLiteral("tmrPolling"));
    tmrPolling->setInterval(10);  // the first tick follows the start at once
    connect(tmrPolling, &QTimer::timeout, this, [this] { cycle_.tmrPollingTimer(); });
    tmrSameCard = new QTimer(this);
    tmrSameCard->setObjectName(QStringLiteral("tmrSameCard"));
    tmrSameCard->setInterval(1000);
    connect(tmrSameCard, &QTimer::timeout, this, [this] { cycle_.tmrSameCardTimer(); });
    follower_ = new ReaderFollower([this](const InfoLine& line) { cycle_.AddInfoLine(line); },
                                   [this](const DetectedReader& reader) { followed(reader); }, this);
}

ReaderWorker::~ReaderWorker() = default;

void ReaderWorker::registerTypes()
{
    qRegisterMetaType<Settings>();
    qRegisterMetaType<InfoLine>();
    qRegisterMetaType<DetectionResult>();
}

void ReaderWorker::applyConfig(const Settings& config)
{
    // Another reader or port: what the follower looks for is no longer sought.
    if (!config.sameLink(cycle_.config()))
        follower_->stop();
    cycle_.setConfig(config);
}

void ReaderWorker::setPorts(const QStringList& ports)
{
    follower_->setPorts(ports);
}

void ReaderWorker::portMissing()
{
    if (!detection_ || !detection_->running())
        follower_->portMissing(cycle_.config());
}

void ReaderWorker::readerConnected(const QString& identity)
{
    follower_->readerConnected(cycle_.config(), identity);
}

void ReaderWorker::followed(const DetectedReader& reader)
{
    const Settings& config = cycle_.config();
    cycle_.AddInfoLine({Text::ReaderMoved, {}, {shownName(config.CommName), shownName(reader.portName)}});
    cycle_.useFoundReader(reader.portName, config.CommBaudRate, config.ReaderType, config.ReaderID);
    emit portFollowed(reader.portName);
    // Connect there at once rather than at the next disconnected tick.
    if (tmrPolling->isActive())
        tmrPolling->start(10);
}

void ReaderWorker::startUp(const QStringList& ports, bool pausedAfter)
{
    follower_->setPorts(ports);
    if (link_.OpenPort(cycle_.config().CommName, cycle_.config().CommBaudRate)) {
        startPolling();
        return;
    }
    // The first tick follows the walk, as it would follow a walk that held
    // the thread.
    pollAfterDetection_ = true;
    detect(ports, pausedAfter);
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
    follower_->stop();
    ReaderLink::pause(100);

    // Each port is probed through a link of its own; ours would hold one.
    link_.ClosePort();
    pausedAfterDetection_ = pausedAfter;
    const int replyTimeout = link_.ReplyTimeout;
    detection_ = std::make_unique<PortWalk>(
        ports,
        [replyTimeout](const QString& port) {
            ReaderLink link;
            link.ReplyTimeout = replyTimeout;
            return detectOnPort(link, port);
        },
        kDetectionProbeLimitMs);
    detection_->start(
        [this](const QString& port) {
            cycle_.AddInfoLine({Text::Detecting, QStringLiteral("  ") + shownName(port)});
        },
        [this](const std::optional<DetectedReader>& found) { detectionDone(found); });
}

void ReaderWorker::detectionDone(const std::optional<DetectedReader>& found)
{
    DetectionResult result;
    if (found) {
        result.found = true;
        result.reader = *found;
        cycle_.useFoundReader(found->portName, found->lineSettings, found->readerType, found->readerId);
        cycle_.AddInfoLine({Text::DetectOk, found->identity});
    }
    cycle_.PollingPaused = pausedAfterDetection_;
    emit detectionFinished(result);
    if (pollAfterDetection_) {
        pollAfterDetection_ = false;
        startPolling();
    }
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
    detection_.reset();
    follower_->stop();
    link_.ClosePort();
    cycle_.cardLog().finish(kCardLogWaitMs);
    // The window deletes the worker once the thread has ended.
    QThread::currentThread()->quit();
}
