// The real tallyport executable as a client of a test's compositor, read
// through its --verbose output.
#pragma once

#include "wayland/SwaySession.h"

#include <QElapsedTimer>
#include <QProcess>

namespace waytest {

class Program {
public:
    // As the session's user, unless `ownUser`; `extra` adds to the session's
    // environment.
    Program(SwaySession& sway, const QStringList& arguments, QProcessEnvironment extra = {}, bool ownUser = false)
    {
        extra.insert("QT_QPA_PLATFORM", "wayland");
        sway.prepare(process, QStringList{qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport"} + arguments,
                     extra, ownUser);
        process.start();
        process.waitForStarted(5000);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(1000);
        }
    }
    // Waits until standard error shows `text` (at least `times` times).
    bool waitFor(const QString& text, int timeoutMs = 10000, int times = 1)
    {
        QElapsedTimer clock;
        clock.start();
        while (seen.count(text) < times && clock.elapsed() < timeoutMs) {
            process.waitForReadyRead(50);
            seen += QString::fromUtf8(process.readAllStandardError());
        }
        return seen.count(text) >= times;
    }

    QProcess process;
    QString seen;  // standard error so far
};

}  // namespace waytest
