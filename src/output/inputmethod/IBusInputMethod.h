// IBus, on its own bus (the address ibus-daemon leaves for the display).
//
// IBus has one engine for every field (its global engine): for a card it is
// switched to the keyboard layout's own engine, which passes keys
// unchanged, and back to the user's engine once IBus has answered the card's
// last key. Every program's keys reach IBus as calls on this bus (GTK, Qt
// and XIM through ibus-x11 alike), and IBus passes on to us copies of
// whatever matches our rules: its answers tell when the keys are taken, and
// the composition each field's engine reports tells when a word is
// half-way typed.
#pragma once

#include "output/inputmethod/InputMethod.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>

#include <memory>

class BusConnection;
struct BusMessage;
class QTimer;

class IBusInputMethod : public QObject, public InputMethod {
public:
    // Null when no IBus runs for this display.
    static std::unique_ptr<IBusInputMethod> find();
    ~IBusInputMethod() override;

    QString name() const override { return QStringLiteral("IBus"); }
    bool composing() override;
    Pass letThrough(KeyboardOutput& keys, bool focusJustMoved) override;
    void putBack(const std::vector<std::uint32_t>& keysyms, std::function<void(bool restored)> done) override;
    void putBackNow() override;

    // Where ibus-daemon writes its address for this display (`display` as in
    // DISPLAY or WAYLAND_DISPLAY). Public for the tests.
    static QString addressFile(const QString& configHome, const QString& machineId, const QString& display,
                               bool wayland);

private:
    explicit IBusInputMethod(std::unique_ptr<BusConnection> bus);
    QString globalEngine(QString* layout = nullptr);
    bool setGlobalEngine(const QString& engine);
    QString directEngine(const QString& layout);
    void watch(const BusMessage& message);
    void checkTaken();

    std::unique_ptr<BusConnection> bus_;
    QString userEngine_;  // the engine to put back; empty while not switched

    // What each field's engine has of a word in the making, by its path.
    struct Preedit {
        bool text = false;
        bool visible = false;
    };
    QHash<QByteArray, Preedit> preedits_;

    // The keys of the card on their way through IBus.
    struct KeysInFlight {
        bool watching = false;
        bool sent = false;  // putBack() has been called
        std::uint32_t lastKeysym = 0;
        int lastKeyCount = 0;           // how often the card has its last key
        QSet<QByteArray> unanswered;    // caller and serial of each key call
        QList<std::uint32_t> presses;   // the keys IBus was handed, in order
        QList<std::uint32_t> releases;  // (programs that hand it releases too)
    } keys_;
    QTimer* limit_ = nullptr;
    QElapsedTimer sentClock_;
    std::function<void(bool)> putBackDone_;
};
