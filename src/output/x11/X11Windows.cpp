#include "output/x11/X11Private.h"

#include "output/x11/WindowTree.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long the target may take to receive the keyboard focus after it was
// activated, and how often the request is repeated meanwhile.
constexpr auto kFocusTimeout = std::chrono::milliseconds(500);
constexpr auto kFocusCheckInterval = std::chrono::milliseconds(5);
constexpr auto kFocusRetryInterval = std::chrono::milliseconds(100);

// _NET_ACTIVE_WINDOW source indication: a pager or taskbar, i.e. on behalf of
// the user, which window managers honour without focus-stealing checks.
constexpr long kSourceUser = 2;

}  // namespace

// ---------------------------------------------------------------------------
// Window queries

std::vector<unsigned long> X11Keyboard::Impl::property32(Window w, Atom prop, Atom type, bool* present)
{
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
    const int rc = XGetWindowProperty(dpy, w, prop, 0, 1024, False, type, &actualType, &format, &count, &after, &data);
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

// True when a running EWMH window manager maintains _NET_ACTIVE_WINDOW. The
// supporting-check window tells a live manager from properties left behind
// by one that has exited.
bool X11Keyboard::Impl::wmAnnouncesActive()
{
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
Window X11Keyboard::Impl::parentOf(Window w, Window* rootOut)
{
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
Window X11Keyboard::Impl::topLevelOf(Window w)
{
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

bool X11Keyboard::Impl::isWithin(Window w, Window ancestor)
{
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
Window X11Keyboard::Impl::findClient(Window target, Window top)
{
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
    // Below the frame, a few levels deep.
    const Window below = x11tree::findBelow(
        dpy, top, 3,
        [&](Window w) {
            property32(w, atom.wmState, atom.wmState, &present);
            return present;
        },
        [&] { return lost; });
    if (below)
        return below;
    return target;
}

bool X11Keyboard::Impl::sameMachine(Window w)
{
    XTextProperty prop{};
    if (lost || !w || !XGetWMClientMachine(dpy, w, &prop)) {
        return true;
    }
    std::string machine;
    if (prop.value && prop.format == 8) {
        machine.assign(reinterpret_cast<const char*>(prop.value), prop.nitems);
    }
    if (prop.value) {
        XFree(prop.value);
    }
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

void X11Keyboard::Impl::show(Window target, Window top, Window client, const XWindowAttributes& attrs, bool wm)
{
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
            if (XGetWindowAttributes(dpy, top, &topAttrs) && !trap.failed() && topAttrs.map_state == IsUnmapped) {
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

void X11Keyboard::Impl::sendActivate(Window w)
{
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

void X11Keyboard::Impl::requestFocus(Window target, Window client, bool wm)
{
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
bool X11Keyboard::Impl::waitForFocus(Window target, Window client, bool wm)
{
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
        if (focus != None && focus != PointerRoot
            && (isWithin(focus, target) || (insideClient && isWithin(focus, client)))) {
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
// The window calls of the keyboard output

KeyboardOutput::WindowId X11Keyboard::foregroundWindow()
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter()) {
        return 0;
    }
    d.discardEvents();
    d.drainWatch();
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

bool X11Keyboard::isOwnWindow(WindowId window)
{
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

bool X11Keyboard::showWindow(WindowId target)
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    shown_.reset();
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
    shown_ = std::make_unique<Shown>(Shown{t, top, client, wm});
    return true;
}

bool X11Keyboard::bringForward(WindowId target)
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!shown_ || shown_->target != target || !d.enter()) {
        return false;
    }
    const Shown w = *shown_;
    // Raise: a client's restacking request goes to the manager; without one
    // the top-level window is what has to move.
    XRaiseWindow(d.dpy, w.wm ? w.client : w.top);
    d.requestFocus(w.target, w.client, w.wm);
    return d.waitForFocus(w.target, w.client, w.wm);
}
