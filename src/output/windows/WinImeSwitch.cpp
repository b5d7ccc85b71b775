#include "output/windows/WinImeSwitch.h"

#include <imm.h>

namespace {

// Plain half-width letters and digits (IME_CMODE_ALPHANUMERIC).
constexpr LRESULT kAlphanumeric = 0;
// Mode bits that change nothing while the native bit is off: Japanese
// romaji input, no conversion, a fixed mode.
constexpr LRESULT kHarmlessModes = IME_CMODE_ROMAN | IME_CMODE_NOCONVERSION | IME_CMODE_FIXED;

// A hung target must not hold up the card.
constexpr UINT kAnswerMs = 500;
// How long the target may take for the keys of a card before its input
// method is put back regardless.
constexpr int kTakenTimeoutMs = 1000;
// Where taking the keys cannot be seen (a focus window that paints
// nothing), the pause the keys get instead.
constexpr DWORD kUnseenTakePauseMs = 100;

// One question or order to the IME window, answered in its thread; false
// when no answer came.
bool ask(HWND imeWindow, WPARAM command, LPARAM value, LRESULT* answer = nullptr)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(imeWindow, WM_IME_CONTROL, command, value, SMTO_ABORTIFHUNG, kAnswerMs, &result))
        return false;
    if (answer)
        *answer = static_cast<LRESULT>(result);
    return true;
}

bool hasSomethingToPaint(HWND window)
{
    RECT client;
    return IsWindowVisible(window) && GetClientRect(window, &client) && !IsRectEmpty(&client);
}

}  // namespace

HWND WinImeSwitch::defaultImeWindow(HWND focus)
{
    return focus ? ImmGetDefaultIMEWnd(focus) : nullptr;
}

WinImeSwitch::WinImeSwitch(HWND focus, HWND imeWindow) : focus_(focus), imeWindow_(imeWindow)
{
    if (!imeWindow_ || !ask(imeWindow_, kImcGetOpenStatus, 0, &open_)
        || !ask(imeWindow_, kImcGetConversionMode, 0, &conversion_))
        return;
    if (!open_ && (conversion_ & ~kHarmlessModes) == 0)
        return;
    switched_ = true;
    // The mode first, while the input method is still open to take it.
    ask(imeWindow_, kImcSetConversionMode, kAlphanumeric);
    ask(imeWindow_, kImcSetOpenStatus, FALSE);
}

WinImeSwitch::~WinImeSwitch()
{
    restore();
}

void WinImeSwitch::restore()
{
    if (!switched_)
        return;
    switched_ = false;
    // In the reverse order: open again, then the exact mode, which an input
    // method that takes "closed" for its English mode needs.
    ask(imeWindow_, kImcSetOpenStatus, open_);
    ask(imeWindow_, kImcSetConversionMode, conversion_);
}

bool WinImeSwitch::restoreWhenTaken()
{
    if (!switched_)
        return true;
    // The top-level window rather than the control with the focus: a control
    // may repaint itself at once while it takes a key (UpdateWindow), which
    // would show a paint before the keys after that one were taken.
    const HWND root = GetAncestor(focus_, GA_ROOT);
    const HWND watched = hasSomethingToPaint(root) ? root : focus_;
    bool taken = false;
    if (hasSomethingToPaint(watched))
        taken = waitUntilInputTaken(watched, kTakenTimeoutMs);
    else
        Sleep(kUnseenTakePauseMs);
    restore();
    return taken;
}

bool waitUntilInputTaken(HWND window, int timeoutMs)
{
    if (!InvalidateRect(window, nullptr, FALSE) || !GetUpdateRect(window, nullptr, FALSE))
        return false;
    const DWORD start = GetTickCount();
    for (int round = 0; GetUpdateRect(window, nullptr, FALSE); ++round) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= static_cast<DWORD>(timeoutMs))
            return false;
        // Messages sent to our windows meanwhile are answered.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        // A target that is not busy paints within a few hundred rounds;
        // Sleep(1) alone would wait a whole timer tick (15.6 ms by default).
        if (round < 1000)
            SwitchToThread();
        else
            Sleep(1);
    }
    return true;
}
