// The serial ports Windows lists, Qt-free so that its test runs under Wine.
#pragma once

#include <string>
#include <vector>

// The port names ("COM3") of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM,
// in the order of the device names they are listed under (compared without
// regard to case). Empty when the key is missing or holds no port.
std::vector<std::wstring> windowsSerialPorts();
