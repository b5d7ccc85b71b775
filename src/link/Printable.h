// Bytes from the reader as log text: what a reader sends is not trusted to
// be printable.
#pragma once

#include <QByteArray>

bool isPrintableAscii(char c);

// `text` with every byte outside printable ASCII written as \xNN, for the log.
QByteArray printable(const QByteArray& text);
