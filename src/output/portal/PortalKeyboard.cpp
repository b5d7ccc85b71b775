#include "output/portal/PortalKeyboard.h"

#include "output/KeySymbols.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint kDeviceKeyboard = 1;
// Kept until the user revokes it, across restarts of the program.
constexpr uint kPersistUntilRevoked = 2;
// The first version of the interface that offers persist_mode.
constexpr uint kPersistingVersion = 2;

}  // namespace

PortalKeyboard::PortalKeyboard(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus), keys_(bus, [this](const std::string& text) { tell(Notice::NotTyped, text); })
{
}

PortalKeyboard::~PortalKeyboard()
{
    keys_.releaseHeld();  // before the session closes
    if (!session_.isEmpty() && bus_.isConnected()) {
        bus_.call(QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close")),
                  QDBus::NoBlock);
    }
}

bool PortalKeyboard::present() const
{
    if (!bus_.isConnected() || !bus_.interface())
        return false;
    const auto iface = bus_.interface();
    return iface->isServiceRegistered(kService).value() || iface->activatableServiceNames().value().contains(kService);
}

bool PortalKeyboard::available() const
{
    return bus_.isConnected() && state_ != State::Failed;
}

void PortalKeyboard::start(const std::string& restoreToken, NoticeHandler notice)
{
    if (state_ != State::Idle)
        return;
    notice_ = std::move(notice);
    restoreToken_ = QString::fromStdString(restoreToken);
    if (!present()) {
        fail(Notice::Unavailable);
        return;
    }
    // What the portal can do decides what we ask it for.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kRemoteDesktop, QStringLiteral("version")});
    state_ = State::ReadingVersion;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalKeyboard::onVersion);
}

void PortalKeyboard::onVersion(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    // A portal without the remote desktop interface has no such property.
    if (reply.isError()) {
        fail(Notice::Unavailable);
        return;
    }
    version_ = reply.value().variant().toUInt();
    if (version_ < kPersistingVersion)
        tell(Notice::AsksEachStart);
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("tallyport"));
    state_ = State::CreatingSession;
    request(QStringLiteral("CreateSession"), {}, options);
}

// Every portal request answers with a Response signal on a request object
// whose path follows from our bus name and the token we pick; we listen
// there before asking, so the answer cannot slip by.
void PortalKeyboard::request(const QString& method, QList<QVariant> arguments, QVariantMap options)
{
    if (!requestPath_.isEmpty()) {
        bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap)));
    }
    const QString token = QStringLiteral("tallyport%1").arg(++requests_);
    QString sender = bus_.baseService().mid(1);
    sender.replace('.', '_');
    requestPath_ = kPath + QStringLiteral("/request/") + sender + '/' + token;
    bus_.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));
    options.insert(QStringLiteral("handle_token"), token);

    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
    arguments.append(options);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        // No such service or interface, or a portal that turned us down flat.
        if (call->isError())
            fail(Notice::Unavailable);
    });
}

void PortalKeyboard::onResponse(uint response, const QVariantMap& results)
{
    if (response != 0) {
        fail(Notice::Refused);
        return;
    }
    switch (state_) {
    case State::CreatingSession: {
        session_ = results.value(QStringLiteral("session_handle")).toString();
        if (session_.isEmpty()) {
            fail(Notice::Unavailable);
            return;
        }
        bus_.connect(kService, session_, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
        QVariantMap options;
        options.insert(QStringLiteral("types"), kDeviceKeyboard);
        if (version_ >= kPersistingVersion) {
            options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
            if (!restoreToken_.isEmpty())
                options.insert(QStringLiteral("restore_token"), restoreToken_);
        }
        state_ = State::SelectingDevices;
        request(QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(session_))}, options);
        break;
    }
    case State::SelectingDevices:
        state_ = State::Starting;
        request(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {});
        break;
    case State::Starting: {
        if (!(results.value(QStringLiteral("devices")).toUInt() & kDeviceKeyboard)) {
            fail(Notice::Refused);
            return;
        }
        state_ = State::Ready;
        keys_.setSession(session_);
        // A token is good for one start: each start hands out the next.
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (version_ >= kPersistingVersion && !token.isEmpty() && token != restoreToken_) {
            restoreToken_ = token;
            tell(Notice::RestoreToken, token.toStdString());
        }
        break;
    }
    default: break;
    }
}

void PortalKeyboard::onSessionClosed()
{
    session_.clear();
    fail(Notice::Refused);
}

// Reported once: later cards are simply not typed.
void PortalKeyboard::fail(Notice why)
{
    if (state_ == State::Failed)
        return;
    state_ = State::Failed;
    keys_.setSession({});
    tell(why);
}

void PortalKeyboard::tell(Notice what, const std::string& detail)
{
    if (notice_)
        notice_(what, detail);
}

KeySender::Sent PortalKeyboard::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    if (!ready()) {
        // While the desktop is still asking; after a refusal it said once
        // that no card is typed.
        if (state_ == State::Failed)
            return Sent::NoDesktop;
        tell(Notice::NotTyped, text);
        return Sent::Reported;
    }
    return keys_.add(text, keysyms::forCard(text, addComma, addEnter)) ? Sent::All : Sent::Reported;
}
