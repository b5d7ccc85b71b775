// The ports the user can pick from.
#pragma once

#include <QStringList>

// The serial devices the system reports, by device path sorted without
// regard to case, then `extraPorts` (paths the system does not enumerate,
// such as pseudo-terminals). When both are empty: /dev/ttyS0 to /dev/ttyS15.
// On Windows the port names the registry lists (link/windows/WinPorts.h) in
// their order, and COM1 to COM16 when there are none.
QStringList buildPortList(const QStringList& extraPorts);

// The same from a given list of enumerated devices (for tests).
QStringList buildPortList(QStringList enumerated, const QStringList& extraPorts);

// The entry the list shows for `portName`: the first exact (case-sensitive)
// match, else the last entry; -1 for an empty list.
int portListSelection(const QStringList& list, const QString& portName);

// The twelve entries of the line-settings list, in list order.
const QStringList& standardLineSettings();
