#include "app/PlatformKeyboard.h"

#include "output/NoKeyboard.h"

#ifdef _WIN32
#include "output/windows/WinKeyboard.h"
#else
#include "output/x11/X11Keyboard.h"
#endif

std::unique_ptr<KeyboardOutput> makePlatformKeyboard()
{
#ifdef _WIN32
    return std::make_unique<WinKeyboard>();
#else
    auto x11 = std::make_unique<X11Keyboard>();
    if (x11->available())
        return x11;
    return std::make_unique<NoKeyboard>();
#endif
}
