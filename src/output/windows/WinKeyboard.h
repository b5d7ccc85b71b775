// Keystrokes for Windows through SendInput. Compiled only for Windows.
#pragma once

#include "output/KeyboardOutput.h"

#include <string>

class WinKeyboard final : public KeyboardOutput {
public:
    bool available() const override { return true; }
    WindowId foregroundWindow() override;
    bool isOwnWindow(WindowId window) override;
    bool showWindow(WindowId target) override;
    bool bringForward(WindowId target) override;
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;

    // Puts `utf8` on the Windows clipboard as Unicode text; false when the
    // clipboard could not be opened. A Windows build can pass this to
    // typeCard() as the clipboard setter.
    static bool setClipboardText(const std::string& utf8);
};
