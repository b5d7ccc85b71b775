// Typing card numbers into the user's own application.
//
// Qt-free on purpose: the Windows implementation must compile with a bare
// cross compiler. One implementation per desktop (x11/, wayland/, portal/,
// windows/) and a recording one for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class KeyboardOutput {
public:
    using WindowId = std::uint64_t;  // 0 is "no window"
    using ClipboardSetter = std::function<void(const std::string& utf8)>;

    // What foregroundWindow() returns when the output cannot tell windows
    // apart and types into whatever holds the keyboard focus.
    static constexpr WindowId kFocusedWindow = 1;

    virtual ~KeyboardOutput() = default;

    // False when there is no desktop to type into (no display, lost connection).
    virtual bool available() const = 0;

    // The window that has the user's attention now, or 0.
    virtual WindowId foregroundWindow() = 0;

    // True when `window` belongs to this process (our own window, menu, dialog).
    virtual bool isOwnWindow(WindowId window) = 0;

    // True when the keys go to the window that holds the keyboard focus,
    // whatever `target` typeText() is given (Wayland): the output can neither
    // see nor activate other windows, so the caller must first make sure the
    // focus is not in our own window.
    virtual bool followsFocus() const { return false; }

    // What an output that needs the desktop's permission reports once it
    // has asked: refused, no way to ask at all, a new token that lets the
    // next start go without asking (to be stored with the settings), or that
    // the desktop cannot keep the answer and asks at every start. Outputs
    // that type later than typeText() returns also report each card they
    // could not type in full (NotTyped, `detail` the card's text).
    enum class Notice { Refused, Unavailable, RestoreToken, AsksEachStart, NotTyped };
    using NoticeHandler = std::function<void(Notice, const std::string& detail)>;
    // Asks for the permission, with the token of an earlier start (may be
    // empty). Outputs that need none ignore it.
    virtual void start(const std::string& restoreToken, NoticeHandler notice)
    {
        (void)restoreToken;
        (void)notice;
    }

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
