// Starting the program at login: a desktop entry in the user's XDG autostart
// folder; on Windows the value of the user's Run key instead
// (settings/windows/RunEntryAutostart.cpp).
#pragma once

#include <QString>

// $XDG_CONFIG_HOME/autostart/tallyport.desktop (~/.config when unset).
QString autostartEntryPath();

// Writes the entry when `enabled`, starting `executable` (made absolute) with
// "--settings FILE" when `settingsFile` is not empty (a name holding bytes
// that are not UTF-8, see FileNameBytes.h, through /bin/sh); removes it
// otherwise (a missing entry is no error). Returns false when that failed.
bool setAutostart(bool enabled, const QString& executable, const QString& settingsFile);

// On Windows: the command an administrator runs to remove the entry with
// which an earlier installation started the program for all users, while
// that entry is there (a user may not remove it). Empty otherwise, and
// always elsewhere.
QString autostartLeftForAllUsers();
