#pragma once

#include "output/KeyboardOutput.h"

#include <memory>

// The keyboard output of this desktop: SendInput on Windows; X11 where a
// display is reachable, otherwise one that has no target and types nothing.
std::unique_ptr<KeyboardOutput> makePlatformKeyboard();
