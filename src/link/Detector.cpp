#include "link/Detector.h"

#include "link/ReaderLink.h"
#include "link/ReaderTypes.h"
#include "reading/CardFormat.h"

#include <algorithm>

namespace {

const QString TypeBLine = QStringLiteral("115200,n,8,1");
const QString OtherLine = QStringLiteral("19200,e,8,1");
// Types A, C, D and E answer a connect to ID 00 whatever their own ID; the
// type B probe asks for reader 01.
const QByteArray BroadcastId = "00";
const QByteArray TypeBProbeId = "01";

DetectedReader asciiHit(const ReaderLink& link, int typeIndex, const QString& port, const QString& line)
{
    const ReaderType& type = *readerType(typeIndex);
    const QByteArray reply = link.ReplyText();
    DetectedReader found;
    found.portName = port;
    found.lineSettings = line;
    found.readerType = typeIndex;
    found.readerId = std::clamp(asciiReaderId(reply.mid(type.idFirst - 1, 2)), 0, 99);
    found.identity = QStringLiteral("  S/N:") + QString::fromLatin1(printable(reply.mid(type.serialFirst - 1, 8)));
    return found;
}

std::optional<DetectedReader> probeTypeB(ReaderLink& link, const QString& port)
{
    if (!link.OpenPort(port, TypeBLine))
        return std::nullopt;
    const ReaderType& type = *readerType(TypeB);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (link.SendSohCommand(handshakeCommand(type, TypeBProbeId)) && link.ReplyLength() == type.handshakeLength)
            return asciiHit(link, TypeB, port, TypeBLine);
    }
    return std::nullopt;
}

std::optional<DetectedReader> probeOthers(ReaderLink& link, const QString& port)
{
    if (!link.OpenPort(port, OtherLine))
        return std::nullopt;
    // Types A, C, D and E by their connect command ("J00B" twice: type E
    // readers may miss the first request after a quiet spell), then type F.
    static const int asciiTypes[] = {0, 2, 3, 4, 4};
    for (int round = 0; round < 2; ++round) {
        for (int typeIndex : asciiTypes) {
            const ReaderType& type = *readerType(typeIndex);
            ReaderLink::pause(20);
            if (link.SendTabCommand(handshakeCommand(type, BroadcastId)) && link.ReplyLength() == type.handshakeLength)
                return asciiHit(link, typeIndex, port, OtherLine);
        }
        ReaderLink::pause(20);
        link.SendBinaryFrame(binaryWakeData());
        ReaderLink::pause(20);
        if (link.SendBinaryFrame(binaryIdentityData()) && link.ReplyLength() == readerType(TypeF)->handshakeLength) {
            DetectedReader found;
            found.portName = port;
            found.lineSettings = OtherLine;
            found.readerType = TypeF;
            const int id = binaryReaderId(link.ReplyText());
            found.readerId = std::clamp(id, 0, 99);
            found.identity = QStringLiteral("  ID:%1").arg(id);
            return found;
        }
    }
    return std::nullopt;
}

}  // namespace

int asciiReaderId(const QByteArray& idCharacters)
{
    bool ok = false;
    const int id = idCharacters.toInt(&ok, 10);
    return ok ? id : 1;
}

std::optional<DetectedReader> detectReader(ReaderLink& link, const QStringList& ports,
                                           const std::function<void(const QString& port)>& probing)
{
    for (const QString& port : ports) {
        probing(port);
        if (auto found = probeTypeB(link, port))
            return found;
        if (auto found = probeOthers(link, port))
            return found;
    }
    return std::nullopt;
}
