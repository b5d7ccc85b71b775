// A helper for the Windows program's round under Wine (scripts/test-windows-program):
//   wine_target show         a window "Target" with an EDIT control, put in front
//   wine_target text         prints that control's text (UTF-8) on one line,
//                            quoted, CR and LF written as \r and \n
//   wine_target clear        empties it
//   wine_target alt K TITLE  puts the window whose title starts with TITLE in
//                            front and presses Alt+K there, as a user would
//   wine_target count TITLE  prints how many top-level windows have such a title
//   wine_target message TITLE  prints the text of the message box whose title
//                            starts with TITLE (UTF-8, one line) and closes it
// Exit status 1 when the window asked for is not there.

#include "WineTarget.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HWND edit()
{
    const HWND target = FindWindowW(TargetClass, nullptr);
    return target ? GetWindow(target, GW_CHILD) : nullptr;
}

struct TitleSearch {
    std::wstring prefix;
    HWND first = nullptr;
    int count = 0;
};

BOOL CALLBACK visit(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<TitleSearch*>(data);
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    if (IsWindowVisible(window) && std::wstring(title).rfind(search->prefix, 0) == 0) {
        if (!search->first)
            search->first = window;
        ++search->count;
    }
    return TRUE;
}

TitleSearch find(const char* prefix)
{
    TitleSearch search;
    for (const char* c = prefix; *c; ++c)
        search.prefix += static_cast<wchar_t>(*c);
    EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    return search;
}

void key(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "show")
        return runTarget(600, 400);
    if (command == "text" || command == "clear") {
        const HWND control = edit();
        if (!control)
            return 1;
        if (command == "clear") {
            SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
            return 0;
        }
        wchar_t text[1024] = {};
        const int length = static_cast<int>(SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text)));
        char utf8[4096] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8 - 1, nullptr, nullptr);
        std::string shown;
        for (const char* c = utf8; *c; ++c)
            shown += *c == '\r' ? "\\r" : *c == '\n' ? "\\n" : std::string(1, *c);
        std::printf("'%s'\n", shown.c_str());
        return 0;
    }
    if (command == "count" && argc == 3) {
        std::printf("%d\n", find(argv[2]).count);
        return 0;
    }
    if (command == "alt" && argc == 4) {
        const HWND window = find(argv[3]).first;
        if (!window)
            return 1;
        SetForegroundWindow(window);
        for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i)
            Sleep(20);
        const WORD letter = static_cast<WORD>(VkKeyScanA(argv[2][0]) & 0xFF);
        key(VK_MENU, false);
        key(letter, false);
        key(letter, true);
        key(VK_MENU, true);
        return 0;
    }
    if (command == "message" && argc == 3) {
        const HWND box = find(argv[2]).first;
        if (!box)
            return 1;
        // A message box shows its text in the static control 0xFFFF.
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        char utf8[4096] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        std::printf("%s\n", utf8);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    std::fprintf(stderr, "usage: wine_target show | text | clear | alt KEY TITLE | count TITLE | message TITLE\n");
    return 2;
}
