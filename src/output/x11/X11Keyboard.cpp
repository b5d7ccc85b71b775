#include "output/x11/X11Keyboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long the target may take to receive the keyboard focus after it was
// activated, and how often the request is repeated meanwhile.
constexpr auto kFocusTimeout = std::chrono::milliseconds(500);
constexpr auto kFocusCheckInterval = std::chrono::milliseconds(5);
constexpr auto kFocusRetryInterval = std::chrono::milliseconds(100);
// A binding unused for this long may be given to another character when the
// spare keycodes run out: by then every client has long read the keys typed
// through it.
constexpr auto kRebindAfter = std::chrono::seconds(5);

// Bound ahead of need, as long as this many spare keycodes stay free.
constexpr std::size_t kKeepSpare = 2;
constexpr KeySym kCardCharacters[] = {
    XK_0, XK_1, XK_2, XK_3, XK_4, XK_5, XK_6, XK_7, XK_8,
    XK_9, XK_A, XK_B, XK_C, XK_D, XK_E, XK_F, XK_comma,
};

// _NET_ACTIVE_WINDOW source indication: a pager or taskbar, i.e. on behalf of
// the user, which window managers honour without focus-stealing checks.
constexpr long kSourceUser = 2;

// Decodes UTF-8, skipping malformed bytes.
std::vector<char32_t> codePoints(const std::string& text) {
    std::vector<char32_t> out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        int extra;
        char32_t cp;
        if (c < 0x80) {
            extra = 0;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            ++i;
            continue;
        }
        bool ok = i + extra < n;
        for (int k = 1; ok && k <= extra; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        i += extra + 1;
        out.push_back(cp);
    }
    return out;
}

// The keysym that stands for one character; NoSymbol for control characters
// that have no key of their own.
KeySym keysymFor(char32_t cp) {
    if (cp == '\n' || cp == '\r') {
        return XK_Return;
    }
    if (cp == '\t') {
        return XK_Tab;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp > 0x10FFFF) {
        return NoSymbol;
    }
    if (cp <= 0xFF) {
        return cp;  // ASCII and Latin-1 keysyms equal their code points
    }
    return 0x01000000 + cp;
}

// The server's keyboard mapping, read in one request.
class Keymap {
public:
    explicit Keymap(Display* dpy) {
        XDisplayKeycodes(dpy, &minCode, &maxCode);
        map_ = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minCode), maxCode - minCode + 1,
                                   &perCode);
    }
    ~Keymap() {
        if (map_) {
            XFree(map_);
        }
    }
    Keymap(const Keymap&) = delete;
    Keymap& operator=(const Keymap&) = delete;

    bool valid() const { return map_ != nullptr; }
    // The keysym at one level of a keycode; NoSymbol outside the map.
    KeySym at(int code, int index) const {
        if (!map_ || code < minCode || code > maxCode || index >= perCode) {
            return NoSymbol;
        }
        return map_[(code - minCode) * perCode + index];
    }
    // The first keycode with `sym` at `index`, or 0.
    int find(KeySym sym, int index) const {
        for (int code = minCode; code <= maxCode; ++code) {
            if (at(code, index) == sym) {
                return code;
            }
        }
        return 0;
    }

    int minCode = 0;
    int maxCode = 0;
    int perCode = 0;

private:
    KeySym* map_ = nullptr;
};

}  // namespace

struct X11Keyboard::Impl {
    Display* dpy = nullptr;    // every request and the keystrokes
    Display* watch = nullptr;  // only listens to the root's properties
    Window root = 0;
    bool lost = false;  // set by the I/O error handlers; Xlib is not touched again
    bool xkb = false;
    bool abandoned = false;
    int silencer = -1;  // write end of the pipe that replaced the watch descriptor

    bool errorSeen = false;
    unsigned long lastErrorSerial = 0;

    struct Atoms {
        Atom activeWindow, supported, supportingCheck, wmPid, wmState, netWmState, stateHidden,
            clientMachine;
    } atom{};

    struct Binding {
        KeySym sym;
        KeyCode code;
        Clock::time_point lastUse;
    };
    std::vector<Binding> bindings;  // spare keycodes we bound, kept until destruction

    struct Stroke {
        KeyCode code;
        bool shift;      // press Shift with it
        bool layoutKey;  // a key of the layout rather than one of our bindings
    };

    bool enter();
    void abandon();
    void discardEvents();

