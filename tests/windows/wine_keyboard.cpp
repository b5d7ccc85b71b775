// The Windows keyboard on Wine's windows: another process shows a window
// with an EDIT control; this one follows the foreground window, puts its own
// window in front, and types cards into the other one through SendInput.
// Started with "target", the program plays the other process.

#include "WineCheck.h"
#include "WineTarget.h"
#include "output/TypeCard.h"
#include "output/windows/WinKeyboard.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace {

const wchar_t* const OwnClass = L"TallyportWineOwn";

KeyboardOutput::WindowId idOf(HWND window)
{
    return static_cast<KeyboardOutput::WindowId>(reinterpret_cast<std::uintptr_t>(window));
}

void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps this thread's messages until `done` holds or `seconds` passed.
template <typename Condition>
bool waitFor(Condition done, int seconds = 5)
{
    for (int i = 0; i < seconds * 50; ++i) {
        pumpMessages();
        if (done())
            return true;
        Sleep(20);
    }
    return done();
}

std::wstring textOf(HWND edit)
{
    wchar_t text[256] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &length);
    return std::wstring(text, length);
}

std::wstring clipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"(clipboard not open)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

bool startTarget(PROCESS_INFORMATION& process)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" target";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

void typingIntoAnotherProcess()
{
    PROCESS_INFORMATION process = {};
    CHECK(startTarget(process));
    HWND target = nullptr;
    // A new Wine process takes a while on a busy machine.
    CHECK(waitFor([&] { return (target = FindWindowW(TargetClass, nullptr)) != nullptr; }, 30));
    if (!target)
        return;
    const HWND edit = GetWindow(target, GW_CHILD);

    WinKeyboard keyboard;
    // Following the foreground window: the other program's window is a
    // target, our own is not.
    CHECK(waitFor([&] { return keyboard.foregroundWindow() == idOf(target); }));
    CHECK(!keyboard.isOwnWindow(idOf(target)));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = OwnClass;
    RegisterClassW(&wc);
    const HWND own = CreateWindowExW(0, OwnClass, L"Own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 200, 150,
                                     nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(own);
    CHECK(waitFor([&] { return keyboard.foregroundWindow() == idOf(own); }));
    CHECK(keyboard.isOwnWindow(idOf(own)));

    // The remembered window is minimised and ours is in front: typing brings
    // it back and the card arrives in its control, comma and Enter after it.
    ShowWindow(target, SW_MINIMIZE);
    CHECK(waitFor([&] { return IsIconic(target) != 0; }));
    CHECK(typeCard(keyboard, idOf(target), "0439041101", true, true, WinKeyboard::setClipboardText)
          == TypeResult::Typed);
    CHECK(waitFor([&] { return textOf(edit) == L"0439041101,\r\n"; }));
    CHECK_TEXT(textOf(edit), L"0439041101,\r\n");
    CHECK(!IsIconic(target));
    CHECK(GetForegroundWindow() == target);
    CHECK_TEXT(clipboardText(), L"0439041101");

    // Letters arrive as themselves whatever the Shift state; nothing else
    // follows without comma and Enter.
    SetForegroundWindow(own);
    waitFor([&] { return GetForegroundWindow() == own; });
    CHECK(typeCard(keyboard, idOf(target), "1A2b3C4D", false, false, WinKeyboard::setClipboardText)
          == TypeResult::Typed);
    CHECK(waitFor([&] { return textOf(edit) == L"0439041101,\r\n1A2b3C4D"; }));
    CHECK_TEXT(textOf(edit), L"0439041101,\r\n1A2b3C4D");

    // A window that is gone gets nothing, and the clipboard stays as it was.
    PostMessageW(target, WM_CLOSE, 0, 0);
    CHECK(WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0);
    WinKeyboard::setClipboardText("untouched");
    CHECK(typeCard(keyboard, idOf(target), "0439041101", true, true, WinKeyboard::setClipboardText)
          == TypeResult::TargetGone);
    CHECK_TEXT(clipboardText(), L"untouched");

    DestroyWindow(own);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "target")
        return runTarget(50, 50);
    typingIntoAnotherProcess();
    return wineCheckResult("wine_keyboard");
}
