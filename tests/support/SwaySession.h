// A private headless sway for the Wayland tests and the typing benchmark,
// and foot terminals that receive keys like any native application.
//
// sway refuses to run as root, so under root it runs as the unprivileged
// user "nobody" in a runtime folder of its own; the test process (root)
// reaches its socket all the same. Its clients run as that user too.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace waytest {

class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // Names the programs that are not installed, or "" when all are.
    static QString missingPrograms(const QStringList& programs);

    // Starts sway with the keyboard layout `layout`, Caps Lock locked when
    // `capsLock`. With `tray`, also a session bus of its own and swaybar,
    // whose tray hosts StatusNotifierItems.
    bool start(const QString& layout, bool capsLock, QString* error, bool tray = false);
    void stop();
    // The compositor's socket, as an absolute path (good for WAYLAND_DISPLAY).
    QString display() const { return display_; }
    QString runtimeDir() const { return dir_.path(); }
    // What a client of this compositor needs: WAYLAND_DISPLAY and the runtime
    // folder; no X display.
    QProcessEnvironment environment() const;

    // Starts a program as the session's user, in a process group of its own
    // that stop() ends.
    QProcess* spawn(const QStringList& argv, const QProcessEnvironment& extra = {});
    // Sets `process` up to run `argv` with the session's environment plus
    // `extra`, as the session's user unless `ownUser`; the caller starts it.
    void prepare(QProcess& process, QStringList argv, const QProcessEnvironment& extra = {},
                 bool ownUser = false) const;
    // Runs swaymsg with `args`; its standard output.
    QByteArray swaymsg(const QStringList& args, bool* ok = nullptr);
    // Sets the layout of every keyboard, the virtual ones too. (Caps Lock can
    // only be set at start.)
    bool setLayout(const QString& layout);
    // The app_id of the focused window, or "".
    QString focusedApp();
    bool waitFocused(const QString& appId, int timeoutMs);
    bool focus(const QString& appId);

private:
    QTemporaryDir dir_;
    QString display_;
    QString ipc_;
    QString bus_;
    std::vector<std::unique_ptr<QProcess>> children_;
    QProcess* sway_ = nullptr;
};

// foot running `stty raw -echo; cat > FILE`: what the terminal received as
// input, byte for byte (Enter arrives as "\r").
class FootTerminal {
public:
    bool start(SwaySession& session, const QString& appId, QString* error);
    // What arrived since the last clear(); waits up to timeoutMs for at least
    // `bytes` bytes.
    QByteArray received(int bytes = 0, int timeoutMs = 0);
    void clear();
    QString appId() const { return appId_; }
    QString file() const { return file_; }

private:
    QString appId_;
    QString file_;
    qint64 offset_ = 0;
};

}  // namespace waytest