    std::vector<unsigned long> property32(Window w, Atom prop, Atom type, bool* present = nullptr);
    std::string propertyString(Window w, Atom prop);
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
    bool prepareStrokes(const std::vector<KeySym>& syms, std::vector<Stroke>& strokes,
                        KeyCode& shiftCode);
    void writeKeymap(const std::vector<std::pair<KeyCode, KeySym>>& assign);
    std::vector<KeyCode> pressedShiftKeys();
    bool sendKeys(const std::string& text, bool addComma, bool addEnter);
    void releaseBindings();
};

// ---------------------------------------------------------------------------
// Error handling. Xlib's handlers are process-wide; ours handle errors of our
// own connections and pass every other connection's to the handler that was
// installed before. Another library (the GUI toolkit) may install its own
// later, so ours are put back at the start of every call.

namespace {

std::mutex registryMutex;
std::vector<X11Keyboard::Impl*> registry;
XErrorHandler chainedError = nullptr;
XIOErrorHandler chainedIOError = nullptr;
thread_local bool inChainedHandler = false;

X11Keyboard::Impl* ownerOf(Display* dpy) {
    for (auto* impl : registry) {
        if (impl->dpy == dpy || impl->watch == dpy) {
            return impl;
        }
    }
    return nullptr;
}

int onXError(Display* dpy, XErrorEvent* event) {
    XErrorHandler chain;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (auto* impl = ownerOf(dpy)) {
            impl->errorSeen = true;
            impl->lastErrorSerial = std::max(impl->lastErrorSerial, event->serial);
            return 0;
        }
        chain = chainedError;
    }
    // A handler installed after ours that passes errors back to us must not
    // send us round in circles.
    if (!chain || inChainedHandler) {
        return 0;
    }
    inChainedHandler = true;
    const int rc = chain(dpy, event);
    inChainedHandler = false;
    return rc;
}

int onXIOError(Display* dpy) {
    XIOErrorHandler chain;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (auto* impl = ownerOf(dpy)) {
            impl->lost = true;
            return 0;  // Xlib goes on to the connection's exit handler below
        }
        chain = chainedIOError;
    }
    if (!chain || inChainedHandler) {
        return 0;
    }
    inChainedHandler = true;
    const int rc = chain(dpy);
    inChainedHandler = false;
    return rc;
}

// Per connection; Xlib's default one calls exit(). Returning is allowed since
// libX11 1.7: the connection is then marked broken, and requests on it are
// dropped until too many pile up, which is why nothing calls Xlib once `lost`
// is set.
void onXIOErrorExit(Display* dpy, void*) {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (auto* impl = ownerOf(dpy)) {
        impl->lost = true;
    }
}

void assertHandlers() {
    std::lock_guard<std::mutex> lock(registryMutex);
    const XErrorHandler previous = XSetErrorHandler(onXError);
    if (previous != onXError) {
        chainedError = previous;
    }
    const XIOErrorHandler previousIO = XSetIOErrorHandler(onXIOError);
    if (previousIO != onXIOError) {
        chainedIOError = previousIO;
    }
}

// Blocks SIGPIPE while it lives: writing to a server that has just gone away
// must cost a lost connection, not the process. A SIGPIPE raised meanwhile
// is taken off the thread before the old mask comes back.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

// Catches X errors caused by the requests made while it lives. Requests
// without a reply need an XSync before failed() can tell.
class ErrorTrap {
public:
    explicit ErrorTrap(X11Keyboard::Impl& d) : d_(d), first_(NextRequest(d.dpy)) {}
    bool failed() const { return d_.lost || (d_.errorSeen && d_.lastErrorSerial >= first_); }

private:
    X11Keyboard::Impl& d_;
    unsigned long first_;
};

}  // namespace

// Called at the start of every public call: false when there is nothing to
// talk to.
bool X11Keyboard::Impl::enter() {
    if (!dpy) {
        return false;
    }
    if (lost) {
        abandon();
        return false;
    }
    assertHandlers();
    return true;
}

