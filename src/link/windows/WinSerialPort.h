// A serial port on the Win32 calls, Qt-free so that its test runs under Wine.
// The same few operations as link/QtLinkPort.h, which ReaderLink uses on
// other systems. Belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <string>

class WinSerialPort {
public:
    WinSerialPort() = default;
    ~WinSerialPort();
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    // Opens "\\.\" + `name` exclusively and lays `lineSettings` (a mode
    // string such as "19200,e,8,1") over the port's own settings; a string
    // the system rejects, or one too long or not printable ASCII to be a
    // mode string at all, leaves those in force. False when the port does not
    // open; openError() then tells the system's reason (GetLastError).
    bool open(const std::string& name, const std::string& lineSettings);
    // Gives the port back the time-outs it had and closes it.
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    unsigned long openError() const { return openError_; }

    // Discards everything in both directions, the byte held by waitForBytes too.
    void purge();
    // Bytes that can be read without waiting; 0 when the driver cannot tell.
    std::size_t waiting();
    // Bytes held here rather than in the driver (at most one).
    std::size_t held() const { return hasHeld_ ? 1 : 0; }
    // Reads at most `count` of the waiting bytes; -1 when the port failed.
    long read(unsigned char* buffer, std::size_t count);
    // Returns once the driver took the bytes (the write time-outs stay zero;
    // its 2048-byte queue takes any request at once): `timeoutMs` is unused.
    bool write(const unsigned char* data, std::size_t count, int timeoutMs);

    enum class Wait { Ready, TimedOut, Failed };
    // Blocks in the driver until a byte arrives or `ms` ran out.
    Wait waitForBytes(int ms);

private:
    bool setReadWait(unsigned long ms);

    void* handle_ = nullptr;
    unsigned long openError_ = 0;
    unsigned long savedTimeouts_[5] = {};  // the five members of COMMTIMEOUTS
    unsigned long readWait_ = 0;           // the read time-out now in force
    bool hasHeld_ = false;
    unsigned char heldByte_ = 0;
};
