// The ports the user can pick from.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One entry of the port list: the name that is stored and opened, and what
// the system says about the port, for the user to tell the ports apart.
struct PortEntry {
    QString name;     // "/dev/serial/by-id/usb-FTDI_…-if00-port0", "/dev/ttyS0", "COM3"
    QString device;   // the device node the name leads to, where it is another ("/dev/ttyUSB0")
    QString details;  // "FT232R USB UART, FTDI, S/N A10K1B2C"; empty when the system says nothing

    bool operator==(const PortEntry& o) const { return name == o.name && device == o.device && details == o.details; }
};

// What the list shows for an entry: its name, and beside it the details and
// the device it leads to.
QString portLabel(const PortEntry& entry);

// The serial devices the system reports, by device path sorted without
// regard to case, then `extraPorts` (paths the system does not enumerate,
// such as pseudo-terminals). When both are empty: /dev/ttyS0 to /dev/ttyS15.
// A USB adapter for which udev keeps a stable name under /dev/serial/by-id/
// is listed under that name, so that it is found under the same name after
// a replug or a reboot. On Windows the port names the registry lists
// (link/windows/WinPorts.h) in their order, with the friendly names the
// device manager shows, and COM1 to COM16 when there are none.
QList<PortEntry> systemPortEntries(const QStringList& extraPorts);

// The same from given enumerated entries (the program's own enumeration
// gives them; tests make them up).
QList<PortEntry> portEntries(QList<PortEntry> enumerated, const QStringList& extraPorts);

QStringList portNames(const QList<PortEntry>& entries);

// The names alone, from enumerated device paths.
QStringList buildPortList(const QStringList& enumerated, const QStringList& extraPorts);

// The entry the list shows for `portName`: the first exact (case-sensitive)
// match, else the last entry; -1 for an empty list.
int portListSelection(const QStringList& list, const QString& portName);

// The list's own name for a stored port that the list shows under another
// name, its stable one (a stored "/dev/ttyUSB0" whose adapter is listed as
// "/dev/serial/by-id/…"); `portName` itself otherwise.
QString listedNameOf(const QList<PortEntry>& entries, const QString& portName);

// Whether a port is there now: its device exists (on Windows, its name is
// defined). Says nothing of whether it can be opened.
bool portPresent(const QString& portName);

// The twelve entries of the line-settings list, in list order.
const QStringList& standardLineSettings();
