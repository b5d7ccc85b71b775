#include "link/windows/WinPorts.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The device class GUIDs are defined here, not in a library.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <utility>

namespace {

const wchar_t* const kSerialCommPath = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// SERIALCOMM itself exists only while some port does: its parent is watched.
const wchar_t* const kDeviceMapPath = L"HARDWARE\\DEVICEMAP";

std::wstring deviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t text[256] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr)
        || type != REG_SZ)
        return {};
    return text;
}

// The details of each port of the ports class, by port name.
std::map<std::wstring, std::wstring> deviceDetails()
{
    std::map<std::wstring, std::wstring> details;
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return details;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD bytes = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const bool named
            = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &bytes) == ERROR_SUCCESS
            && type == REG_SZ;
        RegCloseKey(key);
        if (!named || port[0] == L'\0')
            continue;
        std::wstring friendly = deviceText(set, device, SPDRP_FRIENDLYNAME);
        if (friendly.empty())
            friendly = deviceText(set, device, SPDRP_DEVICEDESC);
        details[port] = portDetails(port, friendly, deviceText(set, device, SPDRP_MFG));
    }
    SetupDiDestroyDeviceInfoList(set);
    return details;
}

}  // namespace

std::wstring portDetails(const std::wstring& name, const std::wstring& friendlyName, const std::wstring& maker)
{
    std::wstring details = friendlyName;
    const std::wstring suffix = L" (" + name + L")";
    if (details.size() >= suffix.size()
        && CompareStringOrdinal(details.c_str() + details.size() - suffix.size(), -1, suffix.c_str(), -1, TRUE)
            == CSTR_EQUAL)
        details.resize(details.size() - suffix.size());
    // "(Standard port types)" and the like say nothing.
    if (!maker.empty() && maker.front() != L'(' && details.find(maker) == std::wstring::npos)
        details += details.empty() ? maker : L", " + maker;
    return details;
}

namespace {

// The port names SERIALCOMM lists, in the order of their device names.
std::vector<std::wstring> serialCommNames()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    // (device name, port name)
    std::vector<std::pair<std::wstring, std::wstring>> ports;
    wchar_t name[256];
    wchar_t data[256];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 256;
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG status
            = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
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

}  // namespace

std::vector<WindowsPort> windowsSerialPorts()
{
    const std::vector<std::wstring> names = serialCommNames();
    const std::map<std::wstring, std::wstring> details
        = names.empty() ? std::map<std::wstring, std::wstring>() : deviceDetails();
    std::vector<WindowsPort> list;
    for (const std::wstring& name : names) {
        const auto found = details.find(name);
        list.push_back({name, found == details.end() ? std::wstring() : found->second});
    }
    return list;
}

bool windowsPortPresent(const std::wstring& name)
{
    if (name.empty())
        return false;
    wchar_t target[512];
    if (QueryDosDeviceW(name.c_str(), target, 512) != 0)
        return true;
    // A port the system lists is there, whatever its device is called.
    const std::vector<std::wstring> listed = serialCommNames();
    return std::any_of(listed.begin(), listed.end(), [&name](const std::wstring& port) {
        return CompareStringOrdinal(port.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
}

SerialCommWatch::~SerialCommWatch()
{
    if (key_)
        RegCloseKey(static_cast<HKEY>(key_));
}

bool SerialCommWatch::arm(void* event)
{
    if (!key_) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMapPath, 0, KEY_NOTIFY, &key) != ERROR_SUCCESS)
            return false;
        key_ = key;
    }
    ResetEvent(static_cast<HANDLE>(event));
    return RegNotifyChangeKeyValue(static_cast<HKEY>(key_), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   static_cast<HANDLE>(event), TRUE)
        == ERROR_SUCCESS;
}
