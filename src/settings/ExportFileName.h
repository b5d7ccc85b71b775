// The name of the file that cards are written to when saving to a file.
#pragma once

#include <QString>

// `chosen` unchanged when "TXT" occurs anywhere in its upper-case form (also in a
// folder name); otherwise with ".txt" appended. An empty name stays empty.
QString exportFileWithExtension(const QString& chosen);

// Creates every missing folder on the way to the file `path`. False when that
// fails or when `path` names no folder at all.
bool createFoldersOf(const QString& path);
