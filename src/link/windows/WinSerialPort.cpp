#include "link/windows/WinSerialPort.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(COMMTIMEOUTS) == sizeof(unsigned long[5]), "COMMTIMEOUTS is five DWORDs");

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The longest mode string handed to the system. The longest a user writes
// ("baud=115200 parity=N data=8 stop=1 to=off xon=off odsr=off octs=off
// dtr=on rts=on idsr=off") has about 90 characters; the system's parser
// faults on one of 32,768.
constexpr std::size_t kMaxModeString = 255;

// Whether `mode` may go to BuildCommDCBA: short, and printable ASCII only.
bool isPlausibleModeString(const std::string& mode)
{
    if (mode.size() > kMaxModeString)
        return false;
    for (const char c : mode) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    }
    return true;
}

HANDLE asHandle(void* handle)
{
    return static_cast<HANDLE>(handle);
}

}  // namespace

WinSerialPort::~WinSerialPort()
{
    close();
}

bool WinSerialPort::open(const std::string& name, const std::string& lineSettings)
{
    close();
    // The prefix makes COM10 and above work.
    const std::string path = "\\\\.\\" + name;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        openError_ = GetLastError();
        return false;
    }
    openError_ = 0;
    handle_ = handle;

    // A mode string the system rejects, or one that is not even handed to
    // it, leaves the port's own settings.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (isPlausibleModeString(lineSettings) && GetCommState(handle, &dcb) && BuildCommDCBA(lineSettings.c_str(), &dcb))
        SetCommState(handle, &dcb);
    SetupComm(handle, 2048, 2048);
    COMMTIMEOUTS saved = {};
    GetCommTimeouts(handle, &saved);
    std::memcpy(savedTimeouts_, &saved, sizeof saved);
    // Reads never wait unless waitForBytes asks them to.
    readWait_ = 0;
    COMMTIMEOUTS none = {};
    SetCommTimeouts(handle, &none);
    purge();
    return true;
}

void WinSerialPort::close()
{
    if (!handle_)
        return;
    PurgeComm(asHandle(handle_), kPurgeAll);
    COMMTIMEOUTS saved;
    std::memcpy(&saved, savedTimeouts_, sizeof saved);
    SetCommTimeouts(asHandle(handle_), &saved);
    CloseHandle(asHandle(handle_));
    handle_ = nullptr;
    hasHeld_ = false;
}

void WinSerialPort::purge()
{
    hasHeld_ = false;
    if (handle_)
        PurgeComm(asHandle(handle_), kPurgeAll);
}

std::size_t WinSerialPort::waiting()
{
    DWORD errors = 0;
    COMSTAT status = {};
    // The line errors (parity, framing, overrun) end nothing: the frames'
    // checksums decide.
    if (!handle_ || !ClearCommError(asHandle(handle_), &errors, &status))
        return held();
    return status.cbInQue + held();
}

long WinSerialPort::read(unsigned char* buffer, std::size_t count)
{
    if (!handle_ || count == 0)
        return 0;
    std::size_t got = 0;
    if (hasHeld_) {
        buffer[got++] = heldByte_;
        hasHeld_ = false;
    }
    // With the all-zero time-outs a read waits for its whole count, so it
    // asks only for what the driver holds.
    DWORD errors = 0;
    COMSTAT status = {};
    if (got < count && ClearCommError(asHandle(handle_), &errors, &status) && status.cbInQue > 0) {
        DWORD want = static_cast<DWORD>(count - got);
        if (want > status.cbInQue)
            want = status.cbInQue;
        DWORD read = 0;
        if (!ReadFile(asHandle(handle_), buffer + got, want, &read, nullptr))
            return got > 0 ? static_cast<long>(got) : -1;
        got += read;
    }
    return static_cast<long>(got);
}

bool WinSerialPort::write(const unsigned char* data, std::size_t count, int)
{
    DWORD written = 0;
    return handle_ && WriteFile(asHandle(handle_), data, static_cast<DWORD>(count), &written, nullptr)
        && written == count;
}

WinSerialPort::Wait WinSerialPort::waitForBytes(int ms)
{
    if (!handle_)
        return Wait::Failed;
    if (hasHeld_)
        return Wait::Ready;
    // A one-byte read with these time-outs returns as soon as a byte is
    // there, or after `ms` with none: the driver itself waits, no polling.
    if (!setReadWait(ms > 0 ? static_cast<unsigned long>(ms) : 1))
        return Wait::Failed;
    DWORD read = 0;
    if (!ReadFile(asHandle(handle_), &heldByte_, 1, &read, nullptr))
        return Wait::Failed;
    hasHeld_ = read == 1;
    return hasHeld_ ? Wait::Ready : Wait::TimedOut;
}

bool WinSerialPort::setReadWait(unsigned long ms)
{
    if (ms == readWait_)
        return true;
    COMMTIMEOUTS timeouts = {};
    if (ms > 0) {
        // The documented combination: return at once with what is there,
        // else with the first byte, else after the constant.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = ms;
    }
    if (!SetCommTimeouts(asHandle(handle_), &timeouts))
        return false;
    readWait_ = ms;
    return true;
}
