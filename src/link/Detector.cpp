#include "link/Detector.h"

#include "link/ReaderLink.h"
#include "link/ReaderTypes.h"

namespace {

bool stopAsked()
{
    return ReaderLink::stopAsked();
}

// The types walk[first, last) share one line setting: one open of the port,
// then kDetectionRounds rounds over them.
std::optional<DetectedReader> probeGroup(ReaderLink& link, const QString& port, const int* first, const int* last)
{
    const QString line = QLatin1String(readerType(*first)->lineSettings);
    if (!link.OpenPort(port, line))
        return std::nullopt;
    for (int round = 0; round < kDetectionRounds && !stopAsked(); ++round) {
        for (const int* index = first; index != last; ++index) {
            const ReaderType& type = *readerType(*index);
            if (type.detectPause > 0)
                ReaderLink::pause(type.detectPause);
            if (const auto identity = handshake(link, type, type.detectId, type.detectPause)) {
                DetectedReader found;
                found.portName = port;
                found.lineSettings = line;
                found.readerType = *index;
                found.readerId = connectReplyReaderId(type, link.ReplyText());
                found.identity = *identity;
                return found;
            }
            if (stopAsked())
                return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<DetectedReader> detectOnPort(ReaderLink& link, const QString& port)
{
    const DetectionWalk walk = detectionWalk();
    const int* end = walk.types + walk.count;
    for (const int* first = walk.types; first != end && !stopAsked();) {
        const int* last = first;
        while (last != end && qstrcmp(readerType(*last)->lineSettings, readerType(*first)->lineSettings) == 0)
            ++last;
        if (auto found = probeGroup(link, port, first, last))
            return found;
        first = last;
    }
    return std::nullopt;
}

std::optional<DetectedReader> detectReader(ReaderLink& link, const QStringList& ports,
                                           const std::function<void(const QString& port)>& probing)
{
    for (const QString& port : ports) {
        if (stopAsked())
            break;
        probing(port);
        if (auto found = detectOnPort(link, port))
            return found;
    }
    return std::nullopt;
}

std::optional<DetectedReader> identifyOnPort(ReaderLink& link, const QString& port, const QString& lineSettings,
                                             int readerType, const QByteArray& readerId, int attempts)
{
    const ReaderType* type = ::readerType(readerType);
    if (!type || !link.OpenPort(port, lineSettings))
        return std::nullopt;
    for (int attempt = 0; attempt < attempts && !stopAsked(); ++attempt) {
        ReaderLink::pause(20);
        if (const auto identity = handshake(link, *type, readerId)) {
            DetectedReader found;
            found.portName = port;
            found.lineSettings = lineSettings;
            found.readerType = readerType;
            found.readerId = connectReplyReaderId(*type, link.ReplyText());
            found.identity = *identity;
            return found;
        }
    }
    return std::nullopt;
}
