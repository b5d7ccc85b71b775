// Typing card numbers into the user's own application.
//
// Qt-free on purpose: the Windows implementation must compile with a bare
// cross compiler. One implementation per platform (x11/, windows/) and a
// recording one for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class KeyboardOutput {
public:
    using WindowId = std::uint64_t;  // 0 is "no window"
    using ClipboardSetter = std::function<void(const std::string& utf8)>;

    virtual ~KeyboardOutput() = default;

    // False when there is no desktop to type into (no display, lost connection).
    virtual bool available() const = 0;

    // The window that has the user's attention now, or 0.
    virtual WindowId foregroundWindow() = 0;

    // True when `window` belongs to this process (our own window, menu, dialog).
    virtual bool isOwnWindow(WindowId window) = 0;

    // A file descriptor that becomes readable when the foreground window may
    // have changed, or -1 when the caller has to poll foregroundWindow().
    virtual int changeNotifier() { return -1; }
    // Consumes whatever made changeNotifier() readable.
    virtual void drainChanges() {}

    // Types `text` (UTF-8) into `target`, in this order: nothing at all when
    // `target` is not a live window; otherwise show it (a maximised window
    // stays maximised, a minimised one is restored), hand the text to
    // `setClipboard`, raise and activate it, and only when it then holds the
    // keyboard focus type the text, a comma when `addComma`, and Enter when
    // `addEnter`. Every character arrives as itself whatever the keyboard
    // layout and the state of Shift and Caps Lock. Returns true when the keys
    // were sent.
    virtual bool typeText(WindowId target, const std::string& text, bool addComma, bool addEnter,
                          const ClipboardSetter& setClipboard) = 0;
};
