// The real tallyport executable, started for a test with its own runtime and
// configuration folders, and read through its --verbose output.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class RunningProgram {
public:
    // `display` empty: the offscreen platform without X.
    RunningProgram(const QTemporaryDir& dir, const QStringList& arguments, const QString& display = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        if (display.isEmpty()) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
            env.remove("DISPLAY");
        } else {
            env.insert("QT_QPA_PLATFORM", "xcb");
            env.insert("DISPLAY", display);
        }
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport", arguments);
        process.waitForStarted(5000);
    }
    // Not started: for a caller that sets `process` up itself.
    RunningProgram() = default;
    ~RunningProgram()
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
