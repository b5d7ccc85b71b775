// A Chinese input method for a test's X or Wayland session: IBus or fcitx5,
// started on the test's own session bus with a configuration of its own that
// offers Pinyin and Zhuyin (Chewing), and switched and read through its own
// command-line tools, as a user's session would have it.
//
// Applications started after start() use it: it sets GTK_IM_MODULE,
// QT_IM_MODULE and XMODIFIERS in the test's environment.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

class InputMethodSession {
public:
    enum Kind { IBus, Fcitx5 };

    ~InputMethodSession() { stop(); }

    // The engine names of Pinyin and Zhuyin.
    QString pinyin() const { return kind_ == IBus ? "libpinyin" : "pinyin"; }
    QString zhuyin() const { return kind_ == IBus ? "chewing" : "chewing"; }
    QString name() const { return kind_ == IBus ? "IBus" : "fcitx5"; }
    // Where it keeps its settings (and IBus its address): a program of the
    // same session finds it from there.
    QString configHome() const { return dir_.filePath("config"); }

    // Starts it for the X display `display` (":N") on the session bus of
    // `busAddress`, in a Chinese locale as a user in China has.
    bool start(Kind kind, const QString& display, const QString& busAddress, QString* error)
    {
        kind_ = kind;
        const QString daemon = kind == IBus ? "ibus-daemon" : "fcitx5";
        if (QStandardPaths::findExecutable(daemon).isEmpty()) {
            *error = "not installed: " + daemon + " (scripts/install installs it)";
            return false;
        }
        const QString config = dir_.filePath("config");
        QDir().mkpath(config + "/fcitx5");
        QFile profile(config + "/fcitx5/profile");
        if (!profile.open(QIODevice::WriteOnly)
            || profile.write("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n\n"
                             "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n"
                             "[Groups/0/Items/1]\nName=pinyin\nLayout=\n\n"
                             "[Groups/0/Items/2]\nName=chewing\nLayout=\n\n[GroupOrder]\n0=Default\n")
                < 0) {
            *error = "cannot write the fcitx5 profile";
            return false;
        }
        profile.close();
        qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
        qputenv("XDG_CONFIG_HOME", config.toUtf8());
        qputenv("XDG_CACHE_HOME", dir_.filePath("cache").toUtf8());
        const QByteArray module = kind == IBus ? "ibus" : "fcitx";
        qputenv("GTK_IM_MODULE", module);
        qputenv("QT_IM_MODULE", module);
        qputenv("XMODIFIERS", "@im=" + module);
        qputenv("DISPLAY", display.toUtf8());
        qputenv("LANG", "zh_CN.UTF-8");
        qunsetenv("LC_ALL");
        qunsetenv("LC_CTYPE");
        daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        if (kind == IBus)
            daemon_.start(daemon, {"--replace", "--xim"});
        else
            daemon_.start(daemon, {"--replace", "--keep"});
        if (!daemon_.waitForStarted(5000)) {
            *error = daemon + " did not start";
            return false;
        }
        // Ready once it answers its own tool; a call before that could start
        // a second copy without the display.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000 && daemon_.state() == QProcess::Running) {
            if (kind == IBus ? !run("ibus", {"engine"}).isEmpty() : busHasName("org.fcitx.Fcitx5"))
                return true;
            QThread::msleep(100);
        }
        *error = daemon + " did not come up";
        return false;
    }

    void stop()
    {
        if (daemon_.state() == QProcess::NotRunning)
            return;
        if (kind_ == IBus)
            run("ibus", {"exit"});
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000))
            daemon_.kill();
        daemon_.waitForFinished(1000);
    }

    // Picks `engine` in Chinese mode: for IBus the global engine, for fcitx5
    // the input method of the focused field, switched on.
    bool use(const QString& engine)
    {
        // Again until it holds: a field that just got the focus may reach
        // fcitx5 after the first try.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (kind_ == IBus) {
                run("ibus", {"engine", engine});
            } else {
                // fcitx5 acts on the field it last heard of, which may not
                // be the focused one until that hands it a key.
                run("xdotool", {"key", "Control_L"});
                run("fcitx5-remote", {"-s", engine});
                run("fcitx5-remote", {"-o"});
            }
            QThread::msleep(100);
            if (state() == engine + (kind_ == IBus ? "" : " on"))
                return true;
        }
        return false;
    }

    // Off, as a user switches to English: IBus's keyboard engine, fcitx5
    // off in the focused field.
    bool useDirect()
    {
        const QString direct = kind_ == IBus ? "xkb:us::eng" : "keyboard-us off";
        for (int i = 0; i < 20 && state() != direct; ++i) {
            if (kind_ == IBus) {
                run("ibus", {"engine", "xkb:us::eng"});
            } else {
                run("xdotool", {"key", "Control_L"});
                run("fcitx5-remote", {"-c"});
            }
            QThread::msleep(100);
        }
        return state() == direct;
    }

    // What a user would see: the engine, and for fcitx5 whether it is on in
    // the focused field ("pinyin on", "keyboard-us off").
    QString state() const
    {
        if (kind_ == IBus)
            return run("ibus", {"engine"});
        const QString on = run("fcitx5-remote", {});
        return run("fcitx5-remote", {"-n"}) + (on == "2" ? " on" : on == "1" ? " off" : " none");
    }

    // What fcitx5 says of its fields, for messages.
    QString fields() const
    {
        return run("dbus-send",
                   {"--session", "--print-reply", "--dest=org.fcitx.Fcitx5", "/controller",
                    "org.fcitx.Fcitx.Controller1.DebugInfo"});
    }

    static QString run(const QString& program, const QStringList& arguments)
    {
        QProcess p;
        p.start(program, arguments);
        if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit)
            return {};
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

private:
    static bool busHasName(const QString& name)
    {
        return run("dbus-send",
                   {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                    "org.freedesktop.DBus.NameHasOwner", "string:" + name})
            .contains("true");
    }

    Kind kind_ = Fcitx5;
    QTemporaryDir dir_;
    QProcess daemon_;
};