// Called once the server is gone, which Xlib may have noticed on only one of
// the two connections. The other one is made to notice too (its socket shut
// down, then read): a connection Xlib still takes for alive would be synced,
// and waited on, when it is closed. Then the watch descriptor, which would
// read end-of-file forever and make a caller watching it spin, is replaced
// by a pipe that never becomes readable; the number stays valid and is
// closed with the display.
void X11Keyboard::Impl::abandon() {
    if (abandoned) {
        return;
    }
    abandoned = true;
    assertHandlers();
    for (Display* connection : {dpy, watch}) {
        if (connection) {
            shutdown(ConnectionNumber(connection), SHUT_RDWR);
            XPending(connection);
        }
    }
    int fds[2];
    if (!watch || pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    if (dup3(fds[0], ConnectionNumber(watch), O_CLOEXEC) >= 0) {
        silencer = fds[1];
    } else {
        close(fds[1]);
    }
    close(fds[0]);
}

// Nothing on the main connection is selected except what the server sends
// everyone (keymap changes); keep its queue empty.
void X11Keyboard::Impl::discardEvents() {
    while (!lost && XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
    }
}

// ---------------------------------------------------------------------------
// Window queries

std::vector<unsigned long> X11Keyboard::Impl::property32(Window w, Atom prop, Atom type,
                                                         bool* present) {
    std::vector<unsigned long> out;
    if (present) {
        *present = false;
    }
    if (lost || !w) {
        return out;
    }
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int rc = XGetWindowProperty(dpy, w, prop, 0, 1024, False, type, &actualType, &format,
                                      &count, &after, &data);
    if (rc == Success && actualType != None) {
        if (present) {
            *present = true;
        }
        if (data && format == 32) {
            // Xlib hands 32-bit items over as longs.
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            out.assign(items, items + count);
        }
    }
    if (data) {
        XFree(data);
    }
    return out;
}

std::string X11Keyboard::Impl::propertyString(Window w, Atom prop) {
    std::string out;
    if (lost || !w) {
        return out;
    }
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, prop, 0, 256, False, AnyPropertyType, &actualType, &format,
                           &count, &after, &data) == Success &&
        data && format == 8) {
        out.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data) {
        XFree(data);
    }
    return out;
}

// True when a running EWMH window manager maintains _NET_ACTIVE_WINDOW. The
// supporting-check window tells a live manager from properties left behind
// by one that has exited.
bool X11Keyboard::Impl::wmAnnouncesActive() {
    const auto check = property32(root, atom.supportingCheck, XA_WINDOW);
    if (check.empty() || !check[0]) {
        return false;
    }
    const auto self = property32(check[0], atom.supportingCheck, XA_WINDOW);
    if (self.empty() || self[0] != check[0]) {
        return false;
    }
    const auto supported = property32(root, atom.supported, XA_ATOM);
    return std::find(supported.begin(), supported.end(), atom.activeWindow) != supported.end();
}

// The parent of `w`; `*rootOut` is the root, or 0 when `w` does not exist.
Window X11Keyboard::Impl::parentOf(Window w, Window* rootOut) {
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    *rootOut = 0;
    if (lost || !XQueryTree(dpy, w, rootOut, &parent, &children, &count)) {
        *rootOut = 0;
        return 0;
    }
    if (children) {
        XFree(children);
    }
    return parent;
}

// The child of the root that contains `w` (a window manager's frame when
// there is one); `w` itself for the root; 0 when `w` does not exist.
Window X11Keyboard::Impl::topLevelOf(Window w) {
    for (int depth = 0; w && !lost && depth < 100; ++depth) {
        Window rootReturn = 0;
        const Window parent = parentOf(w, &rootReturn);
        if (!rootReturn) {
            return 0;
        }
        if (parent == rootReturn || parent == None) {
            return w;
        }
        w = parent;
    }
    return 0;
}

bool X11Keyboard::Impl::isWithin(Window w, Window ancestor) {
    for (int depth = 0; w && !lost && depth < 100; ++depth) {
        if (w == ancestor) {
            return true;
        }
        Window rootReturn = 0;
        const Window parent = parentOf(w, &rootReturn);
        if (!rootReturn || w == rootReturn) {
            return false;
        }
        w = parent;
    }
    return false;
}

