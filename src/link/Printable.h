// Bytes from the reader as log text: what a reader sends is not trusted to
// be printable.
#pragma once

#include <QByteArray>
#include <QString>

// `text` with every byte outside printable ASCII written as \xNN, for the log.
QByteArray printable(const QByteArray& text);

// A name (a port, a file) as the log shows it: control characters written
// as \xNN, as the bytes a reader sends are, so that none reaches a terminal.
QString shownName(const QString& name);
