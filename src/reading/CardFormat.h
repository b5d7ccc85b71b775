// A card number in its canonical 16-character form (CardHex) and in the six
// send formats the user can choose.
#pragma once

#include "link/Printable.h"  // printable(), which the card texts of the log use

#include <QByteArray>
#include <optional>

enum SendFormat { Format8H, Format6H, Format10D, Format8D, Format16H, FormatD, SendFormatCount };

// The captions of the six formats, in index order.
const char* sendFormatCaption(int index);

// The card characters with their byte order reversed when `reverse`, then
// padded with zeros in front (or cut at the front) to exactly 16 characters.
QByteArray BuildCardHex(const QByteArray& cardField, bool reverse);

// CardHex in the send format; a format outside 0..5 counts as 8H. Empty
// when a decimal format meets a character that is not a hexadecimal digit,
// or when the text to be sent would hold a control character or a byte
// outside ASCII (a faulty reader must not type control keys).
std::optional<QByteArray> FormatCardNumber(const QByteArray& cardHex, int sendFormat);
