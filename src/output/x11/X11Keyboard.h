// Keystrokes for X11 desktops: plain Xlib with the XTest and XKB extensions.
//
// Characters are typed through spare keycodes (keycodes the current keymap
// leaves empty) that are bound to exactly the character needed, so the text
// arrives unchanged whatever the layout and the Shift state. Such bindings are
// kept for the life of the object: a receiving client reads the keymap only
// when it gets round to the MappingNotify, so a binding must not change while
// key events for it may still be waiting in some client's queue. They are
// checked against the server's keymap at every call (setxkbmap replaces it)
// and handed back in the destructor.
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

    bool typeText(WindowId target, const std::string& text, bool addComma, bool addEnter,
                  const ClipboardSetter& setClipboard) override;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};
