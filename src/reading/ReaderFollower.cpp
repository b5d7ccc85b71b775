#include "reading/ReaderFollower.h"

#include "link/PortHolders.h"
#include "link/PortList.h"
#include "link/ReaderLink.h"
#include "reading/PortWalk.h"
#include "text/Printable.h"

#include <algorithm>

ReaderFollower::ReaderFollower(Say say, Found found, QObject* parent)
    : QObject(parent), say_(std::move(say)), found_(std::move(found))
{
}

ReaderFollower::~ReaderFollower() = default;

void ReaderFollower::setPorts(const QStringList& ports)
{
    ports_ = ports;
}

bool ReaderFollower::sweeping() const
{
    return walk_ && walk_->running();
}

void ReaderFollower::stop()
{
    ++generation_;
    walk_.reset();
    missing_ = false;
    resweepMs_ = kFirstResweepMs;
    toldOthers_.clear();
}

void ReaderFollower::readerConnected(const Settings& config, const QString& identity)
{
    stop();
    known_ = {config.ReaderType, config.ReaderID, identity};
}

bool ReaderFollower::sameReader(const Known& known, const Settings& config, const DetectedReader& answered)
{
    if (answered.readerType != config.ReaderType || answered.readerId != config.ReaderID)
        return false;
    // The serial number (or the ID) seen at the last connect, where that
    // connect was to this reader type and ID.
    const bool seen
        = known.readerType == config.ReaderType && known.readerId == config.ReaderID && !known.identity.isEmpty();
    return !seen || answered.identity == known.identity;
}

bool ReaderFollower::sweepDue(const QStringList& present)
{
    if (!missing_) {
        missing_ = true;
        return true;
    }
    // A port that came since the last sweep may be the reader.
    const bool portCame = std::any_of(present.begin(), present.end(),
                                      [this](const QString& port) { return !sweptPresent_.contains(port); });
    if (portCame)
        return true;
    if (sinceSweep_.elapsed() < resweepMs_)
        return false;
    resweepMs_ = std::min(2 * resweepMs_, kLongestResweepMs);
    return true;
}

void ReaderFollower::portMissing(const Settings& config)
{
    if (sweeping())
        return;
    QStringList present;
    for (const QString& port : ports_) {
        if (port != config.CommName && portPresent(port))
            present << port;
    }
    const bool first = !missing_;
    if (!sweepDue(present))
        return;
    sweptPresent_ = present;
    sinceSweep_.start();
    if (first && ports_.size() > 1)
        say_({Text::LookingForReader, {}, {shownName(config.CommName)}});
    // Another program's port is left alone.
    const QHash<QString, QList<PortHolder>> held = portHolders(present);
    present.erase(
        std::remove_if(present.begin(), present.end(), [&held](const QString& port) { return held.contains(port); }),
        present.end());
    if (!present.isEmpty())
        sweep(config, present);
}

void ReaderFollower::sweep(const Settings& config, QStringList candidates)
{
    const QString line = config.CommBaudRate;
    const int type = config.ReaderType;
    const QByteArray id = config.readerIdText();
    walk_ = std::make_unique<PortWalk>(
        candidates,
        [line, type, id](const QString& port) {
            ReaderLink link;
            return identifyOnPort(link, port, line, type, id, kAttempts);
        },
        kProbeLimitMs);
    const Known known = known_;
    walk_->setAccept([this, known, config](const DetectedReader& answered) {
        if (sameReader(known, config, answered))
            return true;
        const QString key = answered.portName + answered.identity;
        if (!toldOthers_.contains(key)) {
            toldOthers_.insert(key);
            say_({Text::OtherReaderOnPort,
                  {},
                  {shownName(answered.portName), answered.identity.trimmed(), shownName(config.CommName)}});
        }
        return false;
    });
    walk_->start([](const QString&) {},
                 [this](const std::optional<DetectedReader>& found) {
                     // Told after the walk has returned: what it sets off may end the walk.
                     if (!found)
                         return;
                     QMetaObject::invokeMethod(
                         this,
                         [this, reader = *found, generation = generation_] {
                             if (generation == generation_)
                                 found_(reader);
                         },
                         Qt::QueuedConnection);
                 });
}
