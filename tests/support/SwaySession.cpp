#include "support/SwaySession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace waytest {

namespace {

bool asRoot()
{
    return geteuid() == 0;
}

// The focused window below `node` of sway's tree, as its app_id.
QString focusedIn(const QJsonObject& node)
{
    if (node.value("focused").toBool() && node.contains("app_id"))
        return node.value("app_id").toString();
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const auto& child : node.value(key).toArray()) {
            const QString found = focusedIn(child.toObject());
            if (!found.isEmpty())
                return found;
        }
    }
    return {};
}

void waitMs(int ms)
{
    QThread::msleep(ms);
}

}  // namespace

SwaySession::SwaySession() = default;

SwaySession::~SwaySession()
{
    stop();
}

QString SwaySession::missingPrograms(const QStringList& programs)
{
    QStringList missing;
    for (const QString& program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    }
    return missing.join(' ');
}

QProcessEnvironment SwaySession::environment() const
{
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
    env.insert("XDG_RUNTIME_DIR", dir_.path());
    env.insert("HOME", dir_.path());
    env.insert("XDG_CONFIG_HOME", dir_.path() + "/config");
    env.insert("WAYLAND_DISPLAY", display_);
    env.insert("LANG", "C.UTF-8");
    if (!bus_.isEmpty())
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus_);
    // A sanitized program keeps its suppressions and stops at its first
    // fault here as everywhere else; without them its reports of Qt's own
    // internals come by the hundred and slow it past the tests' waits.
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            env.insert(name, qEnvironmentVariable(name));
    }
    return env;
}

void SwaySession::prepare(QProcess& process, QStringList argv, const QProcessEnvironment& extra, bool ownUser) const
{
    QProcessEnvironment env = environment();
    env.insert(extra);
    QStringList command;
    if (asRoot() && !ownUser) {
        // runuser clears the environment; env hands ours over.
        command << "runuser"
                << "-u"
                << "nobody"
                << "--"
                << "env";
        for (const QString& key : env.keys())
            command << key + "=" + env.value(key);
    }
    command << argv;
    process.setChildProcessModifier([] { setsid(); });
    process.setProcessEnvironment(env);
    process.setProgram(command.takeFirst());
    process.setArguments(command);
}

QProcess* SwaySession::spawn(const QStringList& argv, const QProcessEnvironment& extra)
{
    auto process = std::make_unique<QProcess>();
    prepare(*process, argv, extra);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
    process->waitForStarted(5000);
    children_.push_back(std::move(process));
    return children_.back().get();
}

bool SwaySession::start(const QString& layout, bool capsLock, QString* error, bool tray)
{
    const QString missing = missingPrograms(tray ? QStringList{"sway", "swaymsg", "swaybar", "foot", "dbus-daemon"}
                                                 : QStringList{"sway", "swaymsg", "foot"});
    if (!missing.isEmpty()) {
        *error = "not installed: " + missing + " (scripts/install installs them)";
        return false;
    }
    if (!dir_.isValid()) {
        *error = "no temporary folder";
        return false;
    }
    QDir().mkpath(dir_.path() + "/config");
    QFile config(dir_.path() + "/sway.config");
    config.open(QIODevice::WriteOnly);
    config.write("xwayland disable\n"
                 "output HEADLESS-1 resolution 1024x768\n"
                 "focus_on_window_activation focus\n");
    config.write(QString("input type:keyboard {\n  xkb_layout %1\n  xkb_capslock %2\n}\n")
                     .arg(layout, capsLock ? "enabled" : "disabled")
                     .toUtf8());
    if (tray)
        config.write("bar {\n  position top\n  status_command true\n  tray_output *\n}\n");
    config.close();
    if (asRoot()) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) {
            *error = "no user 'nobody' to run sway as";
            return false;
        }
        // The runtime folder belongs to the session's user, as sway demands.
        for (const QString& path : {dir_.path(), dir_.path() + "/config"}) {
            if (chown(path.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
                *error = "cannot hand the runtime folder to nobody";
                return false;
            }
        }
        chmod(dir_.path().toLocal8Bit().constData(), 0700);
    }

    if (tray) {
        const QString socket = dir_.path() + "/bus";
        spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket});
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(socket) && clock.elapsed() < 5000)
            waitMs(10);
        bus_ = "unix:path=" + socket;
    }
    QProcessEnvironment env;
    env.insert("WLR_BACKENDS", "headless");
    env.insert("WLR_RENDERER", "pixman");
    env.insert("WLR_LIBINPUT_NO_DEVICES", "1");
    sway_ = spawn({"sway", "-c", dir_.path() + "/sway.config"}, env);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        const QStringList sockets = QDir(dir_.path()).entryList({"wayland-*"}, QDir::System);
        const QStringList ipc = QDir(dir_.path()).entryList({"sway-ipc.*.sock"}, QDir::System);
        for (const QString& socket : sockets) {
            if (!socket.endsWith(".lock"))
                display_ = dir_.path() + "/" + socket;
        }
        if (!ipc.isEmpty())
            ipc_ = dir_.path() + "/" + ipc.first();
        if (!display_.isEmpty() && !ipc_.isEmpty()) {
            bool ok = false;
            swaymsg({"-t", "get_version"}, &ok);
            if (ok)
                return true;
        }
        if (sway_->state() == QProcess::NotRunning)
            break;
        waitMs(20);
    }
    *error = "sway did not start (headless backend, pixman renderer)";
    return false;
}

