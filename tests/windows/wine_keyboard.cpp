// The Windows keyboard on Wine's windows: another process shows a window
// with an EDIT control; this one follows the foreground window, puts its own
// window in front, and types cards into the other one through SendInput,
// also past an input method in Chinese mode. Started with "target", the
// program plays the other process; with "target-ime", the same with an
// input method (WineInputMethod.h).

#include "WineCheck.h"
#include "WineInputMethod.h"
#include "WineTarget.h"
#include "output/TypeCard.h"
#include "output/windows/WinImeSwitch.h"
#include "output/windows/WinKeyboard.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
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
template <typename Condition> bool waitFor(Condition done, int seconds = 5)
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
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &length);
    return std::wstring(text, length);
}

// Puts `utf8` on the Windows clipboard as Unicode text, as the program's Qt
// clipboard does; false when the clipboard could not be opened.
bool setClipboardText(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             &wide[0], static_cast<int>(wide.size()))));
    // The clipboard wants an owner window; a message-only one will do.
    const HWND owner
        = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    // Another program may hold the clipboard for a moment.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !(opened = OpenClipboard(owner) != 0); ++attempt) {
        Sleep(10);
    }
    bool ok = false;
    if (opened) {
        EmptyClipboard();
        const SIZE_T bytes = (wide.size() + 1) * sizeof(wchar_t);
        if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
            if (void* data = GlobalLock(memory)) {
                std::memcpy(data, wide.c_str(), bytes);
                GlobalUnlock(memory);
                ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
            }
            if (!ok) {
                GlobalFree(memory);  // the clipboard owns it only on success
            }
        }
        CloseClipboard();
    }
    if (owner) {
        DestroyWindow(owner);
    }
    return ok;
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

bool startTarget(PROCESS_INFORMATION& process, const wchar_t* role = L"target")
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + role;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

void typingIntoAnotherProcess()
{
    PROCESS_INFORMATION process = {};
    CHECK(startTarget(process));
    HWND target = nullptr;
    // A new Wine process takes a while on a busy machine; its window is
    // found while it is still being created, before its EDIT control is.
    CHECK(waitFor([&] { return (target = FindWindowW(TargetClass, nullptr)) && GetWindow(target, GW_CHILD); }, 30));
    if (!target)
        return;
    const HWND edit = GetWindow(target, GW_CHILD);

    WinKeyboard keyboard;
    // Wine runs every program at one integrity level: read from both
    // tokens, it holds no keys back.
    CHECK(!keyboard.refusesOurKeys(idOf(target)));
    // Following the foreground window: the other program's window is a
    // target, our own is not.
    CHECK(waitFor([&] { return keyboard.foregroundWindow() == idOf(target); }));
    CHECK(!keyboard.isOwnWindow(idOf(target)));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = OwnClass;
    RegisterClassW(&wc);
    const HWND own = CreateWindowExW(0, OwnClass, L"Own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 200, 150, nullptr,
                                     nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(own);
    CHECK(waitFor([&] { return keyboard.foregroundWindow() == idOf(own); }));
    CHECK(keyboard.isOwnWindow(idOf(own)));

    // The remembered window is minimised and ours is in front: typing brings
    // it back and the card arrives in its control, comma and Enter after it.
    ShowWindow(target, SW_MINIMIZE);
    CHECK(waitFor([&] { return IsIconic(target) != 0; }));
    CHECK(typeCard(keyboard, idOf(target), "0439041101", true, true, setClipboardText) == TypeResult::Typed);
    CHECK(waitFor([&] { return textOf(edit) == L"0439041101,\r\n"; }));
    CHECK_TEXT(textOf(edit), L"0439041101,\r\n");
    CHECK(!IsIconic(target));
    CHECK(GetForegroundWindow() == target);
    CHECK_TEXT(clipboardText(), L"0439041101");

    // Letters arrive as themselves whatever the Shift state; nothing else
    // follows without comma and Enter.
    SetForegroundWindow(own);
    waitFor([&] { return GetForegroundWindow() == own; });
    CHECK(typeCard(keyboard, idOf(target), "1A2b3C4D", false, false, setClipboardText) == TypeResult::Typed);
    CHECK(waitFor([&] { return textOf(edit) == L"0439041101,\r\n1A2b3C4D"; }));
    CHECK_TEXT(textOf(edit), L"0439041101,\r\n1A2b3C4D");

    // A window that is gone gets nothing, and the clipboard stays as it was.
    PostMessageW(target, WM_CLOSE, 0, 0);
    CHECK(WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0);
    setClipboardText("untouched");
    CHECK(typeCard(keyboard, idOf(target), "0439041101", true, true, setClipboardText) == TypeResult::TargetGone);
    CHECK_TEXT(clipboardText(), L"untouched");

    DestroyWindow(own);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// Characters as a user's keyboard gives them, to the window in front.
void typeCharacters(const std::wstring& text)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    for (const wchar_t unit : text) {
        input.ki.wScan = unit;
        input.ki.dwFlags = KEYEVENTF_UNICODE;
        SendInput(1, &input, sizeof input);
        input.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(1, &input, sizeof input);
    }
}

LRESULT askInputMethod(HWND ime, WPARAM command, LPARAM value = 0)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(ime, WM_IME_CONTROL, command, value, SMTO_ABORTIFHUNG, 2000, &answer);
    return static_cast<LRESULT>(answer);
}

