// A card number in its canonical 16-character form (CardHex) and in the six
// send formats the user can choose.
#pragma once

#include "settings/SendFormat.h"

#include <QByteArray>
#include <optional>

// The captions of the six formats, in index order.
const char* sendFormatCaption(int index);

// The card characters with their byte order reversed when `reverse`, then
// padded with zeros in front (or cut at the front) to exactly 16 characters.
QByteArray BuildCardHex(const QByteArray& cardField, bool reverse);

// CardHex in the send format; a format outside 0..5 counts as 8H. Empty
// when CardHex holds anything but the digits 0-9 and the letters A-F or a-f
// (which are kept as sent): a faulty reader must type nothing else.
std::optional<QByteArray> FormatCardNumber(const QByteArray& cardHex, int sendFormat);
