// An input method for the Wine keyboard tests, in the target's process.
//
// Wine has no Chinese input method, and gives no IME window for a window of
// another process (ImmGetDefaultIMEWnd returns none), so this stands in for
// both where real Windows has them:
//  - the EDIT control, while the input context's open status is set, takes
//    every character into a composition instead of its text, as a Chinese
//    input method in Chinese mode takes letters, digits, the comma and
//    Enter; switched off, it commits the composition into the text;
//  - a hidden window answers WM_IME_CONTROL as the IME window of the
//    target's thread does on Windows: open status and conversion mode of the
//    focus window's input context, which are Wine's real IMM32 state; its
//    WM_GETTEXT gives the composition.
#pragma once

#include <windows.h>

#include <imm.h>

#include <string>

inline const wchar_t* const InputMethodClass = L"TallyportWineInputMethod";

// WM_IME_CONTROL commands, as WinImeSwitch sends them.
constexpr WPARAM kImcGetConversionMode = 0x0001;
constexpr WPARAM kImcSetConversionMode = 0x0002;
constexpr WPARAM kImcGetOpenStatus = 0x0005;
constexpr WPARAM kImcSetOpenStatus = 0x0006;

namespace wineInputMethod {

inline HWND& edit()
{
    static HWND window = nullptr;
    return window;
}

inline std::wstring& composition()
{
    static std::wstring text;
    return text;
}

inline WNDPROC& editProc()
{
    static WNDPROC proc = nullptr;
    return proc;
}

// The input context of the EDIT control, for the length of one call.
template <typename Use> LRESULT withContext(Use use)
{
    const HIMC context = ImmGetContext(edit());
    const LRESULT result = use(context);
    ImmReleaseContext(edit(), context);
    return result;
}

inline LRESULT CALLBACK composingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR && withContext([](HIMC context) { return LRESULT(ImmGetOpenStatus(context)); })) {
        composition() += static_cast<wchar_t>(wParam);
        return 0;
    }
    return CallWindowProcW(editProc(), window, message, wParam, lParam);
}

inline LRESULT CALLBACK imeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETTEXT) {
        const std::wstring& text = composition();
        const std::size_t length = text.size() < wParam ? text.size() : (wParam ? wParam - 1 : 0);
        if (wParam) {
            text.copy(reinterpret_cast<wchar_t*>(lParam), length);
            reinterpret_cast<wchar_t*>(lParam)[length] = L'\0';
        }
        return static_cast<LRESULT>(length);
    }
    if (message != WM_IME_CONTROL)
        return DefWindowProcW(window, message, wParam, lParam);
    return withContext([&](HIMC context) -> LRESULT {
        DWORD conversion = 0, sentence = 0;
        ImmGetConversionStatus(context, &conversion, &sentence);
        switch (wParam) {
        case kImcGetOpenStatus: return ImmGetOpenStatus(context);
        case kImcGetConversionMode: return conversion;
        case kImcSetConversionMode: return !ImmSetConversionStatus(context, static_cast<DWORD>(lParam), sentence);
        case kImcSetOpenStatus:
            if (!lParam && !composition().empty()) {
                CallWindowProcW(editProc(), edit(), EM_REPLACESEL, FALSE,
                                reinterpret_cast<LPARAM>(composition().c_str()));
                composition().clear();
            }
            return !ImmSetOpenStatus(context, lParam != 0);
        default: return 0;
        }
    });
}

// Called in the target's thread once its EDIT control exists.
inline void install(HWND editControl)
{
    edit() = editControl;
    editProc() = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(editControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(composingEdit)));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = imeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = InputMethodClass;
    RegisterClassW(&wc);
    CreateWindowExW(0, InputMethodClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

}  // namespace wineInputMethod
