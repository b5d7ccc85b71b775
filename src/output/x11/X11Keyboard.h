// Keystrokes for X11 desktops: plain Xlib with the XTest and XKB extensions.
//
// Each character is typed with a key the current layout has for it (with
// Shift where needed; a locked Caps Lock and a held Shift are let go
// meanwhile), so applications get the key events of a real keyboard.
// Characters the layout lacks go through spare keycodes (keycodes the keymap
// leaves empty) bound to exactly that character, at start and whenever the
// keymap changes, so the keys are in place before a card comes. Such
// bindings are kept for the life of the object: a receiving client reads the
// keymap only when it gets round to the MappingNotify, so a binding must not
// change while key events for it may still be waiting in some client's
// queue. They are checked against the server's keymap at every call
// (setxkbmap replaces it) and handed back in the destructor.
//
// Another program may replace the keymap while a card is typed: the keys
// typed are checked against the server's keymap before Enter, and a card
// they may not have carried gets no Enter and is reported Incomplete.
//
// The object never terminates the program: X errors are recorded rather than
// fatal, and a lost connection turns every call into a no-op that reports
// failure (available() becomes false).
//
// Use from one thread only.
#pragma once

#include "output/KeyboardOutput.h"

#include <memory>
#include <string>

class X11Keyboard final : public KeyboardOutput {
public:
    // Connects to `displayName`, or to $DISPLAY when it is empty.
    explicit X11Keyboard(const std::string& displayName = {});
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    bool available() const override;
    WindowId foregroundWindow() override;
    bool isOwnWindow(WindowId window) override;

    // A second, event-only connection to the server that listens to property
    // changes on the root window, so it becomes readable when the window
    // manager announces another active window. -1 when the window manager
    // does not announce it (or there is none): then poll foregroundWindow().
    // Once the connection is lost the descriptor stays open but never becomes
    // readable again, so a watcher on it falls silent instead of spinning.
    int changeNotifier() override;
    void drainChanges() override;

    bool showWindow(WindowId target) override;
    bool bringForward(WindowId target) override;
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;
    Sent sendShortcut(const Shortcut& key) override;
    bool canSendShortcuts() const override { return true; }

    struct Impl;

private:
    struct Shown;
    std::unique_ptr<Impl> d_;
    std::unique_ptr<Shown> shown_;
};