// The application's own top-level window (the one carrying WM_STATE) for a
// target that may be a frame, the client itself or a window inside it.
Window X11Keyboard::Impl::findClient(Window target, Window top) {
    bool present = false;
    for (Window w = target; w && !lost;) {
        property32(w, atom.wmState, atom.wmState, &present);
        if (present) {
            return w;
        }
        if (w == top) {
            break;
        }
        Window rootReturn = 0;
        const Window parent = parentOf(w, &rootReturn);
        if (!rootReturn) {
            return target;
        }
        w = parent;
    }
    // Below the frame: breadth first, a few levels deep.
    std::vector<Window> level{top};
    for (int depth = 0; depth < 3 && !level.empty() && !lost; ++depth) {
        std::vector<Window> next;
        for (Window w : level) {
            Window rootReturn = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(dpy, w, &rootReturn, &parent, &children, &count)) {
                continue;
            }
            for (unsigned int i = 0; i < count; ++i) {
                property32(children[i], atom.wmState, atom.wmState, &present);
                if (present) {
                    const Window found = children[i];
                    XFree(children);
                    return found;
                }
                next.push_back(children[i]);
            }
            if (children) {
                XFree(children);
            }
        }
        level.swap(next);
    }
    return target;
}

bool X11Keyboard::Impl::sameMachine(Window w) {
    const std::string machine = propertyString(w, atom.clientMachine);
    if (machine.empty()) {
        return true;
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        return true;
    }
    return machine == host;
}

// ---------------------------------------------------------------------------
// Showing and activating the target

void X11Keyboard::Impl::show(Window target, Window top, Window client,
                             const XWindowAttributes& attrs, bool wm) {
    bool iconic = false;
    const auto state = property32(client, atom.wmState, atom.wmState);
    if (!state.empty() && state[0] == IconicState) {
        iconic = true;
    }
    const auto netState = property32(client, atom.netWmState, XA_ATOM);
    if (std::find(netState.begin(), netState.end(), atom.stateHidden) != netState.end()) {
        iconic = true;
    }
    if (lost) {
        return;
    }
    if (wm) {
        // Mapping an iconic client asks the manager to restore it; the
        // activation message does it for managers that only listen to that.
        // Neither touches the size, so a maximised window stays maximised.
        if (iconic) {
            XMapRaised(dpy, client);
            sendActivate(client);
        }
    } else {
        if (top != target) {
            XWindowAttributes topAttrs;
            ErrorTrap trap(*this);
            if (XGetWindowAttributes(dpy, top, &topAttrs) && !trap.failed() &&
                topAttrs.map_state == IsUnmapped) {
                XMapWindow(dpy, top);
            }
        }
        if (attrs.map_state == IsUnmapped || iconic) {
            XMapWindow(dpy, target);
        }
    }
    if (!lost) {
        XFlush(dpy);
    }
}

