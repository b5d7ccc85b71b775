#include "output/inputmethod/Fcitx5InputMethod.h"

#include "output/inputmethod/BusConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <xkbcommon/xkbcommon.h>

namespace {

constexpr const char* kService = "org.fcitx.Fcitx5";
constexpr const char* kController = "/controller";
constexpr const char* kControllerInterface = "org.fcitx.Fcitx.Controller1";
constexpr const char* kFieldInterface = "org.fcitx.Fcitx.InputContext1";

// How long the focus of a field just brought forward may take to reach
// fcitx5, and how long fcitx5 may take to handle the card and its switch key.
constexpr int kFocusSettleMs = 300;
constexpr int kPutBackLimitMs = 2000;
constexpr int kPollMs = 5;

}  // namespace

std::unique_ptr<Fcitx5InputMethod> Fcitx5InputMethod::find()
{
    std::unique_ptr<BusConnection> bus = BusConnection::open();
    if (!bus || !bus->nameHasOwner(kService))
        return nullptr;
    std::unique_ptr<Fcitx5InputMethod> im(new Fcitx5InputMethod(std::move(bus)));
    im->readSwitchKey();
    return im;
}

Fcitx5InputMethod::Fcitx5InputMethod(std::unique_ptr<BusConnection> bus) : bus_(std::move(bus))
{
    // The composition of fields that talk over D-Bus: the preedit fcitx5
    // sends them, and their leaving, copied to us.
    for (const char* rule :
         {"type='method_call',interface='org.fcitx.Fcitx.InputContext1',member='FocusOut',eavesdrop='true'",
          "type='method_call',interface='org.fcitx.Fcitx.InputContext1',member='DestroyIC',eavesdrop='true'",
          "type='signal',interface='org.fcitx.Fcitx.InputContext1',member='UpdateFormattedPreedit',eavesdrop='true'"})
        bus_->addMatch(rule);
    bus_->onMessage = [this](const BusMessage& message) { watch(message); };
    putBackPoll_ = new QTimer(this);
    putBackPoll_->setInterval(kPollMs);
    connect(putBackPoll_, &QTimer::timeout, this, &Fcitx5InputMethod::putBackTick);
}

Fcitx5InputMethod::~Fcitx5InputMethod()
{
    putBackNow();
}

void Fcitx5InputMethod::watch(const BusMessage& message)
{
    if (message.interface != kFieldInterface)
        return;
    // A field is its program's connection and its object.
    if (message.type == BusMessage::Call) {
        composingFields_.remove(message.sender + message.path);  // it lost the focus, or went
    } else if (message.type == BusMessage::Signal && message.member == "UpdateFormattedPreedit") {
        bool text = false;
        if (!message.arguments.isEmpty()) {
            for (const QVariant& piece : message.arguments.first().toList())
                text = text || !piece.toList().value(0).toString().isEmpty();
        }
        composingFields_[message.destination + message.path] = text;
    }
}

bool Fcitx5InputMethod::composing()
{
    // Any field's: a field that loses the focus ends its word.
    for (bool composing : std::as_const(composingFields_)) {
        if (composing)
            return true;
    }
    return false;
}

int Fcitx5InputMethod::state(bool* ok)
{
    const QVariantList reply = bus_->call(kService, kController, kControllerInterface, "State", {}, ok);
    return reply.value(0).toInt();
}

QString Fcitx5InputMethod::focusedField()
{
    // One line per field: "IC [id] program:name frontend:xim cap:... focus:1".
    const QString info = bus_->call(kService, kController, kControllerInterface, "DebugInfo").value(0).toString();
    static const QRegularExpression field(QStringLiteral("IC \\[(\\w+)\\] program:(\\S*) .*focus:1"));
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = field.match(line);
        if (match.hasMatch() && match.captured(2) != self)
            return match.captured(1);
    }
    return {};
}

