// The settings in Wine's registry (the user's key, the carry-over from the
// machine's key: an administrator's defaults or an earlier installation's,
// the value types), the log-on entry and the earlier installation's entry
// for all users, the port list with the device manager's names and its
// watch, and the default card log path.

#include "WineCheck.h"
#include "link/windows/WinPorts.h"
#include "settings/windows/WinSettings.h"

#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>
#include <shlobj.h>

#include <vector>

using namespace winsettings;

namespace {

void deleteTree(HKEY root, const wchar_t* path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path, view, 0);
}

HKEY createKey(HKEY root, const wchar_t* path, REGSAM view = 0, DWORD options = REG_OPTION_NON_VOLATILE)
{
    HKEY key = nullptr;
    RegCreateKeyExW(root, path, 0, nullptr, options, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
    return key;
}

void setText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
{
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void setInteger(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The type of a value, and its text (REG_SZ) or number (REG_DWORD) as text;
// L"missing" when there is none.
std::wstring stored(HKEY root, const wchar_t* path, const wchar_t* name)
{
    DWORD type = 0;
    BYTE data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(root, path, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS)
        return L"missing";
    if (type == REG_DWORD)
        return L"dword:" + std::to_wstring(static_cast<int>(*reinterpret_cast<DWORD*>(data)));
    if (type == REG_SZ)
        return L"sz:" + std::wstring(reinterpret_cast<wchar_t*>(data));
    return L"type " + std::to_wstring(type);
}

Values defaults()
{
    Values v;
    v.CommName = L"COM1";
    v.CommBaudRate = L"19200,e,8,1";
    v.ReaderID = 1;
    v.AddReturn = true;
    v.ExportFile = L"C:\\default.txt";
    return v;
}

void settingsCarryOverAndTypes()
{
    deleteTree(HKEY_CURRENT_USER, kSettingsKeyPath);
    deleteTree(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_64KEY);
    deleteTree(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_32KEY);

    Values v = defaults();
    CHECK(load(v).kind == LoadOutcome::NotFound);
    CHECK_TEXT(v.CommName, L"COM1");

    // An earlier installation, a 32-bit program, wrote the machine's key.
    HKEY machine = createKey(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_32KEY);
    CHECK(machine != nullptr);
    setText(machine, L"CommName", L"COM4");
    setInteger(machine, L"ReaderType", 3);
    setInteger(machine, L"ReaderID", 150);
    setInteger(machine, L"SameCardTime", static_cast<DWORD>(-5));
    setText(machine, L"AddReturn", L"0");
    setText(machine, L"AddDown", L"True");
    setText(machine, L"CardIDReverse", L"-1");
    setText(machine, L"AutoRun", L"yes");
    setText(machine, L"ExportFile", L"%USERPROFILE%\\cards.txt", REG_EXPAND_SZ);

    v = defaults();
    LoadOutcome outcome = load(v);
    CHECK(outcome.kind == LoadOutcome::Loaded);
    CHECK(outcome.fromMachineKey);
    CHECK_TEXT(v.CommName, L"COM4");
    CHECK_TEXT(v.CommBaudRate, L"19200,e,8,1");
    CHECK(v.ReaderType == 3 && v.ReaderID == 150 && v.SameCardTime == -5);
    CHECK(!v.AddReturn && v.AddDown && v.CardIDReverse && !v.AutoRun);
    CHECK_TEXT(v.ExportFile, L"%USERPROFILE%\\cards.txt");

    // Saving goes to the user's key, with the registry's types.
    v.Language = 2;
    v.SaveToFile = true;
    CHECK(save(v));
    const wchar_t* path = kSettingsKeyPath;
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"ReaderType"), L"dword:3");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"SameCardTime"), L"dword:-5");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"Language"), L"dword:2");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"AddDown"), L"sz:-1");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"AddReturn"), L"sz:0");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"CommBaudRate"), L"sz:19200,e,8,1");
    CHECK_TEXT(stored(HKEY_CURRENT_USER, path, L"ExportFile"), L"sz:%USERPROFILE%\\cards.txt");

    // From now on the machine's key is not read.
    setText(machine, L"CommName", L"COM9");
    Values again = defaults();
    outcome = load(again);
    CHECK(outcome.kind == LoadOutcome::Loaded && !outcome.fromMachineKey);
    CHECK_TEXT(again.CommName, L"COM4");
    CHECK(again.Language == 2 && again.SaveToFile && again.AddDown && !again.AddReturn);
    CHECK(again.ReaderType == 3 && again.ReaderID == 150 && again.SameCardTime == -5);
    RegCloseKey(machine);

    // An integer stored as text stops the reading there.
    HKEY user = createKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    setText(user, L"ReaderID", L"5");
    RegCloseKey(user);
    Values partial = defaults();
    outcome = load(partial);
    CHECK(outcome.kind == LoadOutcome::StoppedAtWrongType);
    CHECK_TEXT(outcome.stoppedAt, L"ReaderID");
    CHECK(partial.ReaderType == 3 && partial.ReaderID == 1 && partial.Language == 0 && partial.AddReturn);
}

