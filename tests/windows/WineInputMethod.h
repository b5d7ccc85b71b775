// An input method for the Wine keyboard tests, in the target's process.
//
// Wine has no Chinese input method, and gives no IME window for a window of
// another process (ImmGetDefaultIMEWnd returns none), so this stands in for
// both: while the EDIT control's input context is open, the control takes
// every character into a composition instead of its text, as a Chinese
// input method in Chinese mode takes letters, digits, the comma and Enter;
// switched off, it commits the composition. A hidden window answers
// WM_IME_CONTROL as the IME window of the target's thread does on Windows,
// with Wine's real open status and conversion mode of that input context;
// its title is the composition.
#pragma once

#include "output/windows/WinImeSwitch.h"

#include <imm.h>

#include <string>

inline const wchar_t* const InputMethodClass = L"TallyportWineInputMethod";

namespace wineInputMethod {

inline HWND edit = nullptr;
inline HWND imeWindow = nullptr;
inline WNDPROC editProc = nullptr;
inline std::wstring composition;

inline void setComposition(const std::wstring& text)
{
    composition = text;
    SetWindowTextW(imeWindow, composition.c_str());
}

inline LRESULT CALLBACK composingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR) {
        const HIMC context = ImmGetContext(edit);
        const bool open = ImmGetOpenStatus(context);
        ImmReleaseContext(edit, context);
        if (open) {
            setComposition(composition + static_cast<wchar_t>(wParam));
            return 0;
        }
    }
    return CallWindowProcW(editProc, window, message, wParam, lParam);
}

inline LRESULT CALLBACK imeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_IME_CONTROL)
        return DefWindowProcW(window, message, wParam, lParam);
    const HIMC context = ImmGetContext(edit);
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(context, &conversion, &sentence);
    LRESULT answer = 0;
    if (wParam == kImcGetOpenStatus)
        answer = ImmGetOpenStatus(context);
    else if (wParam == kImcGetConversionMode)
        answer = conversion;
    else if (wParam == kImcSetConversionMode)
        ImmSetConversionStatus(context, static_cast<DWORD>(lParam), sentence);
    else if (wParam == kImcSetOpenStatus) {
        if (!lParam && !composition.empty()) {
            CallWindowProcW(editProc, edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(composition.c_str()));
            setComposition(L"");
        }
        ImmSetOpenStatus(context, lParam != 0);
    }
    ImmReleaseContext(edit, context);
    return answer;
}

// Called in the target's thread once its EDIT control exists.
inline void install(HWND editControl)
{
    edit = editControl;
    editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(editControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(composingEdit)));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = imeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = InputMethodClass;
    RegisterClassW(&wc);
    imeWindow = CreateWindowExW(0, InputMethodClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

}  // namespace wineInputMethod
