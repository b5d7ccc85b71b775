#include "reading/CardFormat.h"

#include <cstdio>

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The hexadecimal digits read as an unsigned 32-bit number; empty when any
// character is not a hexadecimal digit.
std::optional<quint32> hexValue(const QByteArray& digits)
{
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    for (char c : digits) {
        if (!isHexDigit(c))
            return std::nullopt;
    }
    return digits.toUInt(nullptr, 16);
}

QByteArray decimal(quint32 value, int width)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", width, static_cast<unsigned>(value));
    return QByteArray(text);
}

}  // namespace

const char* sendFormatCaption(int index)
{
    static const char* const captions[kSendFormatCount] = {"8H", "6H", "10D", "8D", "16H", "D"};
    return index >= 0 && index < kSendFormatCount ? captions[index] : captions[0];
}

QByteArray BuildCardHex(const QByteArray& cardField, bool reverse)
{
    QByteArray field = cardField;
    if (reverse) {
        // Groups of two characters counted from the first, in reverse order:
        // the byte order turns round, each byte keeps its two digits.
        QByteArray reversed;
        reversed.reserve(field.size());
        for (qsizetype start = (field.size() - 1) / 2 * 2; start >= 0; start -= 2)
            reversed += field.mid(start, 2);
        field = reversed;
    }
    const QByteArray padded = QByteArray(16, '0') + field;
    return padded.right(16);
}

std::optional<QByteArray> FormatCardNumber(const QByteArray& cardHex, int sendFormat)
{
    // A card number is hexadecimal: anything else in the field came from a
    // faulty or hostile reader and must not be typed, in any format.
    for (char c : cardHex) {
        if (!isHexDigit(c))
            return std::nullopt;
    }
    std::optional<QByteArray> output;
    switch (sendFormat) {
    case Format6H: output = cardHex.mid(10, 6); break;
    case Format16H: output = cardHex; break;
    case Format10D:
        if (const auto value = hexValue(cardHex.mid(8, 8)))
            output = decimal(*value, 10);
        break;
    case Format8D:
        if (const auto value = hexValue(cardHex.mid(10, 6)))
            output = decimal(*value, 8);
        break;
    case FormatD:
        if (const auto value = hexValue(cardHex.mid(8, 8)))
            output = decimal(*value, 0);
        break;
    default: output = cardHex.mid(8, 8); break;
    }
    return output;
}
