#include "settings/windows/WinSettings.h"

#include "settings/SettingsFields.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <vector>

namespace winsettings {

const wchar_t* const kSettingsKeyPath = L"Software\\Quorix\\Tallyport";
const wchar_t* const kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

namespace {

const wchar_t* const kRunValueName = L"Tallyport";

// An open registry key, closed with its owner.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }

    bool open(HKEY root, const wchar_t* path, REGSAM access)
    {
        return RegOpenKeyExW(root, path, 0, access, &key_) == ERROR_SUCCESS;
    }
    bool create(HKEY root, const wchar_t* path)
    {
        return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key_,
                               nullptr)
            == ERROR_SUCCESS;
    }
    HKEY handle() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// `out` changes only when the value is there and of its type.
enum class Read { Missing, Ok, WrongType };

// The type and bytes of a value; Missing when there is none.
Read rawValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data)
{
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        const LONG status = RegQueryValueExW(key, name, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return Read::Missing;
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && data.size() < size)) {
            data.resize(size);  // the value may grow between the two calls
            continue;
        }
        if (status != ERROR_SUCCESS)
            return Read::WrongType;  // unreadable: as good as of the wrong type
        data.resize(size);
        return Read::Ok;
    }
}

Read readText(HKEY key, const wchar_t* name, std::wstring& out)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    const Read read = rawValue(key, name, type, data);
    if (read != Read::Ok)
        return read;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return Read::WrongType;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    // Stored with its terminating null, or several, or none.
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    out = text;
    return Read::Ok;
}

Read readInteger(HKEY key, const wchar_t* name, int& out)
{
    DWORD type = 0;
    std::vector<BYTE> data(sizeof(DWORD));
    const Read read = rawValue(key, name, type, data);
    if (read != Read::Ok)
        return read;
    if (type != REG_DWORD || data.size() != sizeof(DWORD))
        return Read::WrongType;
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    out = static_cast<int>(static_cast<std::int32_t>(value));
    return Read::Ok;
}

// Value names are ASCII.
std::wstring wide(const char* name)
{
    return std::wstring(name, name + std::strlen(name));
}

std::wstring trimmed(const std::wstring& text)
{
    const auto begin = text.find_first_not_of(L" \t\r\n");
    if (begin == std::wstring::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(L" \t\r\n") - begin + 1);
}

bool booleanOf(const std::wstring& raw)
{
    const std::wstring text = trimmed(raw);
    const std::size_t digits = (!text.empty() && (text[0] == L'+' || text[0] == L'-')) ? 1 : 0;
    if (text.size() > digits && text.find_first_not_of(L"0123456789", digits) == std::wstring::npos)
        return text.find_first_not_of(L"0", digits) != std::wstring::npos;
    if (text.size() != 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (std::towlower(text[i]) != L"true"[i])
            return false;
    }
    return true;
}

// Reads values in order until one is of the wrong type; after that every
// call leaves its value alone.
class Reader {
public:
    explicit Reader(HKEY key) : key_(key) { }

    void text(const char* key, std::wstring& out)
    {
        const std::wstring name = wide(key);
        read(name, [&] { return readText(key_, name.c_str(), out); });
    }
    void integer(const char* key, int& out)
    {
        const std::wstring name = wide(key);
        read(name, [&] { return readInteger(key_, name.c_str(), out); });
    }
    void boolean(const char* key, bool& out)
    {
        const std::wstring name = wide(key);
        std::wstring t;
        if (read(name, [&] { return readText(key_, name.c_str(), t); }))
            out = booleanOf(t);
    }
    const std::wstring& stoppedAt() const { return stoppedAt_; }

private:
    // True when the value was there and of its type.
    template <typename ReadValue> bool read(const std::wstring& name, ReadValue readValue)
    {
        if (!stoppedAt_.empty())
            return false;
        const Read result = readValue();
        if (result == Read::WrongType)
            stoppedAt_ = name;
        return result == Read::Ok;
    }

    HKEY key_;
    std::wstring stoppedAt_;
};

bool writeText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

bool writeInteger(HKEY key, const wchar_t* name, int value)
{
    const DWORD data = static_cast<DWORD>(value);
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

// Writes values in order until one fails; the values after it are not written.
struct Writer {
    HKEY key;
    bool ok = true;
    void text(const char* name, const std::wstring& value) { ok = ok && writeText(key, wide(name).c_str(), value); }
    void integer(const char* name, int value) { ok = ok && writeInteger(key, wide(name).c_str(), value); }
    void boolean(const char* name, bool value) { text(name, value ? L"-1" : L"0"); }
};

}  // namespace

LoadOutcome load(Values& v)
{
    LoadOutcome outcome;
    Key key;
    if (!key.open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ)) {
        // The machine's own view first: an administrator's defaults, written
        // by the MSI package. Then the 32-bit view, where the earlier
        // program, a 32-bit one, kept its values on 64-bit Windows.
        if (!key.open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_READ | KEY_WOW64_64KEY)
            && !key.open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_READ | KEY_WOW64_32KEY))
            return outcome;
        outcome.fromMachineKey = true;
    }
    Reader r(key.handle());
    forEachStoredValue(r, v);
    outcome.stoppedAt = r.stoppedAt();
    outcome.kind = outcome.stoppedAt.empty() ? LoadOutcome::Loaded : LoadOutcome::StoppedAtWrongType;
    return outcome;
}

bool save(const Values& v)
{
    Key key;
    if (!key.create(HKEY_CURRENT_USER, kSettingsKeyPath))
        return false;
    Writer w{key.handle()};
    forEachStoredValue(w, v);
    return w.ok;
}

std::wstring moduleFileName()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], size);
        if (length == 0)
            return {};
        if (length < size) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: a longer path than MAX_PATH
    }
}

namespace {

// The views of the machine's Run key an earlier installation may have
// written: the 32-bit one (the earlier program was a 32-bit one) and the
// native one.
const REGSAM kMachineViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

bool machineRunEntryIn(REGSAM view)
{
    Key key;
    return key.open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_QUERY_VALUE | view)
        && RegQueryValueExW(key.handle(), kRunValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Only an administrator may, as a rule; anyone else leaves it for
// machineRunEntryRemoval() to explain.
void deleteMachineRunEntries()
{
    for (const REGSAM view : kMachineViews) {
        Key key;
        if (key.open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_SET_VALUE | view))
            RegDeleteValueW(key.handle(), kRunValueName);
    }
}

}  // namespace

std::wstring machineRunEntryRemoval()
{
    for (const REGSAM view : kMachineViews) {
        if (machineRunEntryIn(view))
            return std::wstring(L"reg delete \"HKLM\\") + kRunKeyPath + L"\" /v " + kRunValueName + L" /f"
                + (view == KEY_WOW64_32KEY ? L" /reg:32" : L" /reg:64");
    }
    return {};
}

bool setRunEntry(bool enabled)
{
    Key key;
    if (!key.create(HKEY_CURRENT_USER, kRunKeyPath))
        return false;
    if (!enabled) {
        deleteMachineRunEntries();
        const LONG status = RegDeleteValueW(key.handle(), kRunValueName);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    const std::wstring path = moduleFileName();
    return !path.empty() && writeText(key.handle(), kRunValueName, path);
}

std::wstring defaultCardLogPath()
{
    std::wstring folder;
    PWSTR documents = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents) == S_OK)
        folder = documents;
    CoTaskMemFree(documents);
    if (folder.empty()) {
        wchar_t profile[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            folder = profile;
    }
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder + L"card.txt";
}

}  // namespace winsettings
