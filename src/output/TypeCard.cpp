#include "output/TypeCard.h"

TypeResult typeCard(KeyboardOutput& keyboard, DesktopWindows::WindowId target, const std::string& text, bool addComma,
                    bool addEnter, const ClipboardSetter& setClipboard, const KeysGate& gate)
{
    if (!keyboard.available())
        return TypeResult::NoDesktop;
    if (!keyboard.showWindow(target))
        return target == 0 ? TypeResult::NoTarget : TypeResult::TargetGone;
    if (setClipboard)
        setClipboard(text);
    if (keyboard.refusesOurKeys(target))
        return TypeResult::TargetElevated;
    if (!keyboard.bringForward(target))
        return keyboard.available() ? TypeResult::NoFocus : TypeResult::NoDesktop;
    if (gate) {
        const TypeResult opened = gate();
        if (opened != TypeResult::Typed)
            return opened;
    }
    switch (keyboard.sendKeys(text, addComma, addEnter)) {
    case KeySender::Sent::All: return TypeResult::Typed;
    case KeySender::Sent::NoDesktop: return TypeResult::NoDesktop;
    case KeySender::Sent::Incomplete: return TypeResult::Incomplete;
    case KeySender::Sent::Reported: return TypeResult::Reported;
    }
    return TypeResult::Incomplete;
}