void X11Keyboard::Impl::sendActivate(Window w) {
    const auto current = property32(root, atom.activeWindow, XA_WINDOW);
    if (lost) {
        return;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = atom.activeWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = kSourceUser;
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = current.empty() ? 0 : static_cast<long>(current[0]);
    XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void X11Keyboard::Impl::requestFocus(Window target, Window client, bool wm) {
    if (lost) {
        return;
    }
    if (wm) {
        sendActivate(client);
    } else {
        // Fails with BadMatch while the window is not viewable; the error is
        // only recorded and the focus check below decides.
        XSetInputFocus(dpy, target, RevertToParent, CurrentTime);
    }
    if (!lost) {
        XFlush(dpy);
    }
}

// Waits for the focus to arrive in the target. Focus events on the target
// wake us early; the check itself asks the server.
bool X11Keyboard::Impl::waitForFocus(Window target, Window client, bool wm) {
    const auto start = Clock::now();
    auto nextRetry = start + kFocusRetryInterval;
    const bool insideClient = client != target && isWithin(target, client);
    XSelectInput(dpy, target, FocusChangeMask);
    bool focused = false;
    for (;;) {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(dpy, &focus, &revert);
        if (lost) {
            return false;
        }
        if (focus != None && focus != PointerRoot &&
            (isWithin(focus, target) || (insideClient && isWithin(focus, client)))) {
            focused = true;
            break;
        }
        const auto now = Clock::now();
        if (now - start >= kFocusTimeout) {
            break;
        }
        if (now >= nextRetry) {
            requestFocus(target, client, wm);
            nextRetry = now + kFocusRetryInterval;
        }
        if (!lost && XPending(dpy) == 0) {
            pollfd p{ConnectionNumber(dpy), POLLIN, 0};
            poll(&p, 1, static_cast<int>(kFocusCheckInterval.count()));
        }
        discardEvents();
    }
    if (!lost) {
        XSelectInput(dpy, target, NoEventMask);
        discardEvents();
    }
    return focused && !lost;
}

// ---------------------------------------------------------------------------
// Keystrokes

// Finds a keycode for every keysym: our own bindings first (checked against
// the server's keymap, which someone may have replaced since), then newly
// bound spare keycodes, then a key of the current layout that carries the
// keysym without or with Shift.
bool X11Keyboard::Impl::prepareStrokes(const std::vector<KeySym>& syms,
                                       std::vector<Stroke>& strokes, KeyCode& shiftCode) {
    const Keymap keymap(dpy);
    if (!keymap.valid() || lost) {
        return false;
    }
    const int minCode = keymap.minCode;
    const int maxCode = keymap.maxCode;
    const int perCode = keymap.perCode;
    auto symAt = [&keymap](int code, int index) { return keymap.at(code, index); };
    auto findExisting = [&keymap](KeySym sym, int index) { return keymap.find(sym, index); };

    // Drop bindings the keymap no longer holds.
    bindings.erase(std::remove_if(bindings.begin(), bindings.end(),
                                  [&](const Binding& b) {
                                      return symAt(b.code, 0) != b.sym ||
                                             (symAt(b.code, 1) != b.sym &&
                                              symAt(b.code, 1) != NoSymbol);
                                  }),
                   bindings.end());

    shiftCode = static_cast<KeyCode>(findExisting(XK_Shift_L, 0));
    if (!shiftCode) {
        shiftCode = static_cast<KeyCode>(findExisting(XK_Shift_R, 0));
    }

    const auto now = Clock::now();
    const std::set<KeySym> wanted(syms.begin(), syms.end());
    std::vector<std::pair<KeySym, Stroke>> plan;
    std::vector<KeySym> missing;
    for (KeySym sym : wanted) {
        // Enter goes through the layout's own Return key.
        if (sym == XK_Return) {
            if (const int code = findExisting(XK_Return, 0)) {
                plan.push_back({sym, {static_cast<KeyCode>(code), false, true}});
                continue;
            }
        }
        auto bound = std::find_if(bindings.begin(), bindings.end(),
                                  [sym](const Binding& b) { return b.sym == sym; });
        if (bound != bindings.end()) {
            bound->lastUse = now;
            plan.push_back({sym, {bound->code, false, false}});
        } else {
            missing.push_back(sym);
        }
    }

    if (!missing.empty()) {
        std::set<int> modifierCodes;
        if (XModifierKeymap* mods = XGetModifierMapping(dpy)) {
            for (int i = 0; i < 8 * mods->max_keypermod; ++i) {
                if (mods->modifiermap[i]) {
                    modifierCodes.insert(mods->modifiermap[i]);
                }
            }
            XFreeModifiermap(mods);
        }
        // Keycode 8 stands for "no key" on evdev-based servers, which may
        // drop it on the way.
        std::vector<KeyCode> spare;
        for (int code = maxCode; code >= std::max(minCode, 9); --code) {
            bool empty = !modifierCodes.count(code);
            for (int i = 0; empty && i < perCode; ++i) {
                empty = symAt(code, i) == NoSymbol;
            }
            if (empty) {
                spare.push_back(static_cast<KeyCode>(code));
            }
        }
        // Spare keycodes go first to characters the layout has no key for;
        // the others can fall back on the layout's keys if they run out.
        std::stable_partition(missing.begin(), missing.end(), [&](KeySym sym) {
            return !findExisting(sym, 0) && !findExisting(sym, 1);
        });
        // Card numbers use few characters: bind the rest of them along with
        // the first ones, so the keymap (which every client and the window
        // manager reload on each change) normally changes once in our life.
        std::vector<KeySym> toBind = missing;
        for (KeySym sym : kCardCharacters) {
            if (toBind.size() + kKeepSpare >= spare.size()) {
                break;
            }
            if (!wanted.count(sym) &&
                std::none_of(bindings.begin(), bindings.end(),
                             [sym](const Binding& b) { return b.sym == sym; })) {
                toBind.push_back(sym);
            }
        }
        std::vector<std::pair<KeyCode, KeySym>> assign;
        for (KeySym sym : toBind) {
            const bool needed = wanted.count(sym) > 0;
            KeyCode code = 0;
            if (!spare.empty()) {
                code = spare.back();
                spare.pop_back();
            } else if (needed) {
                // Reuse the binding unused longest, when that is long enough ago.
                auto oldest = bindings.end();
                for (auto it = bindings.begin(); it != bindings.end(); ++it) {
                    if (!wanted.count(it->sym) && now - it->lastUse >= kRebindAfter &&
                        (oldest == bindings.end() || it->lastUse < oldest->lastUse)) {
                        oldest = it;
                    }
                }
                if (oldest != bindings.end()) {
                    code = oldest->code;
                    bindings.erase(oldest);
                }
            }
            if (code) {
                assign.emplace_back(code, sym);
                bindings.push_back({sym, code, now});
                if (needed) {
                    plan.push_back({sym, {code, false, false}});
                }
            } else if (!needed) {
                continue;
            } else if (const int plain = findExisting(sym, 0)) {
                plan.push_back({sym, {static_cast<KeyCode>(plain), false, true}});
            } else if (const int shifted = findExisting(sym, 1); shifted && shiftCode) {
                plan.push_back({sym, {static_cast<KeyCode>(shifted), true, true}});
            } else {
                return false;  // rather nothing than a text with holes
            }
        }
        writeKeymap(assign);
    }

    strokes.clear();
    strokes.reserve(syms.size());
    for (KeySym sym : syms) {
        for (const auto& entry : plan) {
            if (entry.first == sym) {
                strokes.push_back(entry.second);
                break;
            }
        }
    }
    return !lost;
}

// Gives each keycode the keysym on both levels of one group (Shift makes no
// difference), or no keysym at all for NoSymbol. Through XKB this is a single
// request however many keys change, so clients reload the keymap once; the
// core request would cost one reload per key.
void X11Keyboard::Impl::writeKeymap(const std::vector<std::pair<KeyCode, KeySym>>& assign) {
    if (assign.empty() || lost) {
        return;
    }
    if (xkb) {
        if (XkbDescPtr desc = XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
            // The request carries the symbols of every key from the lowest to
            // the highest one changed; those in between go back as they are.
            XkbMapChangesRec changes{};
            int low = 255;
            int high = 0;
            bool ok = true;
            for (const auto& [code, sym] : assign) {
                int types[XkbNumKbdGroups] = {XkbTwoLevelIndex, XkbTwoLevelIndex,
                                              XkbTwoLevelIndex, XkbTwoLevelIndex};
                low = std::min<int>(low, code);
                high = std::max<int>(high, code);
                ok = XkbChangeTypesOfKey(desc, code, sym == NoSymbol ? 0 : 1, XkbGroup1Mask,
                                         types, nullptr) == Success;
                if (!ok) {
                    break;
                }
                if (sym != NoSymbol) {
                    KeySym* syms = XkbKeySymsPtr(desc, code);
                    syms[0] = sym;
                    syms[1] = sym;
                }
            }
            changes.changed = XkbKeySymsMask;
            changes.first_key_sym = static_cast<KeyCode>(low);
            changes.num_key_syms = static_cast<unsigned char>(high - low + 1);
            if (ok) {
                ErrorTrap trap(*this);
                ok = XkbChangeMap(dpy, desc, &changes);
                XSync(dpy, False);
                ok = ok && !trap.failed();
            }
            XkbFreeKeyboard(desc, 0, True);
            if (ok || lost) {
                return;
            }
        }
    }
    for (const auto& [code, sym] : assign) {
        KeySym pair[2] = {sym, sym};
        XChangeKeyboardMapping(dpy, code, sym == NoSymbol ? 1 : 2, pair, 1);
    }
}

bool X11Keyboard::Impl::sendKeys(const std::string& text, bool addComma, bool addEnter) {
    std::vector<KeySym> syms;
    for (char32_t cp : codePoints(text)) {
        const KeySym sym = keysymFor(cp);
        if (sym != NoSymbol) {
            syms.push_back(sym);
        }
    }
    if (addComma) {
        syms.push_back(XK_comma);
    }
    if (addEnter) {
        syms.push_back(XK_Return);
    }
    std::vector<Stroke> strokes;
    KeyCode shiftCode = 0;
    if (!prepareStrokes(syms, strokes, shiftCode)) {
        return false;
    }

    // A locked Caps Lock would turn our lower-case letters into capitals.
    // A Shift key held down does nothing to our bindings, but the layout's
    // own keys (Enter, and characters that found no spare keycode) would
    // change: such Shift keys are let go for the moment.
    bool relockCaps = false;
    bool shiftDown = !xkb;
    if (xkb) {
        XkbStateRec state{};
        if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success) {
            relockCaps = state.locked_mods & LockMask;
            shiftDown = state.base_mods & ShiftMask;
        }
    }
    std::vector<KeyCode> heldShift;
    if (shiftDown && std::any_of(strokes.begin(), strokes.end(),
                                 [](const Stroke& s) { return s.layoutKey; })) {
        heldShift = pressedShiftKeys();
    }
    if (relockCaps) {
        XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, 0);
    }
    for (KeyCode code : heldShift) {
        XTestFakeKeyEvent(dpy, code, False, 0);
    }
    for (const Stroke& s : strokes) {
        if (lost) {
            return false;
        }
        if (s.shift) {
            XTestFakeKeyEvent(dpy, shiftCode, True, 0);
        }
        XTestFakeKeyEvent(dpy, s.code, True, 0);
        XTestFakeKeyEvent(dpy, s.code, False, 0);
        if (s.shift) {
            XTestFakeKeyEvent(dpy, shiftCode, False, 0);
        }
    }
    for (KeyCode code : heldShift) {
        if (!lost) {
            XTestFakeKeyEvent(dpy, code, True, 0);
        }
    }
    if (relockCaps && !lost) {
        XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, LockMask);
    }
    if (!lost) {
        XSync(dpy, False);
    }
    return !lost;
}

