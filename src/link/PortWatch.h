// Tells when serial ports come and go, so that the port list can be read
// again: on Linux when device nodes appear in or vanish from /dev (and the
// stable names under /dev/serial/by-id); on Windows when the registry's
// list of serial ports changes. A burst of changes (a USB adapter brings
// its node, then udev its names) is told once, a moment after it ends.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QTimer;

class PortWatch : public QObject {
    Q_OBJECT
public:
    // `folders`: the folders to watch on Linux instead of the system's (tests).
    explicit PortWatch(QObject* parent = nullptr, const QStringList& folders = {});
    ~PortWatch() override;

    static constexpr int kSettleMs = 500;

signals:
    void changed();

private:
    void watchAgain();

    QTimer* settle_;
    QStringList folders_;
    struct Platform;
    std::unique_ptr<Platform> platform_;
};
