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
    int readerId = 0;  // 0..99
    QString identity;  // "  S/N:12345678" or "  ID:25"
};

// Walks `ports` in order; `probing(port)` is called as each port's probe
// begins. Returns the first reader that answered. The port opened last
// stays open. A thread asked to stop (QThread::requestInterruption) ends
// the walk after the transaction under way. The program walks the ports
// side by side (reading/PortWalk.h), with the same result.
std::optional<DetectedReader> detectReader(ReaderLink& link, const QStringList& ports,
                                           const std::function<void(const QString& port)>& probing);

// One port's share of the walk: the command set of every reader type at the
// line settings it uses, in the walk's order, until one answers.
std::optional<DetectedReader> detectOnPort(ReaderLink& link, const QString& port);

// Asks `port` whether the reader of type `readerType` with ID `readerId`
// ("07") answers there: the type's own connect handshake at `lineSettings`,
// after the pause a connect makes, up to `attempts` times. What answered,
// with the reader ID its reply names.
std::optional<DetectedReader> identifyOnPort(ReaderLink& link, const QString& port, const QString& lineSettings,
                                             int readerType, const QByteArray& readerId, int attempts);

Q_DECLARE_METATYPE(DetectedReader)
