// Keystrokes for Windows through SendInput. Compiled only for Windows.
#pragma once

#include "output/KeyboardOutput.h"
#include "output/windows/IntegrityLevel.h"

#include <functional>
#include <string>

class WinKeyboard final : public KeyboardOutput {
public:
    // The window that answers the input method questions for the window
    // with the focus (WinImeSwitch); by default its thread's IME window.
    // Tests under Wine, which has none for another process, name a
    // stand-in.
    using ImeWindowFinder = std::function<WindowId(WindowId focus)>;
    explicit WinKeyboard(ImeWindowFinder imeWindowOf = {});

    bool available() const override { return true; }
    WindowId foregroundWindow() override;
    bool isOwnWindow(WindowId window) override;
    bool showWindow(WindowId target) override;
    bool bringForward(WindowId target) override;
    bool refusesOurKeys(WindowId target) override;
    // Types with the input method of the focus window switched off, and
    // puts it back once the target has taken the keys.
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;

private:
    ImeWindowFinder imeWindowOf_;
    ProcessIntegrity ours_;
};
