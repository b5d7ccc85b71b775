#include "link/PortProblem.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

PortProblem classifyOpenFailure(QSerialPort::SerialPortError error, const QString& portName)
{
    PortProblem problem;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        problem.kind = PortProblem::Missing;
        break;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError: {
#ifdef Q_OS_UNIX
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
        if (const struct group* owner = ::getgrgid(info.st_gid); owner && groupMayUse)
            problem.group = QString::fromLocal8Bit(owner->gr_name);
#else
        // Windows denies a port that another program holds.
        Q_UNUSED(portName);
        problem.kind = PortProblem::Busy;
#endif
        break;
    }
    default:
        break;
    }
    return problem;
}