// The keys of the Shift modifier that are down now.
std::vector<KeyCode> X11Keyboard::Impl::pressedShiftKeys() {
    std::vector<KeyCode> held;
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    XModifierKeymap* mods = XGetModifierMapping(dpy);
    if (!mods || lost) {
        if (mods) {
            XFreeModifiermap(mods);
        }
        return held;
    }
    for (int i = 0; i < mods->max_keypermod; ++i) {
        const KeyCode code = mods->modifiermap[ShiftMapIndex * mods->max_keypermod + i];
        if (code && (keys[code / 8] & (1 << (code % 8)))) {
            held.push_back(code);
        }
    }
    XFreeModifiermap(mods);
    return held;
}

void X11Keyboard::Impl::releaseBindings() {
    if (bindings.empty()) {
        return;
    }
    const Keymap keymap(dpy);
    if (!keymap.valid() || lost) {
        return;
    }
    std::vector<std::pair<KeyCode, KeySym>> clear;
    for (const Binding& b : bindings) {
        // Only what is still ours: after setxkbmap the key belongs to the layout.
        if (keymap.at(b.code, 0) == b.sym) {
            clear.emplace_back(b.code, NoSymbol);
        }
    }
    writeKeymap(clear);
    bindings.clear();
    if (!lost) {
        XSync(dpy, False);
    }
}

