// Keeps the input method of the window a card is typed into out of the
// card's keys, and puts it back as it was. Compiled only for Windows.
//
// A Chinese input method turns letters into Chinese and takes Enter for its
// own, also for keys that arrive as characters (KEYEVENTF_UNICODE): the
// system hands these to text services as VK_PACKET, and Microsoft's sample
// text service composes them, as it composes what the touch keyboard types.
// So for a card the target's input method is switched off (closed, and to
// plain alphanumeric input: Chinese input methods since Windows 7 take a
// close for their English mode) and switched back once the target has taken
// the keys.
//
// Another program's input context cannot be reached directly (ImmGetContext
// gives none for a window of another process); its thread's default IME
// window can be asked through WM_IME_CONTROL, and it answers in that thread,
// for the input context of the window with the focus there.
//
// A word half-way through its composition is ended by the switch-off the
// way that input method ends it when the user switches it off (Microsoft's
// sample input method cancels it, others commit it); the card's keys come
// after it, never into it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The WM_IME_CONTROL commands used, which mingw-w64's imm.h does not name.
constexpr WPARAM kImcGetConversionMode = 0x0001;
constexpr WPARAM kImcSetConversionMode = 0x0002;
constexpr WPARAM kImcGetOpenStatus = 0x0005;
constexpr WPARAM kImcSetOpenStatus = 0x0006;

class WinImeSwitch {
public:
    // The window that answers WM_IME_CONTROL for the input context of
    // `focus`: the default IME window of its thread.
    static HWND defaultImeWindow(HWND focus);

    // Reads the input method state of `focus` (a window of another thread)
    // and switches it to direct input where it is open or in any mode but
    // plain alphanumeric. Nothing is touched where no input method answers.
    WinImeSwitch(HWND focus, HWND imeWindow);
    // Puts the state back, at once if restoreWhenTaken() was not called.
    ~WinImeSwitch();
    WinImeSwitch(const WinImeSwitch&) = delete;
    WinImeSwitch& operator=(const WinImeSwitch&) = delete;

    bool switched() const { return switched_; }

    // Puts the state back once the focus window's thread has taken every key
    // sent to it so far; false when that could not be seen within the time
    // allowed (the state is put back all the same).
    bool restoreWhenTaken();
    // Puts the state back now.
    void restore();

private:
    HWND focus_;
    HWND imeWindow_;
    bool switched_ = false;
    LRESULT open_ = 0;
    LRESULT conversion_ = 0;
};

// Waits until the thread of `window` has taken from its queue every input
// message that was in it: a window that is painted after we invalidated it
// shows that, as GetMessage hands out WM_PAINT only while no input waits.
// False after `timeoutMs` or when the window has nothing to paint.
bool waitUntilInputTaken(HWND window, int timeoutMs);
