// fcitx5, on the session bus.
//
// Switched off for a card through its controller (Deactivate, which acts on
// the field that has the focus) and back on by its own switch key
// (Control+space unless the user chose another), sent right after the
// card's keys: fcitx5 handles keys in the order they come, so once it is on
// again it has taken every key of the card, whichever way the program talks
// to it (D-Bus, XIM, Wayland). Controller calls are fcitx5's own interface.
//
// A word half-way typed shows in the composition signals fcitx5 sends to
// programs that talk to it over D-Bus (GTK, Qt, Chromium); through XIM and
// on Wayland fcitx5 shows it to nobody but the program.
#pragma once

#include "output/inputmethod/InputMethod.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <memory>

class BusConnection;
struct BusMessage;
class QTimer;

class Fcitx5InputMethod : public QObject, public InputMethod {
public:
    // Null when fcitx5 does not run on the session bus.
    static std::unique_ptr<Fcitx5InputMethod> find();
    ~Fcitx5InputMethod() override;

    QString name() const override { return QStringLiteral("fcitx5"); }
    // Its switch key has to be sent behind the card.
    bool passableWith(const KeyboardOutput& keys) const override { return keys.canSendShortcuts(); }
    bool composing() override;
    Pass letThrough(KeyboardOutput& keys, bool focusJustMoved) override;
    std::optional<Shortcut> closingKey() override { return switchKey_; }
    void putBack(const std::vector<std::uint32_t>& keysyms, std::function<void(bool restored)> done) override;
    void putBackNow() override;

    // The first of fcitx5's switch keys that can be sent ("Control+space");
    // none for keys made of modifiers alone. Public for the tests.
    static std::optional<Shortcut> parseSwitchKey(const QString& key);

private:
    explicit Fcitx5InputMethod(std::unique_ptr<BusConnection> bus);
    int state(bool* ok = nullptr);  // 0 no field, 1 off, 2 on
    // The field of another program than ours that has fcitx5's focus, or "".
    QString focusedField();
    void readSwitchKey();
    void watch(const BusMessage& message);
    void putBackTick();

    std::unique_ptr<BusConnection> bus_;
    std::optional<Shortcut> switchKey_;
    bool switched_ = false;
    // Fields that talk over D-Bus, and whether each holds a word.
    QHash<QByteArray, bool> composingFields_;
    QTimer* putBackPoll_ = nullptr;
    QElapsedTimer putBackClock_;
    std::function<void(bool)> putBackDone_;
};
