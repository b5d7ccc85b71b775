// Where the system keeps the settings, behind loadSettings() and
// saveSettings() (SettingsStore.h), which bring the values into their
// ranges: the build takes UnixSettingsStore.cpp or
// windows/WinSettingsStore.cpp.
#pragma once

#include "settings/SettingsStore.h"

// The values at `path` as they are stored, not yet validated.
LoadResult loadStoredSettings(const QString& path);

// Writes `values` as they are.
SaveResult::Outcome saveStoredSettings(const QString& path, const Settings& values);
