// An input method (IBus, fcitx5) turns key presses into Chinese: Pinyin
// makes words of the letters A-F, Zhuyin takes digits for syllables, and
// either may keep Enter for itself. The keys of a card get past it by
// switching it to direct input for the card, through its own interface, and
// back once it has taken the card's last key, so that the user finds it
// exactly as it was.
//
// The order for one card: composing() (a card never goes into a word the
// user is half-way through), letThrough() after the target has the focus,
// the card's keys, closingKey() when there is one, then putBack().
#pragma once

#include "output/KeyboardOutput.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class InputMethod {
public:
    virtual ~InputMethod() = default;

    // "IBus", "fcitx5": for the info log.
    virtual QString name() const = 0;

    // Whether cards typed through `keys` can get past it while it is on.
    virtual bool passableWith(const KeyboardOutput& keys) const
    {
        (void)keys;
        return true;
    }

    // True while the focused field holds a word the user has begun and not
    // finished. False where the input method does not tell.
    virtual bool composing() = 0;

    enum class Pass {
        Direct,    // it passes keys unchanged already (off, or not in the field)
        Switched,  // switched to direct input for this card: putBack() follows
        Failed,    // could not be switched: the card would arrive changed
    };
    // `focusJustMoved`: the target was brought forward for this card, and
    // the input method may not have heard of its focus yet. `keys` reach the
    // focused field, for an input method that learns of its focus only from
    // a key.
    virtual Pass letThrough(KeyboardOutput& keys, bool focusJustMoved) = 0;

    // A key to send right after the card's keys, in the same stream: the
    // input method handles it only after every key before it, so its effect
    // tells when the card has been taken. Only after Switched.
    virtual std::optional<Shortcut> closingKey() { return std::nullopt; }

    // After the keys (`keysyms`, the card's in order): once the input method
    // has taken every one of them, puts it back as it was if it was switched,
    // then calls `done` with whether it is as it was. Never before.
    virtual void putBack(const std::vector<std::uint32_t>& keysyms, std::function<void(bool restored)> done) = 0;

    // Puts it back at once, without waiting for the keys: the program ends.
    virtual void putBackNow() = 0;
};
