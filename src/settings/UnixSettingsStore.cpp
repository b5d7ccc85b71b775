// The settings store on Unix: the settings file, read and replaced byte for
// byte by the system's calls (names are bytes, see FileNameBytes.h), and the
// machine's defaults in the system's configuration folders. Windows has its
// own (settings/windows/WinSettingsStore.cpp).
#include "settings/StoredSettings.h"

#include "settings/IniSettings.h"
#include "settings/MachineDefaults.h"
#include "settings/ReplaceFile.h"
#include "settings/SharedFolder.h"
#include "text/FileNameBytes.h"

#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// The name as the system calls take it, made once.
QByteArray systemName(const QString& path)
{
    return fileNameBytes(absoluteFileName(path));
}

// Read only when it is a regular file; without waiting, since a FIFO would block.
std::optional<QByteArray> readSettingsFile(const QByteArray& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st { };
    std::optional<QByteArray> data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        QByteArray read(kMaxSettingsFileSize + 1, Qt::Uninitialized);
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
        if (size >= 0 && size <= kMaxSettingsFileSize)
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
void rememberFile(const QByteArray& name)
{
    struct stat st { };
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

SaveResult::Outcome saveIniFile(const QByteArray& name, const Settings& values)
{
    // Another user's link or file in a shared folder is not ours to
    // replace, nor to follow (SharedFolder.h); a link of ours stays, and the
    // file it points to is replaced.
    if (leadsToStrangersFile(name))
        return SaveResult::Failed;
    QByteArray target = name;
    struct stat st { };
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
    if (text.size() > kMaxSettingsFileSize || !replaceFile(folder, base, text, keepMode))
        return SaveResult::Failed;
    rememberFile(target);
    return SaveResult::Saved;
}

LoadResult loadRaw(const QString& path)
{
    const QByteArray name = systemName(path);
    // Another user's file in a shared folder may name any card log and any
    // start at login: it is not read at all (SharedFolder.h).
    if (leadsToStrangersFile(name)) {
        LoadResult refused;
        refused.outcome = LoadResult::OtherUsersFile;
        return refused;
    }
    const auto data = readSettingsFile(name);
    if (!data)
        return LoadResult();
    LoadResult result = readIniSettings(*data);
    if (result.ours)
        rememberFile(name);
    return result;
}

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

}  // namespace

LoadResult loadStoredSettings(const QString& path)
{
    const LoadResult result = loadRaw(path);
    if (result.outcome == LoadResult::NoFile) {
        const LoadResult machine = loadMachineDefaults(path);
        if (machine.machineDefaults)
            return machine;
    }
    return result;
}

SaveResult::Outcome saveStoredSettings(const QString& path, const Settings& values)
{
    return saveIniFile(systemName(path), values);
}
