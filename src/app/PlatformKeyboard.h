#pragma once

#include "output/KeyboardOutput.h"
#include "output/inputmethod/InputMethod.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct PlatformKeyboard {
    PlatformKeyboard(std::unique_ptr<KeyboardOutput> keys = {}, const QString& keysName = {})
        : output(std::move(keys)), name(keysName)
    {
    }
    std::unique_ptr<KeyboardOutput> output;
    QString name;  // for the info log; empty when nothing can be typed
    // The session's input methods that cards get past, and those in use
    // that cards cannot get past (on Windows the keyboard itself sees to
    // the target's input method).
    std::vector<std::unique_ptr<InputMethod>> inputMethods;
    QStringList unknownInputMethods;
};

// The keystroke output of this desktop session: SendInput on Windows; on
// Wayland the virtual keyboard where the compositor offers it, else the
// desktop portal; XTest on X11; none without a display. `forced` (x11,
// wayland, portal, none) picks one instead; one that cannot start leaves
// none. On Windows only "none" changes anything.
PlatformKeyboard makePlatformKeyboard(const QString& forced = {});
