#include "link/windows/WinPorts.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <utility>

std::vector<std::wstring> windowsSerialPorts()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    // (device name, port name)
    std::vector<std::pair<std::wstring, std::wstring>> ports;
    wchar_t name[256];
    wchar_t data[256];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 256;
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;  // too long for a port name, or not a text
        std::wstring port(data, dataBytes / sizeof(wchar_t));
        port.resize(std::min(port.size(), port.find(L'\0')));
        if (!port.empty())
            ports.emplace_back(std::wstring(name, nameLength), port);
    }
    RegCloseKey(key);
    std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return CompareStringOrdinal(a.first.c_str(), -1, b.first.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::vector<std::wstring> names;
    for (auto& port : ports)
        names.push_back(std::move(port.second));
    return names;
}
