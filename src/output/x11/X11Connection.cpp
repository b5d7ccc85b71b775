#include "output/x11/X11Private.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

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

X11Keyboard::Impl* ownerOf(Display* dpy)
{
    for (auto* impl : registry) {
        if (impl->dpy == dpy || impl->watch == dpy) {
            return impl;
        }
    }
    return nullptr;
}

int onXError(Display* dpy, XErrorEvent* event)
{
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

int onXIOError(Display* dpy)
{
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
void onXIOErrorExit(Display* dpy, void*)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    if (auto* impl = ownerOf(dpy)) {
        impl->lost = true;
    }
}

void assertHandlers()
{
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

}  // namespace

SigpipeBlock::SigpipeBlock()
{
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
}

SigpipeBlock::~SigpipeBlock()
{
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

// Called at the start of every public call: false when there is nothing to
// talk to.
bool X11Keyboard::Impl::enter()
{
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
void X11Keyboard::Impl::abandon()
{
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
        ::close(fds[1]);
    }
    ::close(fds[0]);
}

// Nothing on the main connection is selected except what the server sends
// everyone (keymap changes); keep its queue empty.
void X11Keyboard::Impl::discardEvents()
{
    while (!lost && XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
    }
}

// Connects, with our error handlers in place before the first request.
void X11Keyboard::Impl::open(const std::string& displayName)
{
    assertHandlers();
    Display* connection = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!connection) {
        return;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection, &event, &error, &major, &minor)) {
        XCloseDisplay(connection);
        return;  // nothing to type with
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        dpy = connection;
        registry.push_back(this);
    }
    XSetIOErrorExitHandler(dpy, onXIOErrorExit, nullptr);

    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    xkb = XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor);
    // Let our keystrokes through even while another client grabs the server.
    XTestGrabControl(dpy, True);
    root = DefaultRootWindow(dpy);

    const char* names[] = {"_NET_ACTIVE_WINDOW", "_NET_SUPPORTED", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_PID",
                           "WM_STATE",           "_NET_WM_STATE",  "_NET_WM_STATE_HIDDEN"};
    Atom atoms[7] = {};
    XInternAtoms(dpy, const_cast<char**>(names), 7, False, atoms);
    atom = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]};

    // The watch connection: the same server, root property changes only.
    if (Display* w = XOpenDisplay(DisplayString(dpy))) {
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            watch = w;
        }
        XSetIOErrorExitHandler(watch, onXIOErrorExit, nullptr);
        XSelectInput(watch, DefaultRootWindow(watch), PropertyChangeMask);
        // And keymap changes, which make it readable too: bindAhead() then
        // binds what the new layout lacks before a card needs it.
        int watchOpcode = 0;
        int watchError = 0;
        major = XkbMajorVersion;
        minor = XkbMinorVersion;
        if (xkb && XkbQueryExtension(watch, &watchOpcode, &watchXkbEvent, &watchError, &major, &minor)) {
            const unsigned which = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
            XkbSelectEvents(watch, XkbUseCoreKbd, which, which);
        } else {
            watchXkbEvent = -1;
        }
        XFlush(watch);
    }
    if (!lost) {
        bindAhead();
        XSync(dpy, False);
    }
}

void X11Keyboard::Impl::close()
{
    if (enter()) {
        releaseBindings();
    }
    if (lost) {
        abandon();
    }
    // Our handlers stay registered for these until both are closed: closing a
    // connection whose server has just gone reports an I/O error.
    if (watch) {
        XCloseDisplay(watch);
    }
    if (dpy) {
        XCloseDisplay(dpy);
    }
    if (silencer >= 0) {
        ::close(silencer);
    }
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
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
