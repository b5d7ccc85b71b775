// The send formats a card number can be typed in, by the index the
// SendFormat setting holds; the card formats themselves are
// reading/CardFormat.h.
#pragma once

enum SendFormat { Format8H, Format6H, Format10D, Format8D, Format16H, FormatD, kSendFormatCount };