void setText(HWND edit, const wchar_t* text)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &ignored);
}

double millisecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// Cards for a window whose input method is in Chinese mode: each arrives
// whole, after the word the user was half-way through, and the input method
// is as it was afterwards; also when the typing ends early.
void typingPastAnInputMethod()
{
    PROCESS_INFORMATION process = {};
    CHECK(startTarget(process, L"target-ime"));
    HWND target = nullptr;
    HWND ime = nullptr;
    CHECK(waitFor(
        [&] { return (target = FindWindowW(TargetClass, nullptr)) && (ime = FindWindowW(InputMethodClass, nullptr)); },
        30));
    if (!target || !ime)
        return;
    const HWND edit = GetWindow(target, GW_CHILD);
    CHECK(waitFor([&] { return GetForegroundWindow() == target; }));
    // The stand-in answers for the target's EDIT control only.
    WinKeyboard keyboard([&](KeyboardOutput::WindowId focus) { return focus == idOf(edit) ? idOf(ime) : 0; });

    const LRESULT chinese = IME_CMODE_NATIVE | IME_CMODE_SYMBOL;
    const auto setInputMethod = [&](BOOL open, LRESULT mode) {
        askInputMethod(ime, kImcSetOpenStatus, open);
        askInputMethod(ime, kImcSetConversionMode, mode);
    };
    const auto inputMethodIs = [&](BOOL open, LRESULT mode) {
        return askInputMethod(ime, kImcGetOpenStatus) == open && askInputMethod(ime, kImcGetConversionMode) == mode;
    };

    // In Chinese mode the input method takes what is typed: a half word.
    setInputMethod(TRUE, chinese);
    typeCharacters(L"zhong");
    CHECK(waitFor([&] { return textOf(ime) == L"zhong"; }));
    CHECK_TEXT(textOf(edit), L"");

    // The card comes after the half word, which the switch-off committed,
    // and the input method is back in Chinese mode.
    CHECK(typeCard(keyboard, idOf(target), "1A2B3C4D", true, true, setClipboardText) == TypeResult::Typed);
    CHECK(waitFor([&] { return textOf(edit) == L"zhong1A2B3C4D,\r\n"; }));
    CHECK_TEXT(textOf(edit), L"zhong1A2B3C4D,\r\n");
    CHECK_TEXT(textOf(ime), L"");
    CHECK(inputMethodIs(TRUE, chinese));

    // Card after card, each whole; the time a card takes with the input
    // method switched, and with nothing to switch.
    const auto typeCards = [&](const char* how) {
        constexpr int kCards = 20;
        setText(edit, L"");
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < kCards; ++i)
            CHECK(typeCard(keyboard, idOf(target), "0439041101", false, true, {}) == TypeResult::Typed);
        std::fprintf(stderr, "wine_keyboard: %.1f ms a card %s\n", millisecondsSince(start) / kCards, how);
        std::wstring expected;
        for (int i = 0; i < kCards; ++i)
            expected += L"0439041101\r\n";
        CHECK(waitFor([&] { return textOf(edit) == expected; }));
        CHECK_TEXT(textOf(edit), expected);
        CHECK_TEXT(textOf(ime), L"");
    };
    typeCards("past the input method in Chinese mode");
    CHECK(inputMethodIs(TRUE, chinese));
    setInputMethod(FALSE, 0);
    {
        WinImeSwitch nothingToSwitch(edit, ime);
        CHECK(!nothingToSwitch.switched());
    }
    typeCards("with the input method off");
    CHECK(inputMethodIs(FALSE, 0));

    // Typing that ends early puts the input method back as well.
    setInputMethod(TRUE, chinese);
    {
        WinImeSwitch interrupted(edit, ime);
        CHECK(interrupted.switched());
        CHECK(inputMethodIs(FALSE, 0));
    }
    CHECK(inputMethodIs(TRUE, chinese));

    // Why it is put back only once the keys were taken: put back at once,
    // keys still waiting in the target's queue meet the input method.
    setText(edit, L"");
    {
        WinImeSwitch early(edit, ime);
        typeCharacters(L"0439041101");
        early.restore();
    }
    waitFor([&] { return textOf(edit).size() + textOf(ime).size() == 10; });
    std::fprintf(stderr, "wine_keyboard: put back at once, %zu of 10 characters went into the composition\n",
                 textOf(ime).size());

    PostMessageW(target, WM_CLOSE, 0, 0);
    CHECK(WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string role = argc > 1 ? argv[1] : "";
    if (role == "target")
        return runTarget(50, 50);
    if (role == "target-ime")
        return runTarget(50, 50, [](HWND window) { wineInputMethod::install(GetWindow(window, GW_CHILD)); });
    typingIntoAnotherProcess();
    typingPastAnInputMethod();
    return wineCheckResult("wine_keyboard");
}
