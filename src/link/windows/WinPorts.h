// The serial ports Windows lists, Qt-free so that its test runs under Wine.
#pragma once

#include <string>
#include <vector>

struct WindowsPort {
    std::wstring name;     // "COM3"
    std::wstring details;  // what the device manager calls it: "USB-SERIAL CH340, wch.cn"
};

// The port names of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, in the
// order of the device names they are listed under (compared without regard
// to case), each with the friendly name and maker of its device where the
// system's device list (SetupAPI, the ports class) has it. Empty when the
// key is missing or holds no port.
std::vector<WindowsPort> windowsSerialPorts();

// The details shown for port `name` from its device's friendly name ("USB-SERIAL
// CH340 (COM3)") and maker: the friendly name without the port name it
// ends with, and the maker when it adds anything.
std::wstring portDetails(const std::wstring& name, const std::wstring& friendlyName, const std::wstring& maker);

// Whether the port is there now: the system knows a device of that name
// (QueryDosDevice) or lists it (SERIALCOMM).
bool windowsPortPresent(const std::wstring& name);

// Signals `event` (a manual-reset event of the caller's) at the next change
// of the ports the registry lists (or of anything else below its DEVICEMAP
// key); to be armed again after each change, on a thread that stays. False
// when the key cannot be watched.
class SerialCommWatch {
public:
    SerialCommWatch() = default;
    SerialCommWatch(const SerialCommWatch&) = delete;
    SerialCommWatch& operator=(const SerialCommWatch&) = delete;
    ~SerialCommWatch();
    bool arm(void* event);

private:
    void* key_ = nullptr;
};
