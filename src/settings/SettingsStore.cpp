#include "settings/SettingsStore.h"

#include "settings/StoredSettings.h"

LoadResult loadSettings(const QString& path)
{
    LoadResult result = loadStoredSettings(path);
    result.values = result.values.validated();
    return result;
}

SaveResult saveSettings(const QString& path, Settings& values)
{
    if (values.ExportFile.trimmed().isEmpty())
        values.ExportFile = defaultExportFile();
    SaveResult result;
    result.outcome = saveStoredSettings(path, values);
    return result;
}
