// The real tallyport executable, started for a test with its own runtime and
// configuration folders, and read through its --verbose output.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class RunningProgram {
public:
    // `display` empty: the offscreen platform without X. `changes` are
    // made to the environment last; an empty value removes the variable.
    RunningProgram(const QTemporaryDir& dir, const QStringList& arguments, const QString& display = QString(),
                   const QMap<QString, QString>& changes = {})
    {
        process.setProcessEnvironment(environment(dir, display, changes));
        process.start(program(), arguments);
        process.waitForStarted(5000);
    }
    static QProcessEnvironment environment(const QTemporaryDir& dir, const QString& display = QString(),
                                           const QMap<QString, QString>& changes = {})
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
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            if (it.value().isEmpty())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        return env;
    }
    static QString program() { return qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport"; }
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
