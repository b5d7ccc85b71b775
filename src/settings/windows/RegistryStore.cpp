#include "settings/windows/RegistryStore.h"

#include "settings/windows/WinSettings.h"

namespace {

winsettings::Values toRegistry(const StoredSettings& s)
{
    winsettings::Values v;
    v.CommName = s.CommName.toStdWString();
    v.CommBaudRate = s.CommBaudRate.toStdWString();
    v.ReaderType = s.ReaderType;
    v.ReaderID = s.ReaderID;
    v.SameCardTime = s.SameCardTime;
    v.AddReturn = s.AddReturn;
    v.AddDown = s.AddDown;
    v.CardIDReverse = s.CardIDReverse;
    v.AutoRun = s.AutoRun;
    v.Language = s.Language;
    v.SendFormat = s.SendFormat;
    v.SaveToFile = s.SaveToFile;
    v.TimeField = s.TimeField;
    v.ExportFile = s.ExportFile.toStdWString();
    return v;
}

StoredSettings fromRegistry(const winsettings::Values& v)
{
    StoredSettings s;
    s.CommName = QString::fromStdWString(v.CommName);
    s.CommBaudRate = QString::fromStdWString(v.CommBaudRate);
    s.ReaderType = v.ReaderType;
    s.ReaderID = v.ReaderID;
    s.SameCardTime = v.SameCardTime;
    s.AddReturn = v.AddReturn;
    s.AddDown = v.AddDown;
    s.CardIDReverse = v.CardIDReverse;
    s.AutoRun = v.AutoRun;
    s.Language = v.Language;
    s.SendFormat = v.SendFormat;
    s.SaveToFile = v.SaveToFile;
    s.TimeField = v.TimeField;
    s.ExportFile = QString::fromStdWString(v.ExportFile);
    return s;
}

}  // namespace

LoadResult loadRegistrySettings()
{
    winsettings::Values values = toRegistry(defaultSettings());
    const winsettings::LoadOutcome outcome = winsettings::load(values);
    LoadResult result;
    switch (outcome.kind) {
    case winsettings::LoadOutcome::NotFound:
        return result;
    case winsettings::LoadOutcome::Loaded:
        result.outcome = LoadResult::Loaded;
        break;
    case winsettings::LoadOutcome::StoppedAtWrongType:
        result.outcome = LoadResult::StoppedAtWrongType;
        result.stoppedAt = QString::fromStdWString(outcome.stoppedAt);
        break;
    }
    result.values = fromRegistry(values);
    return result;
}

bool saveRegistrySettings(const StoredSettings& values)
{
    return winsettings::save(toRegistry(values));
}
