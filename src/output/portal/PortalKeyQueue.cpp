#include "output/portal/PortalKeyQueue.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
// At shutdown a held key's release may wait this long for its answer.
constexpr int kReleaseAtExitMs = 250;

}  // namespace

PortalKeyQueue::PortalKeyQueue(const QDBusConnection& bus, NotTyped notTyped, QObject* parent)
    : QObject(parent), bus_(bus), notTyped_(std::move(notTyped))
{
}

void PortalKeyQueue::releaseHeld()
{
    waiting_.clear();
    typing_ = false;
    if (!held_ || session_.isEmpty())
        return;
    held_ = false;
    // The press must be through before its release goes, or the portal may
    // hand the two over the other way round; a release on its way is enough.
    if (inFlight_) {
        inFlight_->waitForFinished();
        delete inFlight_;
        inFlight_ = nullptr;
        if (releasing_)
            return;
    }
    bus_.call(keysymCall(card_.keysyms[next_], false), QDBus::Block, kReleaseAtExitMs);
}

void PortalKeyQueue::setSession(const QString& session)
{
    session_ = session;
    if (!session_.isEmpty())
        return;
    const std::deque<Card> dropped = std::move(waiting_);
    waiting_.clear();
    for (const Card& card : dropped)
        notTyped_(card.text);
    sendNext();  // the card being typed ends once its held key is released
}

bool PortalKeyQueue::add(const std::string& text, std::vector<std::uint32_t> keysyms)
{
    if (session_.isEmpty() || waiting_.size() >= kMaxWaiting) {
        notTyped_(text);
        return false;
    }
    waiting_.push_back({text, std::move(keysyms)});
    sendNext();
    return true;
}

void PortalKeyQueue::sendNext()
{
    while (!inFlight_) {
        if (!typing_) {
            if (waiting_.empty())
                return;
            card_ = std::move(waiting_.front());
            waiting_.pop_front();
            typing_ = true;
            next_ = 0;
            held_ = false;
            failed_ = false;
            cardClock_.start();
        }
        if (held_) {
            send(card_.keysyms[next_], false);
            return;
        }
        if (failed_ || session_.isEmpty() || next_ >= card_.keysyms.size() || cardClock_.elapsed() > kCardTimeoutMs) {
            finishCard();
            continue;
        }
        send(card_.keysyms[next_], true);
    }
}

void PortalKeyQueue::finishCard()
{
    typing_ = false;
    if (next_ < card_.keysyms.size())
        notTyped_(card_.text);
}

void PortalKeyQueue::send(std::uint32_t keysym, bool pressed)
{
    // A press is held from the moment it leaves: whatever its answer, its
    // release follows.
    if (pressed)
        held_ = true;
    releasing_ = !pressed;
    inFlight_ = new QDBusPendingCallWatcher(bus_.asyncCall(keysymCall(keysym, pressed), kCallTimeoutMs), this);
    connect(inFlight_, &QDBusPendingCallWatcher::finished, this, &PortalKeyQueue::onAnswer);
}

QDBusMessage PortalKeyQueue::keysymCall(std::uint32_t keysym, bool pressed) const
{
    QDBusMessage key
        = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, QStringLiteral("NotifyKeyboardKeysym"));
    key.setArguments({QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap(), int(keysym), uint(pressed)});
    key.setAutoStartService(false);
    return key;
}

void PortalKeyQueue::onAnswer(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    inFlight_ = nullptr;
    if (call->isError())
        failed_ = true;
    if (releasing_) {
        held_ = false;
        ++next_;
    }
    sendNext();
}
