// Finding a reader without knowing its port, line settings or type: every
// port of the list is probed with the command set of every reader type at
// the line settings that type uses, until one answers.
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class ReaderLink;

struct DetectedReader {
    QString portName;
    QString lineSettings;
    int readerType = 0;
    int readerId = 0;      // 0..99
    QString identity;      // "  S/N:12345678" or "  ID:25"
};

// Walks `ports` in order; `probing(port)` is called as each port's probe
// begins. Returns the first reader that answered. The port opened last
// stays open. A thread asked to stop (QThread::requestInterruption) ends
// the walk after the transaction under way.
std::optional<DetectedReader> detectReader(ReaderLink& link, const QStringList& ports,
                                           const std::function<void(const QString& port)>& probing);

Q_DECLARE_METATYPE(DetectedReader)
