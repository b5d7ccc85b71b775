// The cards waiting to be typed through the desktop portal, and the one
// being typed, key by key.
//
// The portal hands calls that arrive together to its desktop in any order,
// so each NotifyKeyboardKeysym waits for the answer to the one before it:
// keys reach the desktop in order and one card's keys never mix with the
// next card's. Waiting is asynchronous, on the event loop of the thread that
// owns the queue. Every press we send is followed by its release, whatever
// the answer to the press was; a card that takes longer than its time limit,
// or meets an error, is given up after that release and reported.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QDBusPendingCallWatcher;

class PortalKeyQueue final : public QObject {
    Q_OBJECT

public:
    // At most this many cards wait behind the one being typed.
    static constexpr std::size_t kMaxWaiting = 8;
    // Each call is given this long for its answer, each card this long in all.
    static constexpr int kCallTimeoutMs = 1000;
    static constexpr int kCardTimeoutMs = 3000;

    // Told the text of each card that was not typed in full, or not at all.
    using NotTyped = std::function<void(const std::string& text)>;

    PortalKeyQueue(const QDBusConnection& bus, NotTyped notTyped, QObject* parent = nullptr);
    ~PortalKeyQueue() override { releaseHeld(); }

    // At shutdown: releases a key still held, waiting for it a short while
    // at most; nothing more is sent after it.
    void releaseHeld();

    // The remote-desktop session the keys go to; empty when it is gone:
    // the cards still waiting are then reported and dropped.
    void setSession(const QString& session);

    // Queues the keys of `text`; false (and reported) when too many cards
    // are waiting already.
    bool add(const std::string& text, std::vector<std::uint32_t> keysyms);

    // True while keys are being sent or cards wait.
    bool busy() const { return inFlight_ != nullptr || typing_ || !waiting_.empty(); }

private:
    struct Card {
        std::string text;
        std::vector<std::uint32_t> keysyms;
    };

    void sendNext();
    void finishCard();
    void send(std::uint32_t keysym, bool pressed);
    // The portal call that presses or releases `keysym` in our session.
    QDBusMessage keysymCall(std::uint32_t keysym, bool pressed) const;
    void onAnswer(QDBusPendingCallWatcher* call);

    QDBusConnection bus_;
    NotTyped notTyped_;
    QString session_;
    std::deque<Card> waiting_;
    // The card being typed: its next key, whether that key is down (its
    // press went out, its release not yet), and whether it went wrong.
    Card card_;
    bool typing_ = false;
    std::size_t next_ = 0;
    bool held_ = false;
    bool releasing_ = false;  // the call in flight is a release
    bool failed_ = false;
    QElapsedTimer cardClock_;
    QDBusPendingCallWatcher* inFlight_ = nullptr;
};
