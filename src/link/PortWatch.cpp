#include "link/PortWatch.h"

#include <QTimer>

#ifdef Q_OS_WIN
#include "link/windows/WinPorts.h"

#include <windows.h>
#include <QWinEventNotifier>

struct PortWatch::Platform {
    HANDLE event = nullptr;
    SerialCommWatch registry;
    QWinEventNotifier* notifier = nullptr;
};
#else
#include <QDir>
#include <QFileSystemWatcher>

struct PortWatch::Platform {
    QFileSystemWatcher* watcher = nullptr;
};
#endif

PortWatch::PortWatch(QObject* parent, const QStringList& folders)
    : QObject(parent), settle_(new QTimer(this)), folders_(folders), platform_(std::make_unique<Platform>())
{
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &PortWatch::changed);
#ifdef Q_OS_WIN
    platform_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (platform_->event && platform_->registry.arm(platform_->event)) {
        platform_->notifier = new QWinEventNotifier(platform_->event, this);
        connect(platform_->notifier, &QWinEventNotifier::activated, this, [this] {
            platform_->registry.arm(platform_->event);
            settle_->start();
        });
    }
#else
    if (folders_.isEmpty())
        folders_ = QStringList{QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
    platform_->watcher = new QFileSystemWatcher(this);
    connect(platform_->watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        watchAgain();
        settle_->start();
    });
    watchAgain();
#endif
}

PortWatch::~PortWatch()
{
#ifdef Q_OS_WIN
    delete platform_->notifier;
    if (platform_->event)
        CloseHandle(platform_->event);
#endif
}

void PortWatch::watchAgain()
{
#ifndef Q_OS_WIN
    // A folder made or removed since (the stable names come with the first
    // USB adapter) is watched from now on.
    const QStringList watched = platform_->watcher->directories();
    for (const QString& folder : folders_) {
        if (!watched.contains(folder) && QDir(folder).exists())
            platform_->watcher->addPath(folder);
    }
#endif
}
