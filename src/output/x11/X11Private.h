// What the parts of the X11 keyboard share: the connection state, the guard
// objects every public call sets up, and the window and keystroke helpers.
// X11Connection.cpp keeps the connection and its error handling,
// X11Windows.cpp the window queries, the focus and the keyboard output's
// window calls, KeymapPlan.cpp decides the keycodes, X11Keyboard.cpp the
// keymap and the keystrokes.
#pragma once

#include "output/x11/KeymapPlan.h"
#include "output/x11/X11Keyboard.h"

#include <signal.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

struct X11Keyboard::Impl {
    Display* dpy = nullptr;    // every request and the keystrokes
    Display* watch = nullptr;  // only listens to the root's properties
    Window root = 0;
    bool lost = false;  // set by the I/O error handlers; Xlib is not touched again
    bool xkb = false;
    bool abandoned = false;
    int watchXkbEvent = -1;  // the XKB event type on the watch connection, -1 without XKB
    int silencer = -1;       // write end of the pipe that replaced the watch descriptor

    bool errorSeen = false;
    unsigned long lastErrorSerial = 0;

    struct Atoms {
        Atom activeWindow, supported, supportingCheck, wmPid, wmState, netWmState, stateHidden;
    } atom{};

    std::vector<x11plan::Binding> bindings;  // spare keycodes we bound, kept until destruction

    // Connection (X11Connection.cpp)
    void open(const std::string& displayName);
    void close();
    bool enter();
    void abandon();
    void discardEvents();

    // Windows and focus (X11Windows.cpp)
    std::vector<unsigned long> property32(Window w, Atom prop, Atom type, bool* present = nullptr);
    bool wmAnnouncesActive();
    Window parentOf(Window w, Window* rootOut);
    Window topLevelOf(Window w);
    bool isWithin(Window w, Window ancestor);
    Window findClient(Window target, Window top);
    bool sameMachine(Window w);
    void show(Window target, Window top, Window client, const XWindowAttributes& attrs, bool wm);
    void requestFocus(Window target, Window client, bool wm);
    void sendActivate(Window w);
    bool waitForFocus(Window target, Window client, bool wm);

    // Keystrokes (X11Keyboard.cpp)
    x11plan::Keymap readKeymap();
    void writeKeymap(const std::vector<std::pair<KeyCode, KeySym>>& assign);
    std::set<int> modifierCodes();
    void bindAhead();
    void drainWatch();
    std::vector<KeyCode> pressedShiftKeys();
    bool sendKeys(const std::string& text, bool addComma, bool addEnter);
    bool sendShortcut(const Shortcut& key);
    bool strokesHeld(const x11plan::Plan& plan, const std::vector<KeySym>& syms, int currentGroup, std::size_t count);
    void releaseBindings();
};

// Blocks SIGPIPE while it lives: writing to a server that has just gone away
// must cost a lost connection, not the process. A SIGPIPE raised meanwhile
// is taken off the thread before the old mask comes back.
class SigpipeBlock {
public:
    SigpipeBlock();
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

// The target as showWindow() found it, so that bringForward() does not
// look it up again.
struct X11Keyboard::Shown {
    Window target = 0;
    Window top = 0;
    Window client = 0;
    bool wm = false;
};

// Catches X errors caused by the requests made while it lives. Requests
// without a reply need an XSync before failed() can tell.
class ErrorTrap {
public:
    explicit ErrorTrap(X11Keyboard::Impl& d) : d_(d), first_(NextRequest(d.dpy)) { }
    bool failed() const { return d_.lost || (d_.errorSeen && d_.lastErrorSerial >= first_); }

private:
    X11Keyboard::Impl& d_;
    unsigned long first_;
};
