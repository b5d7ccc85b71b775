// wl_display_roundtrip with a limit: a compositor that accepts the
// connection and never answers would otherwise hold the caller for good.
#pragma once

struct wl_display;

// Sends what is queued and dispatches events until the compositor has
// answered everything sent before, or `timeoutMs` has passed. False on a
// time-out or a broken connection.
bool roundtripWithin(wl_display* display, int timeoutMs);
