// Defaults that an administrator sets for every user of a machine. A user
// without settings of their own starts with them; the program only reads
// them. On Windows they are the values under HKEY_LOCAL_MACHINE that the MSI
// package writes (settings/windows/WinSettings.h); elsewhere a settings file
// in the system's configuration folders, found here.
#pragma once

#include <QString>

// The first Quorix/Tallyport.conf in the folders of $XDG_CONFIG_DIRS (by
// default /etc/xdg), the more important folder first; empty when none has one.
QString machineSettingsFile();
