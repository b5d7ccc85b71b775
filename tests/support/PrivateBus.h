// A private session bus (dbus-daemon) for a test, and the stand-in portal on
// it, which writes down the calls it gets.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

class PrivateBus {
public:
    ~PrivateBus()
    {
        stopPortal();
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }

    bool start(QString* error)
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            *error = "not installed: dbus-daemon (scripts/install installs dbus)";
            return false;
        }
        // A session bus that starts no service of its own: with the desktop's
        // portals installed, the standard one would start the real portal
        // whenever ours is not running. The socket goes with the folder: a
        // killed bus leaves none in /tmp.
        QFile config(socketDir_.filePath("bus.conf"));
        if (!config.open(QIODevice::WriteOnly)
            || config.write("<busconfig><type>session</type><listen>unix:dir=" + socketDir_.path().toUtf8()
                            + "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                < 0) {
            *error = "cannot write the bus configuration";
            return false;
        }
        config.close();
        daemon_.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        if (!daemon_.waitForReadyRead(5000)) {
            *error = "dbus-daemon did not start";
            return false;
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }
    QString address() const { return address_; }

    // Starts the stand-in portal, which logs to `logPath`, with the modes of
    // portal_standin ("refuse", "stall", "version=1").
    bool startPortal(const QString& logPath, const QStringList& modes = {})
    {
        stopPortal();
        log_ = logPath;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        // The stand-in is only the test's tool, and all ThreadSanitizer finds
        // in it is QtDBus and libdbus handing work to each other in ways it
        // cannot follow; stopped on such a report under load, it hung and
        // took the test with it.
        if (env.contains("TSAN_OPTIONS"))
            env.insert("TSAN_OPTIONS", env.value("TSAN_OPTIONS") + ":report_bugs=0");
        portal_.setProcessEnvironment(env);
        portal_.setProcessChannelMode(QProcess::ForwardedChannels);
        portal_.start(qEnvironmentVariable("TALLYPORT_BUILD") + "/tests/portal_standin", QStringList{logPath} + modes);
        portal_.waitForStarted(5000);
        // Ready once the name is taken: dbus-send finds it.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && portal_.state() == QProcess::Running) {
            QProcess probe;
            probe.setProcessEnvironment(env);
            probe.start("dbus-send",
                        {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                         "org.freedesktop.DBus.GetNameOwner", "string:org.freedesktop.portal.Desktop"});
            if (probe.waitForFinished(2000) && probe.exitCode() == 0)
                return true;
            QThread::msleep(20);
        }
        return false;
    }
    void stopPortal()
    {
        if (portal_.state() != QProcess::NotRunning) {
            portal_.terminate();
            portal_.waitForFinished(2000);
        }
    }
    // The calls the portal has recorded so far.
    QStringList calls() const
    {
        QFile f(log_);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir socketDir_;
    QProcess daemon_;
    QProcess portal_;
    QString address_;
    QString log_;
};
