// How a card is typed, on every desktop: nothing at all when there is no
// live target; otherwise show it, hand the text to the clipboard, and unless
// the system would drop our keys there, bring the target forward, and only
// once it holds the keyboard focus (and the gate, where there is one, lets
// the keys go: an input method switched to direct input) type the text,
// then the comma, then Enter.
#pragma once

#include "output/KeyboardOutput.h"

#include <functional>
#include <string>

enum class TypeResult {
    Typed,
    NoDesktop,         // no desktop to type into (said when it goes and comes back)
    NoTarget,          // no window of another program has been in front yet
    TargetGone,        // the window the card was meant for has closed
    NoFocus,           // the target did not take the keyboard focus
    TargetElevated,    // the target's program runs as administrator: our keys would be dropped
    Incomplete,        // the keys could not all be sent
    Reported,          // the output has said so itself
    Composing,         // the user is half-way through a word in an input method
    InputMethodStuck,  // an input method could not be switched to direct input
};

using ClipboardSetter = std::function<void(const std::string& utf8)>;
// Asked once the target has the focus: Typed lets the keys go, anything else
// is the card's result and nothing is typed.
using KeysGate = std::function<TypeResult()>;

TypeResult typeCard(KeyboardOutput& keyboard, DesktopWindows::WindowId target, const std::string& text, bool addComma,
                    bool addEnter, const ClipboardSetter& setClipboard, const KeysGate& gate = {});
