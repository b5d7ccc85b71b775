// The keystroke output of an X11 or Wayland desktop session.
#include "app/PlatformKeyboard.h"

#include "output/NoKeyboard.h"
#include "output/inputmethod/SessionInputMethods.h"
#include "output/portal/PortalKeyboard.h"
#include "output/wayland/WaylandKeyboard.h"
#include "output/x11/X11Keyboard.h"

namespace {

constexpr const char* kWaylandName = "Wayland virtual keyboard";

template <typename Output> PlatformKeyboard ifAvailable(std::unique_ptr<Output> output, const char* name)
{
    if (!output->available())
        return {std::make_unique<NoKeyboard>(), {}};
    return {std::move(output), QString::fromLatin1(name)};
}

PlatformKeyboard outputFor(const QString& forced)
{
    KeyboardChoice choice = keyboardChoice(forced).value_or(KeyboardChoice::None);
    if (forced.isEmpty()) {
        if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
            PlatformKeyboard wayland = ifAvailable(std::make_unique<WaylandKeyboard>(), kWaylandName);
            if (!wayland.name.isEmpty())
                return wayland;
            // Without the protocol (GNOME, KDE Plasma) the portal asks the
            // user; a missing portal is told in the info log once started.
            choice = KeyboardChoice::Portal;
        } else if (qEnvironmentVariableIsSet("DISPLAY")) {
            choice = KeyboardChoice::X11;
        } else {
            choice = KeyboardChoice::None;
        }
    }
    switch (choice) {
    case KeyboardChoice::X11: return ifAvailable(std::make_unique<X11Keyboard>(), "X11 (XTest)");
    case KeyboardChoice::Wayland: return ifAvailable(std::make_unique<WaylandKeyboard>(), kWaylandName);
    // Even without a session bus: its start tells the info log that there
    // is no portal.
    case KeyboardChoice::Portal:
        return {std::make_unique<PortalKeyboard>(), QStringLiteral("desktop portal (RemoteDesktop)")};
    case KeyboardChoice::None: break;
    }
    return {std::make_unique<NoKeyboard>(), {}};
}

}  // namespace

PlatformKeyboard makePlatformKeyboard(const QString& forced)
{
    PlatformKeyboard keyboard = outputFor(forced);
    if (!keyboard.name.isEmpty()) {
        SessionInputMethods session = findInputMethods();
        keyboard.inputMethods = std::move(session.found);
        keyboard.unknownInputMethods = session.unknown;
    }
    return keyboard;
}
