// The settings record as the text of an INI file, read and written through
// the codec (IniCodec.h), the one list of values (SettingsFields.h) and
// the value rules (StoredValues.h).
#pragma once

#include "settings/Settings.h"

#include <QByteArray>

// No settings file of ours comes anywhere near this: a larger file (or a
// device that never ends) is not read, and a text this large not written.
constexpr qint64 kMaxSettingsFileSize = 1024 * 1024;

// Reads the [General] section (and the keys before any section): values in
// their stored order until the first of the wrong type; a missing value keeps
// its default. Lines that are neither sections nor values are skipped, as Qt
// skips them; but a text that has such lines and no value of ours (a note, a
// card log) is no settings file (NoFile). Values come back as stored, not
// validated.
LoadResult readIniSettings(const QByteArray& text);

// `previous` (a file of ours, or empty) with `values` in a [General] section
// at the top and their old lines taken out; every other line stays as it was.
// The same values over a file made so give the same bytes again.
QByteArray renderIniSettings(const QByteArray& previous, const Settings& values);
