#include "app/PlatformKeyboard.h"

#include "output/NoKeyboard.h"

#ifdef _WIN32
#include "output/windows/WinKeyboard.h"
#else
#include "output/inputmethod/SessionInputMethods.h"
#include "output/portal/PortalKeyboard.h"
#include "output/wayland/WaylandKeyboard.h"
#include "output/x11/X11Keyboard.h"
#endif

#ifdef _WIN32

PlatformKeyboard makePlatformKeyboard(const QString& forced)
{
    if (forced == QLatin1String("none"))
        return {std::make_unique<NoKeyboard>(), {}};
    return {std::make_unique<WinKeyboard>(), QStringLiteral("SendInput")};
}

#else

namespace {

constexpr const char* kWaylandName = "Wayland virtual keyboard";

template <typename Output>
PlatformKeyboard ifAvailable(std::unique_ptr<Output> output, const char* name)
{
    if (!output->available())
        return {std::make_unique<NoKeyboard>(), {}};
    return {std::move(output), QString::fromLatin1(name)};
}

PlatformKeyboard outputFor(const QString& forced)
{
    QString kind = forced;
    if (kind.isEmpty()) {
        if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
            PlatformKeyboard wayland = ifAvailable(std::make_unique<WaylandKeyboard>(), kWaylandName);
            if (!wayland.name.isEmpty())
                return wayland;
            // Without the protocol (GNOME, KDE Plasma) the portal asks the
            // user; a missing portal is told in the info log once started.
            kind = QStringLiteral("portal");
        } else if (qEnvironmentVariableIsSet("DISPLAY")) {
            kind = QStringLiteral("x11");
        } else {
            kind = QStringLiteral("none");
        }
    }
    if (kind == QLatin1String("x11"))
        return ifAvailable(std::make_unique<X11Keyboard>(), "X11 (XTest)");
    if (kind == QLatin1String("wayland"))
        return ifAvailable(std::make_unique<WaylandKeyboard>(), kWaylandName);
    // Even without a session bus: its start tells the info log that there
    // is no portal.
    if (kind == QLatin1String("portal"))
        return {std::make_unique<PortalKeyboard>(), QStringLiteral("desktop portal (RemoteDesktop)")};
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

#endif
