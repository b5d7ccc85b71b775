// Files the tests and benchmarks write and read: a settings file made as
// QSettings writes one (so the program's reader meets another writer's
// format), and a file's whole content, written or read.
#pragma once

#include <QFile>
#include <QList>
#include <QPair>
#include <QSettings>
#include <QString>
#include <QVariant>

// A same-card time longer than any test: a card held on the reader (polled
// every 200 ms) goes out once, however long a loaded machine takes to take it
// away. Each card a test presents must then differ from the others of its run.
inline constexpr int kHeldCardOnce = 60;

// Writes these values into the [General] section of `path`; returns `path`.
inline QString writeSettingsFile(const QString& path, const QList<QPair<QString, QVariant>>& values)
{
    QSettings settings(path, QSettings::IniFormat);
    for (const auto& [name, value] : values)
        settings.setValue(name, value);
    settings.sync();
    return path;
}

// Makes `data` the whole of `path`; false when it could not.
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The whole file, or nothing when it cannot be read.
inline QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
