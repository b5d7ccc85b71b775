// Which programs hold a serial port open, where the system tells: on Linux
// the processes whose open files in /proc include the port's device. Only
// processes this user may look into are seen (all of them as root); on
// Windows nothing is seen.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

struct PortHolder {
    qint64 pid = 0;
    QString name;  // the process's command name, such as "ModemManager"

    bool operator==(const PortHolder& o) const { return pid == o.pid && name == o.name; }
};

// The processes other than this one that hold each of `ports` open, for the
// ports that have any. A process serving a pseudo-terminal (holding its
// master side, as a network serial link or a simulated reader does) is the
// far end of the line, not a program in the way, and does not count.
QHash<QString, QList<PortHolder>> portHolders(const QStringList& ports);

// The same for one port.
QList<PortHolder> portHolders(const QString& port);
