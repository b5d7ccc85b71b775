#pragma once

#include "output/KeyboardOutput.h"

#include <QString>

#include <memory>

struct PlatformKeyboard {
    std::unique_ptr<KeyboardOutput> output;
    QString name;  // for the info log; empty when nothing can be typed
};

// The keystroke output of this desktop session: SendInput on Windows; on
// Wayland the virtual keyboard where the compositor offers it, else the
// desktop portal; XTest on X11; none without a display. `forced` (x11,
// wayland, portal, none) picks one instead; one that cannot start leaves
// none. On Windows only "none" changes anything.
PlatformKeyboard makePlatformKeyboard(const QString& forced = {});