// An administrator's defaults (the 64-bit view, where the MSI package writes
// them) come before an earlier installation's values (the 32-bit view), and
// the two are not mixed.
void machineDefaults()
{
    deleteTree(HKEY_CURRENT_USER, kSettingsKeyPath);
    HKEY earlier = createKey(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_32KEY);
    setText(earlier, L"CommName", L"COM4");
    setInteger(earlier, L"ReaderID", 9);
    RegCloseKey(earlier);
    HKEY preset = createKey(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_64KEY);
    CHECK(preset != nullptr);
    setText(preset, L"CommName", L"COM7");
    setInteger(preset, L"SendFormat", 2);
    RegCloseKey(preset);

    Values v = defaults();
    LoadOutcome outcome = load(v);
    CHECK(outcome.kind == LoadOutcome::Loaded && outcome.fromMachineKey);
    CHECK_TEXT(v.CommName, L"COM7");
    CHECK(v.SendFormat == 2 && v.ReaderID == 1);

    deleteTree(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_64KEY);
    v = defaults();
    CHECK(load(v).fromMachineKey);
    CHECK_TEXT(v.CommName, L"COM4");
    CHECK(v.ReaderID == 9 && v.SendFormat == 0);
    deleteTree(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_32KEY);
}

void runEntry()
{
    HKEY run = createKey(HKEY_CURRENT_USER, kRunKeyPath);
    setText(run, L"Tallyport", L"C:\\old\\tallyport.exe");
    setText(run, L"Other", L"C:\\other.exe");

    CHECK(setRunEntry(true));
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    CHECK_TEXT(stored(HKEY_CURRENT_USER, kRunKeyPath, L"Tallyport"), L"sz:" + std::wstring(module));

    CHECK(setRunEntry(false));
    CHECK_TEXT(stored(HKEY_CURRENT_USER, kRunKeyPath, L"Tallyport"), L"missing");
    CHECK(setRunEntry(false));  // already gone: no error
    CHECK_TEXT(stored(HKEY_CURRENT_USER, kRunKeyPath, L"Other"), L"sz:C:\\other.exe");
    RegDeleteValueW(run, L"Other");
    RegCloseKey(run);
}

// An earlier installation started the program for all users; unticking
// the box removes that entry too (Wine lets this user, as an administrator may).
void machineRunEntry()
{
    HKEY machine = createKey(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_WOW64_32KEY);
    CHECK(machine != nullptr);
    setText(machine, L"Tallyport", L"C:\\Program Files (x86)\\Tallyport\\tallyport.exe");
    setText(machine, L"Other", L"C:\\other.exe");
    CHECK_TEXT(machineRunEntryRemoval(),
               L"reg delete \"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\" /v Tallyport /f /reg:32");
    CHECK(setRunEntry(false));
    CHECK_TEXT(machineRunEntryRemoval(), L"");
    DWORD type = 0;
    CHECK(RegQueryValueExW(machine, L"Tallyport", nullptr, &type, nullptr, nullptr) == ERROR_FILE_NOT_FOUND);
    CHECK(RegQueryValueExW(machine, L"Other", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS);
    RegDeleteValueW(machine, L"Other");
    RegCloseKey(machine);
}

std::vector<std::wstring> namesOf(const std::vector<WindowsPort>& ports)
{
    std::vector<std::wstring> names;
    for (const WindowsPort& port : ports)
        names.push_back(port.name);
    return names;
}

// A device of the ports class, as a driver installs one, named `friendly`
// by the device manager and serving port `port`. Removed by the caller.
bool addPortDevice(HDEVINFO set, SP_DEVINFO_DATA& device, const std::wstring& port, const std::wstring& friendly,
                   const std::wstring& maker)
{
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoW(set, L"Ports", &GUID_DEVCLASS_PORTS, nullptr, nullptr, DICD_GENERATE_ID, &device))
        return false;
    const auto bytes = [](const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); };
    if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME,
                                           reinterpret_cast<const BYTE*>(friendly.c_str()), bytes(friendly))
        || !SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_MFG, reinterpret_cast<const BYTE*>(maker.c_str()),
                                              bytes(maker))
        || !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr))
        return false;
    const HKEY key = SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE)
        return false;
    setText(key, L"PortName", port);
    RegCloseKey(key);
    return true;
}

