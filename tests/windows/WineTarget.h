// The other program of the Wine keyboard tests: a window "Target" with an
// EDIT control that takes the focus, as a dialog hands its focus on.
#pragma once

#include <windows.h>

inline const wchar_t* const TargetClass = L"TallyportWineTarget";

inline LRESULT CALLBACK targetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        // Scrolling, so that it takes more lines than it shows.
        CreateWindowExW(0, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0, 0,
                        300, 200, window, nullptr, GetModuleHandleW(nullptr), nullptr);
        return 0;
    case WM_SETFOCUS: SetFocus(GetWindow(window, GW_CHILD)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Shows the window at (x, y), puts it in front and runs until it is closed;
// `prepare`, when given, sees the window first.
inline int runTarget(int x, int y, void (*prepare)(HWND window) = nullptr)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = targetProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = TargetClass;
    RegisterClassW(&wc);
    const HWND window = CreateWindowExW(0, TargetClass, L"Target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, 320, 240,
                                        nullptr, nullptr, wc.hInstance, nullptr);
    if (prepare)
        prepare(window);
    SetForegroundWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
