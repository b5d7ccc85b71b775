// The keystroke output on Windows: SendInput, which sees to the target's
// input method itself.
#include "app/PlatformKeyboard.h"

#include "output/NoKeyboard.h"
#include "output/windows/WinKeyboard.h"

PlatformKeyboard makePlatformKeyboard(const QString& forced)
{
    if (keyboardChoice(forced) == KeyboardChoice::None)
        return {std::make_unique<NoKeyboard>(), {}};
    return {std::make_unique<WinKeyboard>(), QStringLiteral("SendInput")};
}