void portList()
{
    const wchar_t* path = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    deleteTree(HKEY_LOCAL_MACHINE, path);
    CHECK(windowsSerialPorts().empty());

    // The list is watched: a change to it is told.
    const HANDLE changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SerialCommWatch watch;
    CHECK(watch.arm(changed));
    CHECK(WaitForSingleObject(changed, 0) == WAIT_TIMEOUT);

    // The system keeps HARDWARE in memory only.
    HKEY key = createKey(HKEY_LOCAL_MACHINE, path, 0, REG_OPTION_VOLATILE);
    CHECK(key != nullptr);
    setText(key, L"\\Device\\Serial1", L"COM2");
    setText(key, L"\\device\\serial10", L"COM11");
    setText(key, L"\\Device\\Serial0", L"COM5");
    setInteger(key, L"\\Device\\Odd", 7);
    CHECK(WaitForSingleObject(changed, 2000) == WAIT_OBJECT_0);
    const std::vector<std::wstring> expected{L"COM5", L"COM2", L"COM11"};
    CHECK(namesOf(windowsSerialPorts()) == expected);

    // Armed again, the next change is told once more.
    CHECK(watch.arm(changed));
    CHECK(WaitForSingleObject(changed, 0) == WAIT_TIMEOUT);
    setText(key, L"\\Device\\Serial2", L"COM7");
    CHECK(WaitForSingleObject(changed, 2000) == WAIT_OBJECT_0);
    RegDeleteValueW(key, L"\\Device\\Serial2");
    RegCloseKey(key);
    CloseHandle(changed);

    // The device manager's name for a port goes beside it.
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
    SP_DEVINFO_DATA device = {};
    CHECK(addPortDevice(set, device, L"COM5", L"USB-SERIAL CH340 (COM5)", L"wch.cn"));
    const std::vector<WindowsPort> ports = windowsSerialPorts();
    CHECK(ports.size() == 3);
    if (ports.size() == 3) {
        CHECK_TEXT(ports[0].details, L"USB-SERIAL CH340, wch.cn");
        CHECK_TEXT(ports[1].details, L"");
    }
    SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);

    CHECK_TEXT(portDetails(L"COM1", L"Communications Port (COM1)", L"(Standard port types)"), L"Communications Port");
    CHECK_TEXT(portDetails(L"COM12", L"Prolific USB-to-Serial Comm Port (com12)", L"Prolific"),
               L"Prolific USB-to-Serial Comm Port");
    CHECK_TEXT(portDetails(L"COM4", L"Standard Serial over Bluetooth link (COM4)", L"Microsoft"),
               L"Standard Serial over Bluetooth link, Microsoft");
    CHECK_TEXT(portDetails(L"COM3", L"", L""), L"");

    // A port is there while the system lists it (or names its device).
    CHECK(windowsPortPresent(L"COM11"));
    CHECK(windowsPortPresent(L"com2"));
    CHECK(!windowsPortPresent(L"COM97"));
    CHECK(!windowsPortPresent(L""));
}

void defaultCardLog()
{
    wchar_t documents[MAX_PATH] = {};
    CHECK(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents) == S_OK);
    const std::wstring path = defaultCardLogPath();
    CHECK_TEXT(path, std::wstring(documents) + L"\\card.txt");
    // An ordinary user can create it there.
    CreateDirectoryW(documents, nullptr);
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    CHECK(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
    DeleteFileW(path.c_str());
}

}  // namespace

int main()
{
    settingsCarryOverAndTypes();
    machineDefaults();
    runEntry();
    machineRunEntry();
    portList();
    defaultCardLog();
    return wineCheckResult("wine_settings");
}