// ---------------------------------------------------------------------------

X11Keyboard::X11Keyboard(const std::string& displayName) : d_(std::make_unique<Impl>()) {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    assertHandlers();
    Display* dpy = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!dpy) {
        return;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        XCloseDisplay(dpy);
        return;  // nothing to type with
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        d.dpy = dpy;
        registry.push_back(&d);
    }
    XSetIOErrorExitHandler(dpy, onXIOErrorExit, nullptr);

    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    d.xkb = XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor);
    // Let our keystrokes through even while another client grabs the server.
    XTestGrabControl(dpy, True);
    d.root = DefaultRootWindow(dpy);

    const char* names[] = {"_NET_ACTIVE_WINDOW", "_NET_SUPPORTED", "_NET_SUPPORTING_WM_CHECK",
                           "_NET_WM_PID",        "WM_STATE",       "_NET_WM_STATE",
                           "_NET_WM_STATE_HIDDEN", "WM_CLIENT_MACHINE"};
    Atom atoms[8] = {};
    XInternAtoms(dpy, const_cast<char**>(names), 8, False, atoms);
    d.atom = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]};

    // The watch connection: the same server, root property changes only.
    if (Display* watch = XOpenDisplay(DisplayString(dpy))) {
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            d.watch = watch;
        }
        XSetIOErrorExitHandler(watch, onXIOErrorExit, nullptr);
        XSelectInput(watch, DefaultRootWindow(watch), PropertyChangeMask);
        XFlush(watch);
    }
    if (!d.lost) {
        XSync(dpy, False);
    }
}

