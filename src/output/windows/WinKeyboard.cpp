#include "output/windows/WinKeyboard.h"

#include "output/windows/WinImeSwitch.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// The INPUT records handed to SendInput must have the size the system
// expects; on 32-bit Windows that is 28 bytes.
#if !defined(_WIN64)
static_assert(sizeof(INPUT) == 28, "INPUT must be 28 bytes in a 32-bit build");
#endif

namespace {

HWND toHwnd(KeyboardOutput::WindowId window)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

KeyboardOutput::WindowId toId(HWND window)
{
    return static_cast<KeyboardOutput::WindowId>(reinterpret_cast<std::uintptr_t>(window));
}

std::wstring toWide(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (units <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], units);
    return wide;
}

// A key press and release: a virtual key, or a character (KEYEVENTF_UNICODE)
// in wScan. False when the system took neither or only the press (the
// desktop is locked, or another desktop is in front).
bool pressAndRelease(INPUT& input, WORD virtualKey, WORD scan, DWORD flags)
{
    input.ki.wVk = virtualKey;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    if (SendInput(1, &input, sizeof(INPUT)) != 1)
        return false;
    input.ki.dwFlags = flags | KEYEVENTF_KEYUP;
    return SendInput(1, &input, sizeof(INPUT)) == 1;
}

// The window with the keyboard focus in `thread`, if any.
HWND focusOf(DWORD thread)
{
    GUITHREADINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// The window that receives the keys: the one with the focus in the thread
// of the window in front.
HWND focusInFront()
{
    const HWND front = GetForegroundWindow();
    const HWND focus = front ? focusOf(GetWindowThreadProcessId(front, nullptr)) : nullptr;
    return focus ? focus : front;
}

// The integrity level of `process` and whether it has uiAccess, from its
// token; not known where the token may not be read.
ProcessIntegrity integrityOf(HANDLE process)
{
    ProcessIntegrity integrity;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return integrity;
    DWORD size = 0;
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<unsigned char> label(size);
    if (size > 0 && GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size)) {
        const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
        if (IsValidSid(sid) && *GetSidSubAuthorityCount(sid) > 0) {
            integrity.level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
            integrity.known = true;
        }
    }
    DWORD uiAccess = 0;
    if (GetTokenInformation(token, TokenUIAccess, &uiAccess, sizeof uiAccess, &size))
        integrity.uiAccess = uiAccess != 0;
    CloseHandle(token);
    return integrity;
}

}  // namespace

WinKeyboard::WinKeyboard(ImeWindowFinder imeWindowOf)
    : imeWindowOf_(std::move(imeWindowOf)), ours_(integrityOf(GetCurrentProcess()))
{
    if (!imeWindowOf_)
        imeWindowOf_ = [](WindowId focus) { return toId(WinImeSwitch::defaultImeWindow(toHwnd(focus))); };
}

KeyboardOutput::WindowId WinKeyboard::foregroundWindow()
{
    return toId(GetForegroundWindow());
}

bool WinKeyboard::isOwnWindow(WindowId window)
{
    if (window == 0) {
        return false;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(toHwnd(window), &process);
    return process == GetCurrentProcessId();
}

bool WinKeyboard::showWindow(WindowId target)
{
    const HWND hwnd = toHwnd(target);
    if (!IsWindow(hwnd)) {
        return false;
    }
    // Restores a minimised window; a maximised one stays maximised.
    ShowWindow(hwnd, IsZoomed(hwnd) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    // Without this Windows only flashes the taskbar button of a window that
    // another process asks to bring to the front.
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDWININICHANGE);
    return true;
}

bool WinKeyboard::bringForward(WindowId target)
{
    const HWND hwnd = toHwnd(target);
    BringWindowToTop(hwnd);
    // Another program's window comes to the front a moment later, when its
    // own thread has activated it, and has a focus window later still, when
    // that thread has handled the activation (on a busy machine, hundreds of
    // milliseconds); keys sent before then would go to the window still in
    // front, or nowhere. Sent messages are answered while waiting, as the
    // activation may send some to our windows. When the window in front has
    // let go and no window took its place, the request got lost (seen under
    // Wine on a busy machine): it is made again, every 100 ms.
    const HWND root = GetAncestor(hwnd, GA_ROOTOWNER);
    const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
    for (int waited = 0;
         waited < 1000 && (GetAncestor(GetForegroundWindow(), GA_ROOTOWNER) != root || !focusOf(thread));
         waited += 10) {
        if (waited % 100 == 90 && !GetForegroundWindow())
            BringWindowToTop(hwnd);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(10);
    }

    // The keyboard focus belongs to the target's thread; sharing its input
    // state for a moment tells us whether it has a focus window at all.
    if (!AttachThreadInput(GetCurrentThreadId(), thread, TRUE)) {
        return false;
    }
    BringWindowToTop(hwnd);
    const HWND focus = GetFocus();
    AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
    return focus != nullptr;
}

bool WinKeyboard::refusesOurKeys(WindowId target)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(toHwnd(target), &processId);
    // PROCESS_QUERY_LIMITED_INFORMATION is granted for programs run as
    // administrator too, and is enough to read the token.
    const HANDLE process = processId ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId) : nullptr;
    const ProcessIntegrity theirs = process ? integrityOf(process) : ProcessIntegrity{};
    if (process)
        CloseHandle(process);
    return keysDroppedBetween(ours_, theirs);
}

KeySender::Sent WinKeyboard::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    const HWND focus = focusInFront();
    // Switched back when this ends, however it ends.
    WinImeSwitch inputMethod(focus, toHwnd(imeWindowOf_(toId(focus))));

    INPUT input;
    std::memset(&input, 0, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = 0;
    input.ki.time = 0;
    input.ki.dwExtraInfo = static_cast<ULONG_PTR>(GetMessageExtraInfo());

    // Each UTF-16 code unit as a character of its own, whatever the layout.
    // (Every Windows the program runs on, 10 and later, takes Unicode input.)
    // Enter is the key itself: the system sends wVk, not a character, when
    // it is set.
    bool sent = true;
    for (const wchar_t unit : toWide(text)) {
        if (!(sent = pressAndRelease(input, 0, static_cast<WORD>(unit), KEYEVENTF_UNICODE)))
            break;
    }
    if (sent && addComma)
        sent = pressAndRelease(input, 0, 0x2C, KEYEVENTF_UNICODE);
    if (sent && addEnter)
        sent = pressAndRelease(input, VK_RETURN, 0, KEYEVENTF_UNICODE);
    inputMethod.restoreWhenTaken();
    return sent ? Sent::All : Sent::Incomplete;
}
