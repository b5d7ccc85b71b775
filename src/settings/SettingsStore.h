// The fourteen persisted settings: a plain record, and loading and saving it
// as an INI file through QSettings, or on Windows in the registry
// (settings/windows/RegistryStore.h).
#pragma once

#include "settings/Settings.h"

#include <QString>

// On Unix a path may hold bytes that are not UTF-8, kept as FileNameBytes.h
// describes; they reach the file system unchanged.

// The settings record under the name the store has always used for it.
using StoredSettings = Settings;

// $XDG_CONFIG_HOME/Quorix/Tallyport.conf; on Windows the user's registry key
// "\HKEY_CURRENT_USER\Software\Quorix\Tallyport" (any path starting with
// "HKEY_" or "\HKEY_" stands for that key).
QString defaultSettingsPath();
// "/dev/ttyS0" ("COM1" on Windows).
QString defaultPortName();
// ~/card.txt (card.txt in the user's Documents folder on Windows).
QString defaultExportFile();
// Every value at its default, CommName and ExportFile filled in.
StoredSettings defaultSettings();

struct LoadResult {
    StoredSettings values = defaultSettings();
    enum Outcome {
        NoFile,              // missing, unreadable or corrupt: first run
        Loaded,
        StoppedAtWrongType,  // values before stoppedAt were read, the rest are defaults
    } outcome = NoFile;
    QString stoppedAt;       // name of the value that was not of its type
};

// Reads the [General] section of an INI file. A value that is missing keeps
// its default; the values come back validated (Settings::validated). Integers must be integer text; reading stops at the first one
// that is not (and at a string value that is not text). Booleans are true for
// a non-zero integer or "true" in any case, false for any other text.
LoadResult loadSettings(const QString& path);

struct SaveResult {
    enum Outcome {
        Saved,
        NotReplaced,  // the file there did not load as settings (nor did we write
                      // it), or is no regular file: left alone, nothing written
        Failed,       // could not be written; the previous file is as it was
    } outcome = Failed;
    explicit operator bool() const { return outcome == Saved; }
};

// Writes all values, creating the folder of `path` if needed. A blank
// ExportFile is replaced by defaultExportFile() in `values` before it is
// written. Only an absent file, or a regular file that loads as a settings
// file (or was written by this program), is replaced; other keys in it are
// kept. The text is
// made in memory and replaces the file atomically by a rename in its folder;
// it is never larger than loading accepts.
SaveResult saveSettings(const QString& path, StoredSettings& values);
