// The settings store's registry branch on Windows: the record of
// SettingsStore.h read from and written to the user's registry key (see
// WinSettings.h for where and how).
#pragma once

#include "settings/SettingsStore.h"

LoadResult loadRegistrySettings();
// A blank ExportFile is replaced by defaultExportFile() in `values` first.
bool saveRegistrySettings(StoredSettings& values);
