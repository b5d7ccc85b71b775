// Text as the info log shows it. What a reader sends, a port's name and a
// file's name are not trusted to be printable: the one escaper here writes
// whatever would reach a terminal as a control, or is not text at all, as
// \xNN.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// `name` with every control character (C0, DEL, C1) and every byte kept
// from a file name (FileNameBytes.h) written as \xNN.
QString shownName(QStringView name);

// Bytes from the reader with every byte outside printable ASCII written as
// \xNN.
QByteArray printable(const QByteArray& text);