X11Keyboard::~X11Keyboard() {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (d.enter()) {
        d.releaseBindings();
    }
    if (d.lost) {
        d.abandon();
    }
    // Our handlers stay registered for these until both are closed: closing a
    // connection whose server has just gone reports an I/O error.
    if (d.watch) {
        XCloseDisplay(d.watch);
    }
    if (d.dpy) {
        XCloseDisplay(d.dpy);
    }
    if (d.silencer >= 0) {
        close(d.silencer);
    }
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove(registry.begin(), registry.end(), &d), registry.end());
    if (registry.empty()) {
        // Hand the process-wide handlers back when they are still ours.
        const XErrorHandler current = XSetErrorHandler(chainedError);
        if (current != onXError) {
            XSetErrorHandler(current);
        }
        const XIOErrorHandler currentIO = XSetIOErrorHandler(chainedIOError);
        if (currentIO != onXIOError) {
            XSetIOErrorHandler(currentIO);
        }
    }
}

bool X11Keyboard::available() const {
    return d_->dpy && !d_->lost;
}

KeyboardOutput::WindowId X11Keyboard::foregroundWindow() {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter()) {
        return 0;
    }
    d.discardEvents();
    if (d.wmAnnouncesActive()) {
        const auto active = d.property32(d.root, d.atom.activeWindow, XA_WINDOW);
        return active.empty() || d.lost ? 0 : active[0];
    }
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d.dpy, &focus, &revert);
    if (d.lost || focus == None || focus == PointerRoot) {
        return 0;
    }
    const Window top = d.topLevelOf(focus);
    return top == d.root || d.lost ? 0 : top;
}

bool X11Keyboard::isOwnWindow(WindowId window) {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || window == 0 || window > std::numeric_limits<Window>::max()) {
        return false;
    }
    const Window w = static_cast<Window>(window);
    const Window top = d.topLevelOf(w);
    if (!top || top == d.root) {
        return false;
    }
    // The window itself or the nearest ancestor that names a process; below a
    // manager's frame, the client window.
    std::vector<Window> candidates;
    for (Window c = w;;) {
        candidates.push_back(c);
        if (c == top) {
            break;
        }
        Window rootReturn = 0;
        const Window parent = d.parentOf(c, &rootReturn);
        if (!rootReturn) {
            return false;
        }
        c = parent;
    }
    candidates.push_back(d.findClient(top, top));
    for (Window c : candidates) {
        bool present = false;
        const auto pid = d.property32(c, d.atom.wmPid, XA_CARDINAL, &present);
        if (d.lost) {
            return false;
        }
        if (present && !pid.empty()) {
            return pid[0] == static_cast<unsigned long>(getpid()) && d.sameMachine(c);
        }
    }
    return false;
}

int X11Keyboard::changeNotifier() {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || !d.watch || !d.wmAnnouncesActive()) {
        return -1;
    }
    return ConnectionNumber(d.watch);
}

void X11Keyboard::drainChanges() {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || !d.watch) {
        return;
    }
    while (!d.lost && XPending(d.watch) > 0) {
        XEvent event;
        XNextEvent(d.watch, &event);
    }
    if (d.lost) {
        d.abandon();
    }
}

bool X11Keyboard::typeText(WindowId target, const std::string& text, bool addComma, bool addEnter,
                           const ClipboardSetter& setClipboard) {
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || target == 0 || target > std::numeric_limits<Window>::max()) {
        return false;
    }
    d.discardEvents();
    const Window t = static_cast<Window>(target);
    XWindowAttributes attrs;
    {
        ErrorTrap trap(d);
        if (!XGetWindowAttributes(d.dpy, t, &attrs) || trap.failed()) {
            return false;
        }
    }
    const Window top = d.topLevelOf(t);
    if (!top || t == attrs.root) {
        return false;  // gone meanwhile, or the root itself
    }
    const bool wm = d.wmAnnouncesActive();
    const Window client = d.findClient(t, top);
    if (d.lost) {
        return false;
    }

    d.show(t, top, client, attrs, wm);
    if (setClipboard) {
        setClipboard(text);
    }
    if (!d.enter()) {
        return false;
    }
    // Raise: a client's restacking request goes to the manager; without one
    // the top-level window is what has to move.
    XRaiseWindow(d.dpy, wm ? client : top);
    d.requestFocus(t, client, wm);
    if (!d.waitForFocus(t, client, wm)) {
        return false;
    }
    return d.sendKeys(text, addComma, addEnter);
}
