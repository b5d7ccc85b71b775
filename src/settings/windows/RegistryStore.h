// The settings store's registry branch on Windows: the record of
// Settings.h read from and written to the user's registry key (see
// WinSettings.h for where and how).
#pragma once

#include "settings/Settings.h"

LoadResult loadRegistrySettings();
bool saveRegistrySettings(const Settings& values);
