// Keystrokes for Wayland compositors that offer the virtual keyboard
// protocol (wlroots compositors and others).
//
// A Wayland client can neither see nor activate other windows: the keys go
// to whichever window holds the keyboard focus, and the caller makes sure
// that is not our own. Our virtual keyboard carries a keymap of its own: every
// printable ASCII character, Enter and Shift on the keys of a us keyboard, so
// toolkits that look at the key see an ordinary keyboard, and the text
// arrives unchanged whatever the user's layout and the state of Caps Lock.
//
// Its own connection to the compositor, apart from the GUI toolkit's. Use
// from one thread only.
#pragma once

#include "output/KeyboardOutput.h"

#include <memory>
#include <string>

class WaylandKeyboard final : public KeyboardOutput {
public:
    // Connects to `displayName`, or to $WAYLAND_DISPLAY when it is empty.
    explicit WaylandKeyboard(const std::string& displayName = {});
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    // False when the compositor is unreachable, does not offer the protocol
    // or has since closed the connection.
    bool available() const override;
    WindowId foregroundWindow() override { return available() ? kFocusedWindow : 0; }
    bool isOwnWindow(WindowId) override { return false; }
    bool followsFocus() const override { return true; }

    // `target` only has to be non-zero; the keys go to the focused window.
    bool showWindow(WindowId target) override;
    bool bringForward(WindowId) override { return available(); }
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;
    Sent sendShortcut(const Shortcut& key) override;
    bool canSendShortcuts() const override { return true; }

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};
