#include "support/RecordingKeyboard.h"

void RecordingKeyboard::addOwnWindow(WindowId window) {
    live_.insert(window);
    own_.insert(window);
}

void RecordingKeyboard::closeWindow(WindowId window) {
    live_.erase(window);
    own_.erase(window);
    if (foreground_ == window) {
        foreground_ = 0;
    }
}

bool RecordingKeyboard::isOwnWindow(WindowId window) {
    return available_ && own_.count(window) > 0;
}

bool RecordingKeyboard::typeText(WindowId target, const std::string& text, bool addComma,
                                 bool addEnter, const ClipboardSetter& setClipboard) {
    if (!available_ || target == 0 || !live_.count(target)) {
        return false;
    }
    if (setClipboard) {
        setClipboard(text);
    }
    if (!focusObtainable_) {
        return false;
    }
    // Activating the target makes it the foreground window, as on a desktop.
    foreground_ = target;
    records_.push_back({target, text, addComma, addEnter});
    return true;
}
