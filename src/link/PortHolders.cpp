#include "link/PortHolders.h"

#ifdef Q_OS_WIN

QHash<QString, QList<PortHolder>> portHolders(const QStringList&)
{
    return {};
}

#else

#include <QFile>
#include <QSet>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Device numbers of the pseudo-terminal slaves (/dev/pts/N), majors 136 to
// 143, and of the multiplexer whose open file is a master (/dev/ptmx, 5:2).
constexpr unsigned kFirstPtsMajor = 136;
constexpr unsigned kLastPtsMajor = 143;
const dev_t kPtmx = makedev(5, 2);

struct Device {
    dev_t rdev = 0;
    int ptyIndex = -1;  // a pseudo-terminal's number, else -1
};

bool deviceOf(const QString& port, Device& device)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(port).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    device.rdev = info.st_rdev;
    const unsigned major = ::major(info.st_rdev);
    if (major >= kFirstPtsMajor && major <= kLastPtsMajor)
        device.ptyIndex = static_cast<int>((major - kFirstPtsMajor) * 256 + ::minor(info.st_rdev));
    return true;
}

QByteArray readSmallFile(const QByteArray& path)
{
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// The number of the pseudo-terminal whose master is open as file `fd` of
// process `pid`, or -1.
int masterIndex(const QByteArray& pid, const char* fd)
{
    const QByteArray info = readSmallFile("/proc/" + pid + "/fdinfo/" + fd);
    const int at = info.indexOf("tty-index:");
    if (at < 0)
        return -1;
    return std::atoi(info.constData() + at + std::strlen("tty-index:"));
}

QString commandName(const QByteArray& pid)
{
    return QString::fromLocal8Bit(readSmallFile("/proc/" + pid + "/comm").trimmed());
}

bool isNumber(const char* text)
{
    if (!*text)
        return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

}  // namespace

QHash<QString, QList<PortHolder>> portHolders(const QStringList& ports)
{
    QHash<dev_t, QString> portOf;
    QHash<dev_t, int> ptyOf;
    for (const QString& port : ports) {
        Device device;
        if (deviceOf(port, device)) {
            portOf.insert(device.rdev, port);
            if (device.ptyIndex >= 0)
                ptyOf.insert(device.rdev, device.ptyIndex);
        }
    }
    QHash<QString, QList<PortHolder>> holders;
    if (portOf.isEmpty())
        return holders;

    const QByteArray self = QByteArray::number(static_cast<qint64>(::getpid()));
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return holders;
    QHash<QString, QList<PortHolder>> found;
    QHash<QString, QSet<qint64>> pidsServing;  // who holds each pseudo-terminal's master
    while (const dirent* process = ::readdir(proc)) {
        if (!isNumber(process->d_name) || self == process->d_name)
            continue;
        const QByteArray pid(process->d_name);
        const QByteArray fdFolder = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdFolder.constData());
        if (!fds)
            continue;  // gone, or not ours to look into
        QSet<QString> held;
        QSet<int> masters;
        while (const dirent* fd = ::readdir(fds)) {
            if (!isNumber(fd->d_name))
                continue;
            struct stat info = {};
            if (::stat((fdFolder + '/' + fd->d_name).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
                continue;
            if (const auto port = portOf.constFind(info.st_rdev); port != portOf.constEnd()) {
                held.insert(*port);
            } else if (info.st_rdev == kPtmx && !ptyOf.isEmpty()) {
                const int index = masterIndex(pid, fd->d_name);
                if (index >= 0)
                    masters.insert(index);
            }
        }
        ::closedir(fds);
        if (held.isEmpty() && masters.isEmpty())
            continue;
        const PortHolder holder{pid.toLongLong(), commandName(pid)};
        for (const QString& port : held)
            found[port] << holder;
        for (int index : masters) {
            for (auto it = ptyOf.constBegin(); it != ptyOf.constEnd(); ++it) {
                if (it.value() == index)
                    pidsServing[portOf.value(it.key())].insert(holder.pid);
            }
        }
    }
    ::closedir(proc);

    // The server of a pseudo-terminal may hold its slave as well; it is the
    // line's far end, not a holder.
    for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
        const QSet<qint64> serving = pidsServing.value(it.key());
        QList<PortHolder> others;
        for (const PortHolder& holder : it.value()) {
            if (!serving.contains(holder.pid))
                others << holder;
        }
        if (!others.isEmpty())
            holders.insert(it.key(), others);
    }
    return holders;
}

#endif

QList<PortHolder> portHolders(const QString& port)
{
    return portHolders(QStringList{port}).value(port);
}
