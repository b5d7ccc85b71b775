// The settings store on Windows: the user's registry key (RegistryStore.h),
// or a settings file given by name, read and replaced through Qt.
#include "settings/StoredSettings.h"

#include "settings/IniSettings.h"
#include "settings/windows/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace {

bool isRegistryPath(const QString& path)
{
    return path.startsWith(QLatin1String("\\HKEY_"), Qt::CaseInsensitive)
        || path.startsWith(QLatin1String("HKEY_"), Qt::CaseInsensitive);
}

std::optional<QByteArray> readSettingsFile(const QString& name)
{
    if (!QFileInfo(name).isFile())
        return std::nullopt;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.read(kMaxSettingsFileSize + 1);
    if (data.size() > kMaxSettingsFileSize || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

LoadResult loadFile(const QString& path)
{
    const auto data = readSettingsFile(QFileInfo(path).absoluteFilePath());
    return data ? readIniSettings(*data) : LoadResult();
}

SaveResult::Outcome saveFile(const QString& path, const Settings& values)
{
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    if (target.isEmpty())
        return SaveResult::NotReplaced;  // a link to nothing
    QByteArray previous;
    if (QFileInfo::exists(target)) {
        const auto data = readSettingsFile(target);
        const LoadResult now = data ? readIniSettings(*data) : LoadResult();
        if (!now.ours)
            return SaveResult::NotReplaced;
        previous = *data;
    } else if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        return SaveResult::Failed;
    }
    const QByteArray text = renderIniSettings(previous, values);
    QSaveFile file(target);
    if (text.size() > kMaxSettingsFileSize || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(text) != text.size() || !file.flush() || !file.commit())
        return SaveResult::Failed;
    return SaveResult::Saved;
}

}  // namespace

LoadResult loadStoredSettings(const QString& path)
{
    return isRegistryPath(path) ? loadRegistrySettings() : loadFile(path);
}

SaveResult::Outcome saveStoredSettings(const QString& path, const Settings& values)
{
    if (isRegistryPath(path))
        return saveRegistrySettings(values) ? SaveResult::Saved : SaveResult::Failed;
    return saveFile(path, values);
}
