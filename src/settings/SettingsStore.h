// Loading and saving the settings record: an INI file (IniSettings.h), or on
// Windows the registry (settings/windows/RegistryStore.h); StoredSettings.h
// says which file the build takes for each system.
#pragma once

#include "settings/Settings.h"

#include <QString>

// On Unix a path may hold bytes that are not UTF-8, kept as FileNameBytes.h
// describes; they reach the file system unchanged.

// Reads the settings file at `path` (see readIniSettings): a file that is
// missing, no regular file, larger than 1 MiB or broken is a first run;
// another user's file (or link) in a shared sticky folder is not read
// (OtherUsersFile). The values come back validated (Settings::validated).
// While there is nothing at all at the user's own place
// (defaultSettingsPath()), the machine's defaults are read instead, and
// machineDefaults is set: on Windows from HKEY_LOCAL_MACHINE, elsewhere from
// machineSettingsFile(). A path given otherwise stands alone.
LoadResult loadSettings(const QString& path);

struct SaveResult {
    enum Outcome {
        Saved,
        NotReplaced,  // the file there is no settings file of ours (nor did we
                      // write it), or is no regular file: left alone, nothing written
        Failed,       // could not be written (or may not be: another user's
                      // file or link in a shared folder); the previous file is as it was
    } outcome
        = Failed;
    explicit operator bool() const { return outcome == Saved; }
};

// Writes all values, creating the folder of `path` if needed. A blank
// ExportFile is replaced by defaultExportFile() in `values` before it is
// written. Only an absent file, or a regular file that is empty or holds
// values of ours (or was written by this program), is replaced; its other
// lines are kept. The text is made in memory and replaces the file
// atomically by a rename in its folder; it is never larger than loading
// accepts.
SaveResult saveSettings(const QString& path, Settings& values);
