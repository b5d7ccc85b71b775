// A settings file for the real program: a type C reader with ID 07 on
// `port`, a comma and Enter after each card. Readable and writable by every
// user, as is the port, for a program run as a session's own user.
#pragma once

#include <QSettings>
#include <QString>

#include <sys/stat.h>

inline QString writeCardSettings(const QString& path, const QString& port)
{
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue("CommName", port);
        s.setValue("ReaderType", 2);
        s.setValue("ReaderID", 7);
        s.setValue("AddDown", "-1");
        s.setValue("AddReturn", "-1");
    }
    chmod(path.toLocal8Bit().constData(), 0666);
    chmod(port.toLocal8Bit().constData(), 0666);
    return path;
}