InputMethod::Pass Fcitx5InputMethod::letThrough(KeyboardOutput& keys, bool focusJustMoved)
{
    putBackPoll_->stop();
    switched_ = false;
    // fcitx5 acts on the field it last heard of. On X11 that is the
    // target's only once the target has told it of its focus, which a
    // program may not do until it hands fcitx5 a key: a Control key alone,
    // which types nothing, makes it do so. A field brought forward just now
    // is the target's once it is not the one fcitx5 had before. (Where keys
    // go to the focused window, the compositor tells fcitx5 of the focus.)
    const QString before = focusedField();
    if ((focusJustMoved || before.isEmpty()) && !keys.followsFocus()
        && keys.sendShortcut(Shortcut{XKB_KEY_Control_L}) == KeySender::Sent::All) {
        QElapsedTimer clock;
        clock.start();
        for (QString now = focusedField(); now.isEmpty() || (focusJustMoved && now == before); now = focusedField()) {
            if (clock.elapsed() >= kFocusSettleMs)
                return Pass::Direct;  // the target has no field of fcitx5's
            QThread::msleep(kPollMs);
        }
    }
    bool ok = false;
    if (focusedField().isEmpty() || state(&ok) != 2 || !ok)
        return Pass::Direct;  // no field of fcitx5's, or off in it
    readSwitchKey();
    if (!switchKey_ || !keys.canSendShortcuts())
        return Pass::Failed;  // no way back on that keeps the order of the keys
    bus_->call(kService, kController, kControllerInterface, "Deactivate", {}, &ok);
    if (!ok || state() != 1) {
        bus_->call(kService, kController, kControllerInterface, "Activate");
        return Pass::Failed;
    }
    switched_ = true;
    return Pass::Switched;
}

void Fcitx5InputMethod::putBack(const std::vector<std::uint32_t>& keysyms, std::function<void(bool)> done)
{
    (void)keysyms;  // the switch key after them tells
    putBackDone_ = std::move(done);
    putBackClock_.start();
    putBackTick();
    if (switched_)
        putBackPoll_->start();
}

void Fcitx5InputMethod::putBackTick()
{
    if (!switched_) {
        putBackPoll_->stop();
        if (auto done = std::exchange(putBackDone_, nullptr))
            done(true);
        return;
    }
    // On again: the switch key has been handled, and every key before it.
    bool ok = false;
    if (state(&ok) == 2 && ok) {
        switched_ = false;
    } else if (!ok || putBackClock_.elapsed() >= kPutBackLimitMs) {
        // The switch key never reached fcitx5 (the field went away, say):
        // back on through the controller, for whichever field has the focus.
        putBackNow();
        putBackPoll_->stop();
        if (auto done = std::exchange(putBackDone_, nullptr))
            done(false);
        return;
    } else {
        return;
    }
    putBackPoll_->stop();
    if (auto done = std::exchange(putBackDone_, nullptr))
        done(true);
}

void Fcitx5InputMethod::putBackNow()
{
    if (!switched_)
        return;
    switched_ = false;
    bus_->call(kService, kController, kControllerInterface, "Activate");
}

void Fcitx5InputMethod::readSwitchKey()
{
    // fcitx5's own settings: Hotkey / TriggerKeys / "0", "1", ...
    const QVariantMap global = bus_->call(kService, kController, kControllerInterface, "GetConfig",
                                          {QStringLiteral("fcitx://config/global")})
                                   .value(0)
                                   .toMap();
    const QVariantMap keys
        = global.value(QStringLiteral("Hotkey")).toMap().value(QStringLiteral("TriggerKeys")).toMap();
    switchKey_.reset();
    QStringList order = keys.keys();
    std::sort(order.begin(), order.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (const QString& index : order) {
        if ((switchKey_ = parseSwitchKey(keys.value(index).toString())))
            return;
    }
}

std::optional<Shortcut> Fcitx5InputMethod::parseSwitchKey(const QString& key)
{
    QStringList parts = key.split(QLatin1Char('+'));
    if (parts.isEmpty() || parts.last().isEmpty())
        return std::nullopt;
    const QString name = parts.takeLast();
    Shortcut out;
    out.keysym = xkb_keysym_from_name(name.toUtf8().constData(), XKB_KEYSYM_NO_FLAGS);
    // A modifier alone acts on its release, and only when nothing came
    // between: no key to send after a card.
    if (out.keysym == XKB_KEY_NoSymbol || (out.keysym >= XKB_KEY_Shift_L && out.keysym <= XKB_KEY_Hyper_R))
        return std::nullopt;
    for (const QString& modifier : parts) {
        if (modifier == QLatin1String("Control"))
            out.control = true;
        else if (modifier == QLatin1String("Shift"))
            out.shift = true;
        else if (modifier == QLatin1String("Alt"))
            out.alt = true;
        else if (modifier == QLatin1String("Super"))
            out.super = true;
        else
            return std::nullopt;
    }
    return out;
}
