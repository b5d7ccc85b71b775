#include "support/RecordingKeyboard.h"

void RecordingKeyboard::addOwnWindow(WindowId window)
{
    live_.insert(window);
    own_.insert(window);
}

void RecordingKeyboard::closeWindow(WindowId window)
{
    live_.erase(window);
    own_.erase(window);
    if (foreground_ == window) {
        foreground_ = 0;
    }
}

bool RecordingKeyboard::isOwnWindow(WindowId window)
{
    return available_ && own_.count(window) > 0;
}

bool RecordingKeyboard::bringForward(WindowId target)
{
    if (!focusObtainable_ || !showWindow(target)) {
        return false;
    }
    // Activating the target makes it the foreground window, as on a desktop.
    foreground_ = target;
    return true;
}

KeySender::Sent RecordingKeyboard::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    if (!available_) {
        return Sent::NoDesktop;
    }
    records_.push_back({foreground_, text, addComma, addEnter});
    return Sent::All;
}
