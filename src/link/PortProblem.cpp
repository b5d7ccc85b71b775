#include "link/PortProblem.h"

#ifdef Q_OS_WIN

#include <windows.h>

PortProblem classifyOpenFailure(unsigned long systemError)
{
    PortProblem problem;
    switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: problem.kind = PortProblem::Missing; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: problem.kind = PortProblem::Busy; break;
    default: break;
    }
    return problem;
}

#else

#include <QFile>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

PortProblem classifyOpenFailure(QSerialPort::SerialPortError error, const QString& portName)
{
    PortProblem problem;
    switch (error) {
    case QSerialPort::DeviceNotFoundError: problem.kind = PortProblem::Missing; break;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError: {
        const QByteArray path = QFile::encodeName(portName);
        struct stat info = {};
        if (::stat(path.constData(), &info) != 0) {
            problem.kind = PortProblem::Missing;
            break;
        }
        // Checked with the effective IDs, as the open itself was.
        if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0) {
            problem.kind = PortProblem::Busy;
            break;
        }
        problem.kind = PortProblem::NoPermission;
        // Joining the group only helps when the group may read and write.
        const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        // Ports are opened on several threads at once (detection): the
        // reentrant lookup.
        struct group entry = {};
        struct group* owner = nullptr;
        char names[4096];
        if (groupMayUse && ::getgrgid_r(info.st_gid, &entry, names, sizeof names, &owner) == 0 && owner)
            problem.group = QString::fromLocal8Bit(owner->gr_name);
        break;
    }
    default: break;
    }
    return problem;
}

#endif
