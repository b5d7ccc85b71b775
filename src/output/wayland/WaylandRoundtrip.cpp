#include "output/wayland/WaylandRoundtrip.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>

#include <wayland-client.h>

namespace {

void answered(void* data, wl_callback* callback, std::uint32_t)
{
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener kListener = {&answered};

}  // namespace

bool roundtripWithin(wl_display* display, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto msLeft
        = [&] { return int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()); };
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &kListener, &done);
    const int fd = wl_display_get_fd(display);
    while (!done) {
        // Events already read are handled first; then the socket is read
        // only while there is time left.
        if (wl_display_dispatch_pending(display) < 0)
            break;
        if (done)
            break;
        if (wl_display_prepare_read(display) != 0)
            continue;
        bool failed = false;
        while (wl_display_flush(display) < 0) {
            pollfd out{fd, POLLOUT, 0};
            if (errno != EAGAIN || msLeft() <= 0 || ::poll(&out, 1, msLeft()) <= 0) {
                failed = errno != EINTR;
                break;
            }
        }
        pollfd in{fd, POLLIN, 0};
        const int ready = failed || msLeft() <= 0 ? 0 : ::poll(&in, 1, msLeft());
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready < 0 && errno == EINTR)
                continue;
            break;
        }
        if (wl_display_read_events(display) < 0)
            break;
    }
    if (!done)
        wl_callback_destroy(callback);  // its answer, should it come, finds no listener
    return done;
}
