#include "settings/SharedFolder.h"

// Unix alone has such folders; on Windows nothing here is built.
#ifdef Q_OS_UNIX
#include <cstdlib>
#include <unistd.h>

bool isStrangersEntry(const QByteArray& path, const struct stat& entry)
{
    if (entry.st_uid == ::geteuid())
        return false;
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
    struct stat folder { };
    if (::stat(folderPath.constData(), &folder) != 0)
        return true;  // a folder we cannot even look at is nobody's to trust
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return shared && entry.st_uid != folder.st_uid;
}

bool leadsToStrangersFile(const QByteArray& path)
{
    struct stat entry { };
    if (::lstat(path.constData(), &entry) != 0)
        return false;
    if (!S_ISLNK(entry.st_mode))
        return isStrangersEntry(path, entry);
    if (isStrangersEntry(path, entry))
        return true;
    char* real = ::realpath(path.constData(), nullptr);
    if (!real)
        return false;
    const QByteArray target(real);
    std::free(real);
    return ::stat(target.constData(), &entry) == 0 && isStrangersEntry(target, entry);
}
#endif
