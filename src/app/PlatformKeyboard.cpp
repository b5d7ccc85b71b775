#include "app/PlatformKeyboard.h"

#include "output/NoKeyboard.h"
#include "output/x11/X11Keyboard.h"

std::unique_ptr<KeyboardOutput> makePlatformKeyboard()
{
    auto x11 = std::make_unique<X11Keyboard>();
    if (x11->available())
        return x11;
    return std::make_unique<NoKeyboard>();
}
