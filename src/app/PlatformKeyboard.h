// The keystroke output of this desktop session, chosen when the window is
// made. Each platform's choice is a file of its own: PlatformKeyboard.cpp
// (X11, Wayland, the desktop portal) and windows/WinPlatformKeyboard.cpp
// (SendInput).
#pragma once

#include "output/KeyboardOutput.h"
#include "output/inputmethod/InputMethod.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

// The outputs the command line can force (--keyboard).
enum class KeyboardChoice { X11, Wayland, Portal, None };

// Their names as the command line takes them, in the order of KeyboardChoice.
inline constexpr std::array<const char*, 4> kKeyboardChoiceNames = {"x11", "wayland", "portal", "none"};

// The output `name` forces; nothing for any other name (the empty one:
// follow the session).
inline std::optional<KeyboardChoice> keyboardChoice(const QString& name)
{
    for (std::size_t i = 0; i < kKeyboardChoiceNames.size(); ++i) {
        if (name == QLatin1String(kKeyboardChoiceNames[i]))
            return static_cast<KeyboardChoice>(i);
    }
    return std::nullopt;
}

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
// desktop portal; XTest on X11; none without a display. `forced` (a name of
// kKeyboardChoiceNames) picks one instead; one that cannot start leaves
// none. On Windows only "none" changes anything.
PlatformKeyboard makePlatformKeyboard(const QString& forced = {});
