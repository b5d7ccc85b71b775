#include "link/ReaderTypes.h"

namespace {

const ReaderType kTypes[ReaderTypeCount] = {
    {"Type A", Framing::Tab, 'A', 16, 3, 6, {{17, 7, 8}, {0, 0, 0}, {0, 0, 0}}, 0},
    {"Type B", Framing::Soh, 0, 15, 2, 5, {{25, 7, 16}, {17, 7, 8}, {0, 0, 0}}, 0},
    {"Type C", Framing::Tab, 'H', 16, 3, 6, {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0},
    {"Type D", Framing::Tab, 'I', 16, 3, 6, {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0},
    {"Type E", Framing::Tab, 'J', 16, 3, 6, {{18, 8, 8}, {0, 0, 0}, {0, 0, 0}}, 0},
    {"Type F", Framing::Binary, 0, 10, 0, 0, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 14},
};

QByteArray command(const ReaderType& type, const QByteArray& id, char tabSuffix, char sohSuffix)
{
    if (type.framing == Framing::Tab)
        return type.letter + id + tabSuffix;
    return id + sohSuffix;
}

}  // namespace

const ReaderType* readerType(int index)
{
    return index >= 0 && index < ReaderTypeCount ? &kTypes[index] : nullptr;
}

QByteArray handshakeCommand(const ReaderType& type, const QByteArray& id)
{
    return command(type, id, 'B', 'S');
}

QByteArray pollCommand(const ReaderType& type, const QByteArray& id)
{
    return command(type, id, 'F', 'C');
}

QByteArray binaryWakeData() { return QByteArray::fromHex("000000E7"); }
QByteArray binaryIdentityData() { return QByteArray::fromHex("00000000"); }
QByteArray binaryPollData() { return QByteArray::fromHex("000000E51F"); }

QByteArray cardField(const ReaderType& type, int replyLength, const QByteArray& replyText)
{
    if (type.framing == Framing::Binary)
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
