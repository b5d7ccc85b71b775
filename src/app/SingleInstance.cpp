#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The session's runtime folder, or, where there is none, a folder of our
// own in the temporary folder. Anyone may create that one first, so it is
// used only when it is a real folder of this user that nobody else can
// write to. Empty, with `why` filled in, when there is no such folder.
QString runtimeFolder(QString& why)
{
#ifdef Q_OS_WIN
    // Windows always names one, and it is the user's own.
    Q_UNUSED(why);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(folder);
#else
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!session.isEmpty())
        return session;
    const QString folder = QDir::tempPath() + QStringLiteral("/tallyport-%1").arg(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        why = QStringLiteral("cannot create %1: %2").arg(folder, errorText(errno));
        return QString();
    }
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0) {
        why = QStringLiteral("cannot read %1: %2").arg(folder, errorText(errno));
        return QString();
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        why = QStringLiteral("%1 is not a folder of this user").arg(folder);
        return QString();
    }
    if ((info.st_mode & 077) != 0) {
        // Made by us with a wider mode, and closed to other writers: ours to
        // make private. Open to others, it may hold anything they put there.
        if ((info.st_mode & 022) != 0 || ::chmod(path.constData(), 0700) != 0) {
            why = QStringLiteral("%1 is open to other users").arg(folder);
            return QString();
        }
    }
#endif
    return folder;
}

// Qt removes a stale lock only when it can open it; a link to nothing it
// cannot.
bool removeLinkToNothing(const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    struct stat info = {};
    const QByteArray name = QFile::encodeName(path);
    return ::lstat(name.constData(), &info) == 0 && S_ISLNK(info.st_mode) && ::stat(name.constData(), &info) != 0
        && ::unlink(name.constData()) == 0;
#endif
}

// Whether a live process holds the lock at `path`. A copy holds its lock from
// the moment it creates it, before it has written its process id into it, to
// the moment it removes it: on Unix with flock(), on Windows by keeping it
// open without letting others delete it. So a held lock is a running copy,
// whatever it holds yet, and a lock nobody holds was left behind, even when
// it names a live process (a process id given out again, as in a new
// container or a Wine prefix that outlived a reboot, may even be our own).
bool isHeld(const QString& path)
{
#ifdef Q_OS_WIN
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(file);
    return false;
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // and with it a lock the probe took
    return held;
#endif
}

// Whether the lock at `path` belongs to a running copy. A lock that nobody
// holds and that names no process yet may be one a copy has created this
// very moment and is about to take: it is given a moment.
bool belongsToRunningCopy(QLockFile& lock, const QString& path)
{
    for (int look = 0;; ++look) {
        if (isHeld(path))
            return true;
        if (look == 5 || lock.getLockInfo(nullptr, nullptr, nullptr))
            return false;
        QThread::msleep(40);
    }
}

const QByteArray kShowRequest = "show\n";

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), name_(name) { }

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim()
{
    folder_ = runtimeFolder(reason_);
    if (folder_.isEmpty())
        return Unguarded;
    const QString lockPath = pathOf(".lock");
    lock_ = std::make_unique<QLockFile>(lockPath);
    // Never stale by age: only a holder that no longer runs frees the lock.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        const int error = errno;  // from the failed create, when it failed
        if (lock_->error() != QLockFile::LockFailedError) {
            lock_.reset();
            reason_ = QStringLiteral("cannot create %1: %2").arg(lockPath, errorText(error));
            return Unguarded;
        }
        // Qt judges a lock by the process it names, and keeps one it cannot
        // read (empty, damaged, a folder, a link to nothing) as held; here a
        // lock is judged by whether a live copy holds it (isHeld()).
        if (belongsToRunningCopy(*lock_, lockPath)) {
            lock_.reset();
            return Running;
        }
        if (!(lock_->removeStaleLockFile() || removeLinkToNothing(lockPath)) || !lock_->tryLock(0)) {
            const bool held = lock_->error() == QLockFile::LockFailedError && isHeld(lockPath);
            lock_.reset();
            if (held)
                return Running;  // another copy took it just now
            reason_ = QStringLiteral("%1 names no running copy and cannot be replaced").arg(lockPath);
            return Unguarded;
        }
    }
    const QString socketPath = pathOf(".socket");
    server_ = new QLocalServer(this);
    // Only this user may talk to the socket.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath))
        return First;  // still the one copy; a second start just cannot reach us
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().startsWith(kShowRequest.trimmed()))
                    emit showRequested();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return First;
}

qint64 SingleInstance::runningCopyPid() const
{
    qint64 pid = 0;
    if (folder_.isEmpty() || !QLockFile(pathOf(".lock")).getLockInfo(&pid, nullptr, nullptr))
        return 0;
    return pid;
}

bool SingleInstance::askRunningToShow(int timeoutMs)
{
#ifdef Q_OS_WIN
    // Without this the running copy's window would only flash its taskbar
    // button: Windows keeps the foreground with the process in front.
    const qint64 pid = runningCopyPid();
    AllowSetForegroundWindow(pid > 0 ? static_cast<DWORD>(pid) : ASFW_ANY);
#endif
    QLocalSocket socket;
    socket.connectToServer(pathOf(".socket"));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShowRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.waitForDisconnected(timeoutMs);
    return sent;
}
