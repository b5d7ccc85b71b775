// Why a serial port would not open, in terms the user can act on.
#pragma once

#include <QString>

struct PortProblem {
    enum Kind {
        None,          // opened, or failed for a reason we cannot explain better
        Missing,       // no such device: unplugged, or a mistyped path
        NoPermission,  // the user may not open it; `group` owns the device
        Busy,          // another program holds it
    } kind
        = None;
    QString group;  // NoPermission: the device's owning group, when it has one

    bool operator==(const PortProblem& o) const { return kind == o.kind && group == o.group; }
};

#ifdef Q_OS_WIN
// Classifies a failed open from the system's error code (GetLastError).
// Windows denies a port that another program holds.
PortProblem classifyOpenFailure(unsigned long systemError);
#else
#include <QSerialPort>
// Classifies a failed open of `portName` from the port's error and the device
// itself. Qt reports both a denied and a busy device as PermissionError, so
// the device's access rights for this user decide between the two.
PortProblem classifyOpenFailure(QSerialPort::SerialPortError error, const QString& portName);
#endif
