#include "settings/windows/RegistryStore.h"

#include "settings/SettingsFields.h"
#include "settings/windows/WinSettings.h"

namespace {

// Copies each value from one kind of record to the other.
struct ToRegistry {
    void text(const char*, const QString& from, std::wstring& to) { to = from.toStdWString(); }
    void integer(const char*, int from, int& to) { to = from; }
    void boolean(const char*, bool from, bool& to) { to = from; }
};
struct FromRegistry {
    void text(const char*, QString& to, const std::wstring& from) { to = QString::fromStdWString(from); }
    void integer(const char*, int& to, int from) { to = from; }
    void boolean(const char*, bool& to, bool from) { to = from; }
};

winsettings::Values toRegistry(const Settings& s)
{
    winsettings::Values v;
    forEachStoredValue(ToRegistry(), s, v);
    return v;
}

}  // namespace

LoadResult loadRegistrySettings()
{
    winsettings::Values values = toRegistry(defaultSettings());
    const winsettings::LoadOutcome outcome = winsettings::load(values);
    LoadResult result;
    switch (outcome.kind) {
    case winsettings::LoadOutcome::NotFound: return result;
    case winsettings::LoadOutcome::Loaded: result.outcome = LoadResult::Loaded; break;
    case winsettings::LoadOutcome::StoppedAtWrongType:
        result.outcome = LoadResult::StoppedAtWrongType;
        result.stoppedAt = QString::fromStdWString(outcome.stoppedAt);
        break;
    }
    result.ours = true;
    result.machineDefaults = outcome.fromMachineKey;
    forEachStoredValue(FromRegistry(), result.values, values);
    return result;
}

bool saveRegistrySettings(const Settings& values)
{
    return winsettings::save(toRegistry(values));
}
