#include "output/inputmethod/IBusInputMethod.h"

#include "output/inputmethod/BusConnection.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <csignal>

namespace {

constexpr const char* kService = "org.freedesktop.IBus";
constexpr const char* kPath = "/org/freedesktop/IBus";
constexpr std::uint32_t kReleaseMask = 1u << 30;

// A field that never hands IBus a key within this time does not go through
// IBus at all; and however slow a program, the user's engine comes back
// after the longer limit.
constexpr int kNoKeysMs = 500;
constexpr int kPutBackLimitMs = 2000;

QString machineId()
{
    for (const char* path : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            const QString id = QString::fromLatin1(file.readAll()).trimmed();
            if (!id.isEmpty())
                return id;
        }
    }
    return {};
}

// IBUS_ADDRESS=... from the daemon's file, when the daemon still runs.
QByteArray addressFrom(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray address;
    qint64 pid = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("IBUS_ADDRESS="))
            address = line.mid(13).trimmed();
        else if (line.startsWith("IBUS_DAEMON_PID="))
            pid = line.mid(16).trimmed().toLongLong();
    }
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return {};  // left behind by a daemon that has ended
    return address;
}

}  // namespace

QString IBusInputMethod::addressFile(const QString& configHome, const QString& machineId, const QString& display,
                                     bool wayland)
{
    // As IBus names it: <machine>-<host>-<display number>, host "unix" for
    // a local display; on Wayland the display's name stands for the number.
    QString host = QStringLiteral("unix");
    QString number = QStringLiteral("0");
    if (wayland) {
        number = display;
    } else if (!display.isEmpty()) {
        const int colon = display.indexOf(QLatin1Char(':'));
        if (colon > 0)
            host = display.left(colon);
        if (colon >= 0)
            number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0);
    }
    return QDir(configHome).filePath(QStringLiteral("ibus/bus/%1-%2-%3").arg(machineId, host, number));
}

std::unique_ptr<IBusInputMethod> IBusInputMethod::find()
{
    QByteArray address = qgetenv("IBUS_ADDRESS");
    if (address.isEmpty()) {
        QString file = qEnvironmentVariable("IBUS_ADDRESS_FILE");
        if (file.isEmpty()) {
            const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
            file = addressFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), machineId(),
                               qEnvironmentVariable(wayland ? "WAYLAND_DISPLAY" : "DISPLAY"), wayland);
        }
        address = addressFrom(file);
    }
    if (address.isEmpty())
        return nullptr;
    std::unique_ptr<BusConnection> bus = BusConnection::open(address);
    if (!bus)
        return nullptr;
    std::unique_ptr<IBusInputMethod> im(new IBusInputMethod(std::move(bus)));
    if (im->globalEngine().isEmpty())
        return nullptr;
    return im;
}

IBusInputMethod::IBusInputMethod(std::unique_ptr<BusConnection> bus) : bus_(std::move(bus))
{
    // IBus hands every connection copies of what matches its rules, calls
    // to others and their answers included.
    for (const char* rule :
         {"type='method_call',interface='org.freedesktop.IBus.InputContext',member='ProcessKeyEvent'",
          "type='method_return'", "type='signal',interface='org.freedesktop.IBus.Engine'",
          "type='signal',interface='org.freedesktop.IBus',member='GlobalEngineChanged'"})
        bus_->addMatch(rule);
    bus_->onMessage = [this](const BusMessage& message) { watch(message); };
    limit_ = new QTimer(this);
    limit_->setInterval(50);
    connect(limit_, &QTimer::timeout, this, &IBusInputMethod::checkTaken);
}

IBusInputMethod::~IBusInputMethod()
{
    putBackNow();
}

QString IBusInputMethod::globalEngine(QString* layout)
{
    // An IBusEngineDesc: ("IBusEngineDesc", {}, name, long name,
    // description, language, licence, author, icon, layout, ...)
    const QVariantList desc = bus_->call(kService, kPath, kService, "GetGlobalEngine").value(0).toList();
    if (layout)
        *layout = desc.value(9).toString();
    return desc.value(2).toString();
}

bool IBusInputMethod::setGlobalEngine(const QString& engine)
{
    bool ok = false;
    bus_->call(kService, kPath, kService, "SetGlobalEngine", {engine}, &ok);
    return ok && globalEngine() == engine;
}

