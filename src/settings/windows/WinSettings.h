// The program's own places on Windows: its settings in the registry, the
// entry that starts it at log-on, and the default card log file.
//
// Qt-free on purpose, like the Windows keyboard: it builds with a bare cross
// compiler, so its tests run under Wine. The Qt settings store converts its
// record to and from this one. Windows only; the header itself needs no
// Windows headers.
#pragma once

#include <string>

namespace winsettings {

// The fourteen values with the registry's types: texts (REG_SZ), integers
// (REG_DWORD) and booleans (REG_SZ "-1" or "0").
struct Values {
    std::wstring CommName;
    std::wstring CommBaudRate;
    int ReaderType = 0;
    int ReaderID = 0;
    int SameCardTime = 0;
    bool AddReturn = false;
    bool AddDown = false;
    bool CardIDReverse = false;
    bool AutoRun = false;
    int Language = 0;
    int SendFormat = 0;
    bool SaveToFile = false;
    bool TimeField = false;
    std::wstring ExportFile;
};

struct LoadOutcome {
    enum Kind {
        NotFound,  // neither key exists: first run
        Loaded,
        StoppedAtWrongType,  // values before stoppedAt were read, the rest kept
    } kind
        = NotFound;
    bool fromMachineKey = false;  // read from the machine's key (HKEY_LOCAL_MACHINE)
    std::wstring stoppedAt;       // name of the value that was not of its type
};

// Below HKEY_CURRENT_USER. Below HKEY_LOCAL_MACHINE, which an ordinary user
// cannot write, the same values are the machine's defaults: an
// administrator's (the MSI package writes them into the 64-bit view) or an
// earlier installation's (the 32-bit view). The machine's key is read only
// while the user's key does not exist yet, the 64-bit view first.
extern const wchar_t* const kSettingsKeyPath;
// Below HKEY_CURRENT_USER; the value is named "Tallyport".
extern const wchar_t* const kRunKeyPath;

// Reads the values that exist into `values`, which holds the defaults. A
// missing value keeps its default. A value of the wrong type (not a string
// for a text or boolean, not a REG_DWORD for an integer) ends the reading
// there. REG_EXPAND_SZ counts as a string and is not expanded. A boolean is
// true for a non-zero number or "true" in any case, false for any other text.
LoadOutcome load(Values& values);

// Writes all fourteen values under the user's key, creating it. False when
// the key could not be created or a value not written; the values after a
// failed one are not written.
bool save(const Values& values);

// Writes the log-on entry with the full path of this executable, exactly as
// the system reports it (no quotes, no arguments), or deletes it; a missing
// entry is no error. False when that failed. Deleting it also deletes the
// entry that an earlier installation made for all users below
// HKEY_LOCAL_MACHINE, where this user may (see machineRunEntryRemoval()).
bool setRunEntry(bool enabled);

// The command that removes an earlier installation's log-on entry for all
// users (reg delete "HKLM\…\Run" /v Tallyport /f, with /reg:32 for the
// 32-bit view) while there is one; empty when there is none.
std::wstring machineRunEntryRemoval();

// The full path of this executable.
std::wstring moduleFileName();

// "card.txt" in the user's Documents folder (the profile folder when the
// system names none).
std::wstring defaultCardLogPath();

}  // namespace winsettings
