#include "settings/ReplaceFile.h"

#include <QList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name left by a save that was killed between naming and renaming.
bool isLeftover(const char* name, const QByteArray& prefix)
{
    const QByteArrayView view(name);
    if (!view.startsWith(prefix) || view.size() != prefix.size() + 8)
        return false;
    for (const char c : view.sliced(prefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

}  // namespace

bool makeFolders(const QByteArray& folder)
{
    for (qsizetype end = folder.indexOf('/', 1);; end = folder.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? folder : folder.first(end);
        if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (end < 0)
            break;
    }
    struct stat st { };
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes `text` under a new name beside `base` in `dir`, then renames it over
// `base`. The data goes first into a file without a name (O_TMPFILE), which
// a killed process leaves nowhere; it gets a name only for the rename. A name
// left by a process killed just then (or by a system without O_TMPFILE) is
// removed by the next save.
bool replaceFile(const QByteArray& dir, const QByteArray& base, const QByteArray& text, std::optional<mode_t> keepMode)
{
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    const QByteArray prefix = '.' + base + '.';
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        QList<QByteArray> leftovers;
        while (const dirent* entry = ::readdir(listing)) {
            if (isLeftover(entry->d_name, prefix))
                leftovers << entry->d_name;
        }
        ::closedir(listing);
        for (const QByteArray& name : leftovers)
            ::unlinkat(dirFd, name.constData(), 0);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    std::random_device random;
    const auto freshName = [&] { return prefix + QByteArray::number(random(), 16).rightJustified(8, '0'); };
    QByteArray name;
    bool ok = false;
    int fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    const bool anonymous = fd >= 0;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        name = freshName();
        fd = ::openat(dirFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd >= 0) {
        qsizetype written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            written += n;
        }
        // A new file gets the usual mode (the umask applies); a replaced one keeps its own.
        ok = written == text.size() && (!keepMode || ::fchmod(fd, *keepMode) == 0) && ::fsync(fd) == 0;
        if (ok && anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            ok = false;
            for (int attempt = 0; !ok && attempt < 100; ++attempt) {
                name = freshName();
                ok = ::linkat(AT_FDCWD, self.constData(), dirFd, name.constData(), AT_SYMLINK_FOLLOW) == 0;
                if (!ok && errno != EEXIST)
                    break;
            }
            if (!ok)
                name.clear();
        }
        ok = ok && ::renameat(dirFd, name.constData(), dirFd, base.constData()) == 0;
        if (!ok && !name.isEmpty())
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    }
    ::close(dirFd);
    return ok;
}
