#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#ifndef Q_OS_WIN
    // Windows always names one; the temporary folder there is the user's own.
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/tallyport-%1").arg(::getuid());
#endif
    QDir().mkpath(folder);
    return folder;
}

const QByteArray ShowRequest = "show\n";

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), name_(name) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const
{
    return runtimeFolder() + QLatin1Char('/') + name_ + QStringLiteral(".lock");
}

QString SingleInstance::socketPath() const
{
    return runtimeFolder() + QLatin1Char('/') + name_ + QStringLiteral(".socket");
}

bool SingleInstance::claim()
{
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a holder that no longer runs frees the lock.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    server_ = new QLocalServer(this);
    // Only this user may talk to the socket.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath()))
        return true;  // still the one copy; a second start just cannot reach us
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().startsWith(ShowRequest.trimmed()))
                    emit showRequested();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

bool SingleInstance::askRunningToShow(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(ShowRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.waitForDisconnected(timeoutMs);
    return sent;
}
