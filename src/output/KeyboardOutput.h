// Typing card numbers into the user's own application.
//
// Qt-free on purpose: the Windows implementation must compile with a bare
// cross compiler. One implementation per desktop (x11/, wayland/, portal/,
// windows/) and a recording one for tests. Each answers two small sets of
// questions, about windows and about keys; the order in which they are put
// for a card is typeCard()'s (output/TypeCard.h), the same on every desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What a desktop says about its windows.
class DesktopWindows {
public:
    using WindowId = std::uint64_t;  // 0 is "no window"

    // What foregroundWindow() returns when the output cannot tell windows
    // apart and types into whatever holds the keyboard focus.
    static constexpr WindowId kFocusedWindow = 1;

    virtual ~DesktopWindows() = default;

    // The window that has the user's attention now, or 0.
    virtual WindowId foregroundWindow() = 0;

    // True when `window` belongs to this process (our own window, menu, dialog).
    virtual bool isOwnWindow(WindowId window) = 0;

    // True when the keys go to the window that holds the keyboard focus,
    // whatever target they are meant for (Wayland): the output can neither
    // see nor activate other windows, so the caller must first make sure the
    // focus is not in our own window.
    virtual bool followsFocus() const { return false; }

    // Shows `target` (a maximised window stays maximised, a minimised one is
    // restored). False, with nothing done, when it is not a live window.
    virtual bool showWindow(WindowId target) = 0;

    // Raises and activates `target`, which showWindow() has shown; true once
    // it holds the keyboard focus.
    virtual bool bringForward(WindowId target) = 0;

    // True when the system would drop the keys sent to `target` while
    // reporting them sent (Windows: its program runs at a higher integrity
    // level than ours, "as administrator").
    virtual bool refusesOurKeys(WindowId target)
    {
        (void)target;
        return false;
    }
};

// A key with modifiers held, such as an input method's switch (Control+space).
struct Shortcut {
    std::uint32_t keysym = 0;
    bool control = false;
    bool shift = false;
    bool alt = false;
    bool super = false;
};

// What sends the keys, to wherever the keyboard focus is.
class KeySender {
public:
    enum class Sent {
        All,         // every key went out (or is queued, in order, to go)
        NoDesktop,   // the desktop is gone or never said yes: nothing went out
        Incomplete,  // the card could not be typed in full
        Reported,    // not typed, and already told through the notice handler
    };

    virtual ~KeySender() = default;

    // The characters of `text` (UTF-8), a comma when `addComma` and Enter
    // when `addEnter`, each arriving as itself whatever the keyboard layout
    // and the state of Shift and Caps Lock.
    virtual Sent sendKeys(const std::string& text, bool addComma, bool addEnter) = 0;

    // `key` pressed with its modifiers, after the keys sent before it.
    // Outputs that cannot send one (canSendShortcuts() false) answer
    // Incomplete.
    virtual Sent sendShortcut(const Shortcut& key)
    {
        (void)key;
        return Sent::Incomplete;
    }
    virtual bool canSendShortcuts() const { return false; }
};

class KeyboardOutput : public DesktopWindows, public KeySender {
public:
    // False when there is no desktop to type into (no display, lost connection).
    virtual bool available() const = 0;

    // What an output that needs the desktop's permission reports once it
    // has asked: refused, no way to ask at all, a new token that lets the
    // next start go without asking (to be stored with the settings), or that
    // the desktop cannot keep the answer and asks at every start. Outputs
    // that type later than sendKeys() returns also report each card they
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
    virtual void drainChanges() { }
};
