// The keyboard output where there is no desktop to type into: cards still
// reach the info log and the card log.
#pragma once

#include "output/KeyboardOutput.h"

class NoKeyboard : public KeyboardOutput {
public:
    bool available() const override { return false; }
    WindowId foregroundWindow() override { return 0; }
    bool isOwnWindow(WindowId) override { return false; }
    bool showWindow(WindowId) override { return false; }
    bool bringForward(WindowId) override { return false; }
    Sent sendKeys(const std::string&, bool, bool) override { return Sent::NoDesktop; }
};
