// File names as the system's bytes. On Unix a name is any bytes, and Qt 6
// reads them as UTF-8 with no way back for a byte that is not part of a
// valid sequence: "caf\xe9.conf" would become "caf\uFFFD.conf", another file.
// These functions keep each such byte in the QString as a lone low surrogate
// U+DC80..U+DCFF, which no decoded text holds, so a name survives the trip
// through a QString and back unchanged. Only the settings file name takes
// this road: it comes from the command line and goes to the file system,
// the info log and the autostart entry.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Valid UTF-8 decoded, every other byte kept.
QString fileNameFromBytes(QByteArrayView bytes);
// The bytes fileNameFromBytes() was given; other text as UTF-8.
QByteArray fileNameBytes(QStringView name);
// Whether the name holds a byte that is not UTF-8.
bool holdsRawBytes(QStringView name);
// The byte kept at `name[i]`, or -1 where `name[i]` is text.
int keptByteAt(QStringView name, qsizetype i);
// `name` from the working folder when it is relative; on Unix the working
// folder's own bytes are kept too.
QString absoluteFileName(const QString& name);
