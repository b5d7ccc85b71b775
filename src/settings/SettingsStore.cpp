#include "settings/SettingsStore.h"

#include "text/FileNameBytes.h"
#include "settings/IniSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <optional>
#include <set>
#include <tuple>

#ifdef Q_OS_UNIX
#include "settings/MachineDefaults.h"
#include "settings/ReplaceFile.h"
#include "settings/SharedFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDir>
#include <QSaveFile>
#endif

#ifdef Q_OS_WIN
#include "settings/windows/RegistryStore.h"
#endif

namespace {

// No settings file of ours comes anywhere near this; anything larger (or a
// device that never ends) is not read.
constexpr qint64 kMaxFileSize = 1024 * 1024;

#ifdef Q_OS_WIN
bool isRegistryPath(const QString& path)
{
    return path.startsWith(QLatin1String("\\HKEY_"), Qt::CaseInsensitive)
        || path.startsWith(QLatin1String("HKEY_"), Qt::CaseInsensitive);
}
#endif

#ifdef Q_OS_UNIX
// The name as the system calls take it, made once.
using FileName = QByteArray;
FileName systemName(const QString& path)
{
    return fileNameBytes(absoluteFileName(path));
}

// Read only when it is a regular file; without waiting, since a FIFO would block.
std::optional<QByteArray> readSettingsFile(const FileName& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        QByteArray read(kMaxFileSize + 1, Qt::Uninitialized);
        qsizetype size = 0;
        while (size < read.size()) {
            const ssize_t n = ::read(fd, read.data() + size, size_t(read.size() - size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    size = -1;
                break;
            }
            size += n;
        }
        if (size >= 0 && size <= kMaxFileSize)
            data = read.first(size);
    }
    ::close(fd);
    return data;
}

// Files this process may replace without reading them again: the ones it
// loaded as settings files of ours and the ones it wrote, known by their
// identity on disk and their size and time of change as they were then.
using FileId = std::tuple<quint64, quint64, qint64, qint64, qint64>;
QMutex knownMutex;
std::set<FileId>& knownFiles()
{
    static std::set<FileId> files;
    return files;
}
FileId fileId(const struct stat& st)
{
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
            qint64(st.st_mtim.tv_nsec)};
}
void rememberFile(const FileName& name)
{
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        QMutexLocker lock(&knownMutex);
        knownFiles().insert(fileId(st));
    }
}
bool isKnownFile(const struct stat& st)
{
    QMutexLocker lock(&knownMutex);
    return knownFiles().count(fileId(st)) > 0;
}

SaveResult::Outcome saveIniFile(const FileName& name, const Settings& values)
{
    // Another user's link or file in a shared folder is not ours to
    // replace, nor to follow (SharedFolder.h); a link of ours stays, and the
    // file it points to is replaced.
    if (leadsToStrangersFile(name))
        return SaveResult::Failed;
    FileName target = name;
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(target.constData(), nullptr);
        if (!real)
            return SaveResult::NotReplaced;  // a link to nothing
        target = real;
        std::free(real);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash == 0 ? QByteArray("/") : target.first(slash);
    const QByteArray base = target.sliced(slash + 1);
    std::optional<mode_t> keepMode;
    QByteArray previous;
    if (::stat(target.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return SaveResult::NotReplaced;
        const auto data = readSettingsFile(target);
        if (!data)
            return SaveResult::NotReplaced;
        // A file changed by someone else since is judged by what it holds now.
        const LoadResult now = readIniSettings(*data);
        if (!isKnownFile(st) && !now.ours)
            return SaveResult::NotReplaced;
        keepMode = st.st_mode & 07777;
        previous = *data;
    } else if (errno != ENOENT || !makeFolders(folder)) {
        return SaveResult::Failed;
    }
    const QByteArray text = renderIniSettings(previous, values);
    // Never a file that loading would refuse.
    if (text.size() > kMaxFileSize || !replaceFile(folder, base, text, keepMode))
        return SaveResult::Failed;
    rememberFile(target);
    return SaveResult::Saved;
}
#else
using FileName = QString;
FileName systemName(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

std::optional<QByteArray> readSettingsFile(const FileName& name)
{
    if (!QFileInfo(name).isFile())
        return std::nullopt;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.read(kMaxFileSize + 1);
    if (data.size() > kMaxFileSize || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

void rememberFile(const FileName&) {}

SaveResult::Outcome saveIniFile(const FileName& name, const Settings& values)
{
    const QFileInfo info(name);
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
    if (text.size() > kMaxFileSize || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(text) != text.size() || !file.flush() || !file.commit())
        return SaveResult::Failed;
    return SaveResult::Saved;
}
#endif

LoadResult loadRaw(const QString& path)
{
#ifdef Q_OS_WIN
    if (isRegistryPath(path))
        return loadRegistrySettings();
#endif
    const FileName name = systemName(path);
#ifdef Q_OS_UNIX
    // Another user's file in a shared folder may name any card log and any
    // start at login: it is not read at all (SharedFolder.h).
    if (leadsToStrangersFile(name)) {
        LoadResult refused;
        refused.outcome = LoadResult::OtherUsersFile;
        return refused;
    }
#endif
    const auto data = readSettingsFile(name);
    if (!data)
        return LoadResult();
    LoadResult result = readIniSettings(*data);
    if (result.ours)
        rememberFile(name);
    return result;
}

#ifdef Q_OS_UNIX
// Only read: the file is not remembered as one a save may replace.
LoadResult loadMachineDefaults(const QString& path)
{
    LoadResult result;
    if (path == defaultSettingsPath() && !QFileInfo(path).exists() && !QFileInfo(path).isSymLink()) {
        const QString machine = machineSettingsFile();
        const auto data = machine.isEmpty() ? std::nullopt : readSettingsFile(systemName(machine));
        if (data) {
            result = readIniSettings(*data);
            result.machineDefaults = result.outcome != LoadResult::NoFile;
        }
    }
    return result;
}
#endif

}  // namespace

LoadResult loadSettings(const QString& path)
{
    LoadResult result = loadRaw(path);
#ifdef Q_OS_UNIX
    if (result.outcome == LoadResult::NoFile) {
        LoadResult machine = loadMachineDefaults(path);
        if (machine.machineDefaults)
            result = machine;
    }
#endif
    result.values = result.values.validated();
    return result;
}

SaveResult saveSettings(const QString& path, Settings& values)
{
    SaveResult result;
    if (values.ExportFile.trimmed().isEmpty())
        values.ExportFile = defaultExportFile();
#ifdef Q_OS_WIN
    if (isRegistryPath(path)) {
        result.outcome = saveRegistrySettings(values) ? SaveResult::Saved : SaveResult::Failed;
        return result;
    }
#endif
    result.outcome = saveIniFile(systemName(path), values);
    return result;
}