void SwaySession::stop()
{
    // Clients first, the compositor last.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        QProcess* p = it->get();
        if (p->state() != QProcess::NotRunning) {
            kill(-static_cast<pid_t>(p->processId()), SIGTERM);
            if (!p->waitForFinished(3000)) {
                kill(-static_cast<pid_t>(p->processId()), SIGKILL);
                p->waitForFinished(1000);
            }
        }
    }
    children_.clear();
    sway_ = nullptr;
}

QByteArray SwaySession::swaymsg(const QStringList& args, bool* ok)
{
    QProcess p;
    p.start("swaymsg", QStringList{"-s", ipc_} + args);
    const bool done = p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!done)
        qWarning("swaymsg %s: %s %s", qPrintable(args.join(' ')), p.readAllStandardError().constData(),
                 p.readAllStandardOutput().constData());
    if (ok)
        *ok = done;
    return p.readAllStandardOutput();
}

bool SwaySession::setLayout(const QString& layout)
{
    bool ok = false;
    swaymsg({"input", "type:keyboard", "xkb_layout", layout}, &ok);
    return ok;
}

QString SwaySession::focusedApp()
{
    const QByteArray tree = swaymsg({"-t", "get_tree"});
    return focusedIn(QJsonDocument::fromJson(tree).object());
}

bool SwaySession::waitFocused(const QString& appId, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    do {
        if (focusedApp() == appId)
            return true;
        waitMs(20);
    } while (clock.elapsed() < timeoutMs);
    return false;
}

bool SwaySession::focus(const QString& appId)
{
    bool ok = false;
    swaymsg({QString("[app_id=\"%1\"]").arg(appId), "focus"}, &ok);
    return ok && waitFocused(appId, 5000);
}

bool FootTerminal::start(SwaySession& session, const QString& appId, QString* error)
{
    appId_ = appId;
    file_ = session.runtimeDir() + "/" + appId + ".in";
    const QString ready = session.runtimeDir() + "/" + appId + ".ready";
    session.spawn({"foot", "--log-level=error", "--app-id", appId, "sh", "-c",
                   "stty raw -echo && : > '" + ready + "' && exec cat > '" + file_ + "'"});
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(ready) && clock.elapsed() < 15000)
        waitMs(10);
    if (!QFile::exists(ready)) {
        *error = "the shell in foot did not start";
        return false;
    }
    if (!session.waitFocused(appId, 5000)) {
        *error = "foot did not get the focus";
        return false;
    }
    offset_ = 0;
    return true;
}

QByteArray FootTerminal::received(int bytes, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QFile in(file_);
        QByteArray text;
        if (in.open(QIODevice::ReadOnly) && in.seek(offset_))
            text = in.readAll();
        if (text.size() >= bytes || clock.elapsed() >= timeoutMs)
            return text;
        waitMs(5);
    }
}

void FootTerminal::clear()
{
    offset_ = QFileInfo(file_).size();
}

}  // namespace waytest
