#include "app/PlatformKeyboard.h"

#include "output/x11/X11Keyboard.h"

namespace {

// Without a display there is nothing to type into; cards still reach the
// info log and the card log.
class NoKeyboard : public KeyboardOutput {
public:
    bool available() const override { return false; }
    WindowId foregroundWindow() override { return 0; }
    bool isOwnWindow(WindowId) override { return false; }
    bool typeText(WindowId, const std::string&, bool, bool, const ClipboardSetter&) override { return false; }
};

}  // namespace

std::unique_ptr<KeyboardOutput> makePlatformKeyboard()
{
    auto x11 = std::make_unique<X11Keyboard>();
    if (x11->available())
        return x11;
    return std::make_unique<NoKeyboard>();
}
