#include "link/ReaderTypes.h"

#include "link/ReaderLink.h"
#include "text/Printable.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr Request kNoRequest = {nullptr, nullptr};
// Types A, C, D and E answer a connect to ID 00 whatever their own ID; type B
// readers are asked for reader 01.
constexpr const char* kAnyId = "00";

// One row per type, its fields in the order of ReaderType; kept in columns.
// clang-format off
const ReaderType kTypes[kReaderTypeCount] = {
    {"Type A", Framing::Tab, nullptr, {"A", "B"}, 16, 3, "  S/N:", 6, kNoRequest, kNoRequest, {"A", "F"}, 150,
     {{17, 7, 8}, {0, 0, 0}, {0, 0, 0}}, 0, kDefaultLineSettings, kAnyId, 20},
    {"Type B", Framing::Soh, nullptr, {"", "S"}, 15, 2, "  S/N:", 5, {"", "A"}, {"", "A0"}, {"", "C"}, 150,
     {{25, 7, 16}, {17, 7, 8}, {0, 0, 0}}, 0, "115200,n,8,1", "01", 0},
    {"Type C", Framing::Tab, nullptr, {"H", "B"}, 16, 3, "  S/N:", 6, kNoRequest, kNoRequest, {"H", "F"}, 150,
     {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0, kDefaultLineSettings, kAnyId, 20},
    {"Type D", Framing::Tab, nullptr, {"I", "B"}, 16, 3, "  S/N:", 6, kNoRequest, kNoRequest, {"I", "F"}, 150,
     {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0, kDefaultLineSettings, kAnyId, 20},
    {"Type E", Framing::Tab, nullptr, {"J", "B"}, 16, 3, "  S/N:", 6, kNoRequest, kNoRequest, {"J", "F"}, 150,
     {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0, kDefaultLineSettings, kAnyId, 20},
    {"Type F", Framing::Binary, "000000E7", {"00000000", ""}, 10, 0, "  ID:", 0, kNoRequest, kNoRequest,
     {"000000E51F", ""}, 450, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 14, kDefaultLineSettings, kAnyId, 20},
};
// clang-format on

const int kWalk[] = {1, 0, 2, 3, 4, 4, 5};

// The mode query's reply: eight characters, the mode just before the checksum.
constexpr int kModeReplyLength = 8;
constexpr int kModePosition = 5;

}  // namespace

const ReaderType* readerType(int index)
{
    return index >= 0 && index < kReaderTypeCount ? &kTypes[index] : nullptr;
}

DetectionWalk detectionWalk()
{
    return {kWalk, static_cast<int>(std::size(kWalk))};
}

QByteArray requestData(const Request& request, const QByteArray& id)
{
    return QByteArray(request.before) + id + QByteArray(request.after);
}

bool transact(ReaderLink& link, const ReaderType& type, const Request& request, const QByteArray& id)
{
    switch (type.framing) {
    case Framing::Soh: return link.SendSohCommand(requestData(request, id));
    case Framing::Tab: return link.SendTabCommand(requestData(request, id));
    case Framing::Binary: return link.SendBinaryFrame(QByteArray::fromHex(request.before));
    }
    return false;
}

std::optional<QString> handshake(ReaderLink& link, const ReaderType& type, const QByteArray& id, int wakePause)
{
    if (type.wake) {
        link.SendBinaryFrame(QByteArray::fromHex(type.wake));
        if (wakePause > 0)
            ReaderLink::pause(wakePause);
    }
    if (!transact(link, type, type.connect, id) || link.ReplyLength() != type.connectLength)
        return std::nullopt;
    const QByteArray reply = link.ReplyText();
    if (type.serialFirst > 0)
        return QLatin1String(type.identityLabel) + QString::fromLatin1(printable(reply.mid(type.serialFirst - 1, 8)));
    return QLatin1String(type.identityLabel) + QString::number(binaryReaderId(reply));
}

int connectReplyReaderId(const ReaderType& type, const QByteArray& replyText)
{
    const int id = type.idFirst > 0 ? asciiReaderId(replyText.mid(type.idFirst - 1, 2)) : binaryReaderId(replyText);
    return std::clamp(id, 0, 99);
}

void settleMode(ReaderLink& link, const ReaderType& type, const QByteArray& id)
{
    if (!type.modeQuery.before)
        return;
    ReaderLink::pause(20);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (transact(link, type, type.modeQuery, id) && link.ReplyLength() == kModeReplyLength) {
            if (link.ReplyText().mid(kModePosition - 1, 1) == "0")
                return;
            ReaderLink::pause(20);
            transact(link, type, type.modeSet, id);
            ReaderLink::pause(50);
        }
        ReaderLink::pause(20);
    }
}

PollReply pollCard(ReaderLink& link, const ReaderType& type, const QByteArray& id)
{
    link.ReplyTimeout = type.pollTimeout;
    PollReply reply;
    reply.ok = transact(link, type, type.poll, id);
    if (!reply.ok)
        return reply;
    reply.card = cardField(type, link.ReplyLength(), link.ReplyText());
    // ReplyText of the ASCII framings ends at a zero byte; the binary one is
    // hexadecimal text.
    if (type.framing != Framing::Binary) {
        const QByteArray sent = cardField(type, link.ReplyLength(), link.replyBytes());
        if (sent != reply.card) {
            reply.faulty = sent;
            reply.card.clear();
        }
    }
    return reply;
}

QByteArray cardField(const ReaderType& type, int replyLength, const QByteArray& replyText)
{
    if (type.minCardLength > 0)
        return replyLength >= type.minCardLength ? replyText : QByteArray();
    for (const CardSlot& slot : type.cards) {
        if (slot.replyLength == 0)
            break;
        if (slot.replyLength == replyLength)
            return replyText.mid(slot.first - 1, slot.count);
    }
    return {};
}

int binaryReaderId(const QByteArray& replyText)
{
    bool ok = false;
    const int id = replyText.toInt(&ok, 10);
    return ok ? id : 0;
}

int asciiReaderId(const QByteArray& idCharacters)
{
    bool ok = false;
    const int id = idCharacters.toInt(&ok, 10);
    return ok ? id : 1;
}
