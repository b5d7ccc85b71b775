#pragma once

#include "output/KeyboardOutput.h"

#include <QString>

#include <memory>

struct PlatformKeyboard {
    std::unique_ptr<KeyboardOutput> output;
    QString name;  // for the info log; empty when nothing can be typed
};

// The keystroke output of this desktop session: on Wayland the virtual
// keyboard where the compositor offers it, else the desktop portal; XTest on
// X11; none without a display. `forced` (x11, wayland, portal, none) picks
// one instead; one that cannot start leaves none.
PlatformKeyboard makePlatformKeyboard(const QString& forced = {});
