// The fourteen settings (and the desktop portal's token) as one plain value:
// the settings store reads and writes it, the window edits it, and the reader
// worker receives a copy of it whenever it changes. Their stored names and
// kinds are listed once, in SettingsFields.h.
#pragma once

#include "link/ReaderTypes.h"

#include <QMetaType>
#include <QString>

struct Settings {
    QString CommName;  // default: defaultPortName()
    QString CommBaudRate = QLatin1String(kDefaultLineSettings);
    int ReaderType = 0;    // 0..5, Type A..F
    int ReaderID = 1;      // 0..99
    int SameCardTime = 0;  // seconds, 0..99999; 0 is off
    bool AddReturn = true;
    bool AddDown = false;
    bool CardIDReverse = false;
    bool AutoRun = false;
    int Language = 0;    // 0..2
    int SendFormat = 0;  // 0..5
    bool SaveToFile = false;
    bool TimeField = false;
    QString ExportFile;          // default: defaultExportFile()
    QString PortalRestoreToken;  // from the desktop portal: permission to type without asking again

    static constexpr int kMaxReaderID = 99;
    static constexpr int kMaxSameCardTime = 99999;
    // Portals hand out short tokens; a longer one is refused, not stored.
    static constexpr int kMaxPortalRestoreToken = 4096;

    // The same values brought into the ranges the program works with: a
    // number beyond a range takes its nearest end (reader ID, filter time) or
    // its default (reader type, language, send format), a blank card log
    // path the default path, and a token past its limit none. Every record
    // the program acts on is made so.
    Settings validated() const;

    // The reader ID as the commands carry it: two decimal digits.
    QByteArray readerIdText() const;

    // Port, line settings, reader type or reader ID differ: a link made with
    // `other` does not serve these settings.
    bool sameLink(const Settings& other) const;
};

// $XDG_CONFIG_HOME/Quorix/Tallyport.conf; on Windows the user's registry key
// "\HKEY_CURRENT_USER\Software\Quorix\Tallyport" (any path starting with
// "HKEY_" or "\HKEY_" stands for that key).
QString defaultSettingsPath();
// "/dev/ttyS0" ("COM1" on Windows).
QString defaultPortName();
// ~/card.txt (card.txt in the user's Documents folder on Windows).
QString defaultExportFile();
// Every value at its default, CommName and ExportFile filled in.
Settings defaultSettings();

struct LoadResult {
    Settings values = defaultSettings();
    enum Outcome {
        NoFile,  // missing, unreadable or corrupt: first run
        Loaded,
        StoppedAtWrongType,  // values before stoppedAt were read, the rest are defaults
        OtherUsersFile,      // left in a shared folder by another user: not read,
                             // defaults as on a first run
    } outcome
        = NoFile;
    QString stoppedAt;  // name of the value that was not of its type
    // Some value of ours was there, or nothing at all was: a file a save may
    // replace. Another program's INI file loads, but is no file of ours;
    // a broken one (NoFile) never is.
    bool ours = false;
    // The values are the machine's defaults (MachineDefaults.h): the user has
    // no settings of their own yet.
    bool machineDefaults = false;
};

Q_DECLARE_METATYPE(Settings)
