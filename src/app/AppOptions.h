// What the command line asks of the program.
#pragma once

#include <QString>
#include <QStringList>

struct AppOptions {
    QString settingsFile;     // empty: the default settings file
    bool verbose = false;     // info-log lines also on standard error
    QStringList extraPorts;   // ports the system does not enumerate
    bool systemPorts = true;  // offer the serial devices the system reports
    QString keyboard;         // x11, wayland, portal or none; empty: follow the session
};