QString IBusInputMethod::directEngine(const QString& layout)
{
    // The keyboard engine of the engine's own layout, so that the keys keep
    // their meaning; "default" and us are the same.
    if (!layout.isEmpty() && layout != QLatin1String("default") && layout != QLatin1String("us")) {
        const QVariantList engines = bus_->call(kService, kPath, kService, "ListEngines").value(0).toList();
        for (const QVariant& engine : engines) {
            const QString name = engine.toList().value(2).toString();
            if (name.startsWith(QLatin1String("xkb:") + layout + QLatin1Char(':')))
                return name;
        }
    }
    return QStringLiteral("xkb:us::eng");
}

InputMethod::Pass IBusInputMethod::letThrough(KeyboardOutput& keys, bool focusJustMoved)
{
    // One engine for every field: whichever has the focus, it is switched.
    (void)keys;
    (void)focusJustMoved;
    keys_ = KeysInFlight{};
    QString layout;
    const QString engine = globalEngine(&layout);
    if (engine.isEmpty() || engine.startsWith(QLatin1String("xkb:")))
        return Pass::Direct;
    if (!setGlobalEngine(directEngine(layout))) {
        setGlobalEngine(engine);
        return Pass::Failed;
    }
    userEngine_ = engine;
    keys_.watching = true;
    return Pass::Switched;
}

void IBusInputMethod::putBack(const std::vector<std::uint32_t>& keysyms, std::function<void(bool)> done)
{
    putBackDone_ = std::move(done);
    if (!keysyms.empty()) {
        keys_.lastKeysym = keysyms.back();
        keys_.lastKeyCount = int(std::count(keysyms.begin(), keysyms.end(), keys_.lastKeysym));
    }
    keys_.sent = true;
    sentClock_.start();
    limit_->start();
    checkTaken();
}

void IBusInputMethod::watch(const BusMessage& message)
{
    if (message.type == BusMessage::Signal) {
        // The word in the making, as each field's engine tells IBus (which
        // shows it in the field or in its own panel, as the field can).
        Preedit& preedit = preedits_[message.path];
        if (message.member == "UpdatePreeditText") {
            preedit.text = !message.arguments.value(0).toList().value(2).toString().isEmpty();
            preedit.visible = message.arguments.value(2).toBool();
        } else if (message.member == "ShowPreeditText" || message.member == "HidePreeditText") {
            preedit.visible = message.member == "ShowPreeditText";
        } else if (message.member == "GlobalEngineChanged") {
            preedits_.clear();  // the fields' engines are new ones
        }
        return;
    }
    if (!keys_.watching)
        return;
    if (message.type == BusMessage::Call && message.member == "ProcessKeyEvent") {
        keys_.unanswered.insert(message.sender + ' ' + QByteArray::number(message.serial));
        const bool release = message.arguments.value(2).toUInt() & kReleaseMask;
        (release ? keys_.releases : keys_.presses) << message.arguments.value(0).toUInt();
    } else if (message.type == BusMessage::Return || message.type == BusMessage::Error) {
        if (!keys_.unanswered.remove(message.destination + ' ' + QByteArray::number(message.replySerial)))
            return;
    } else {
        return;
    }
    checkTaken();
}

void IBusInputMethod::checkTaken()
{
    if (!keys_.sent)
        return;
    // Every key answered, the last one among them (its release too where
    // the program hands IBus releases).
    const bool lastDone = keys_.presses.count(keys_.lastKeysym) >= keys_.lastKeyCount
        && (keys_.releases.isEmpty() || keys_.releases.count(keys_.lastKeysym) >= keys_.lastKeyCount);
    const bool anySeen = !keys_.presses.isEmpty() || !keys_.releases.isEmpty();
    const bool taken = anySeen ? lastDone && keys_.unanswered.isEmpty() : sentClock_.elapsed() >= kNoKeysMs;
    if (!taken && sentClock_.elapsed() < kPutBackLimitMs)
        return;
    limit_->stop();
    keys_ = KeysInFlight{};
    bool restored = true;
    if (!userEngine_.isEmpty())
        restored = setGlobalEngine(std::exchange(userEngine_, QString()));
    if (auto done = std::exchange(putBackDone_, nullptr))
        done(restored);
}

bool IBusInputMethod::composing()
{
    // Any field's: a field that loses the focus ends its word.
    for (const Preedit& preedit : std::as_const(preedits_)) {
        if (preedit.text && preedit.visible)
            return true;
    }
    return false;
}

void IBusInputMethod::putBackNow()
{
    if (!userEngine_.isEmpty())
        setGlobalEngine(std::exchange(userEngine_, QString()));
    keys_ = KeysInFlight{};
}
