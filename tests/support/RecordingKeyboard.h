// A keyboard that types nowhere: it remembers what would have been typed and
// into which window, for tests of the code that decides what to type. The
// windows it knows of are set up by the test.
#pragma once

#include "output/KeyboardOutput.h"

#include <set>
#include <string>
#include <vector>

class RecordingKeyboard final : public KeyboardOutput {
public:
    struct Record {
        WindowId target;
        std::string text;
        bool comma;
        bool enter;
        bool operator==(const Record& o) const
        {
            return target == o.target && text == o.text && comma == o.comma && enter == o.enter;
        }
    };

    // The desktop: which windows exist, which are ours, which has the
    // user's attention.
    void setAvailable(bool available) { available_ = available; }
    void addWindow(WindowId window) { live_.insert(window); }
    void addOwnWindow(WindowId window);
    void closeWindow(WindowId window);
    void setForegroundWindow(WindowId window) { foreground_ = window; }
    // When false, a target can be shown but never takes the focus.
    void setFocusObtainable(bool obtainable) { focusObtainable_ = obtainable; }
    // Keys for `window` would be dropped by the system (a program run as
    // administrator on Windows).
    void setRefusing(WindowId window) { refusing_.insert(window); }

    const std::vector<Record>& records() const { return records_; }
    void clearRecords() { records_.clear(); }

    bool available() const override { return available_; }
    WindowId foregroundWindow() override { return available_ ? foreground_ : 0; }
    bool isOwnWindow(WindowId window) override;
    bool showWindow(WindowId target) override { return available_ && live_.count(target) > 0; }
    bool bringForward(WindowId target) override;
    bool refusesOurKeys(WindowId target) override { return refusing_.count(target) > 0; }
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;

private:
    bool available_ = true;
    bool focusObtainable_ = true;
    WindowId foreground_ = 0;
    std::set<WindowId> live_;
    std::set<WindowId> own_;
    std::set<WindowId> refusing_;
    std::vector<Record> records_;
};
