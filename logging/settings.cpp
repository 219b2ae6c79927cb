#include "logging/settings.h"

#include "common/process_context.h"
#include "common/unique_owner.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <climits>

const wchar_t kSettingsKey[] = L"SOFTWARE\\Pellor";
const wchar_t kPolicySettingsKey[] = L"SOFTWARE\\Policies\\Zorvanti\\VelnorIE";

namespace {

// The text of a string value: up to its first NUL, or to the end of the data without one.
std::wstring TextOfData(const BYTE* data, DWORD size) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    const size_t units = size / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && text[length] != L'\0') ++length;
    return std::wstring(text, length);
}

// Leading blanks, an optional sign, then digits up to the first non-digit. Numbers outside
// the 32-bit range saturate rather than wrap, so a huge level still means "everything".
int ParseDecimal(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\r' ||
                               text[i] == L'\n' || text[i] == L'\v' || text[i] == L'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

namespace {

bool QueryOpenKey(HKEY key, const wchar_t* valueName, DWORD* type, DWORD* size, BYTE** data) {
    DWORD valueType = 0;
    DWORD valueSize = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &valueType, nullptr, &valueSize) != ERROR_SUCCESS) return false;
    // One spare zero unit so that callers never read past the data, whatever it holds.
    unique_localmem buffer(LocalAlloc(LPTR, valueSize + sizeof(wchar_t)));
    if (!buffer) return false;
    DWORD readSize = valueSize;
    if (RegQueryValueExW(key, valueName, nullptr, &valueType, static_cast<BYTE*>(buffer.get()), &readSize) !=
        ERROR_SUCCESS)
        return false;
    if (type) *type = valueType;
    if (size) *size = readSize;
    if (data) *data = static_cast<BYTE*>(buffer.release());
    return true;
}

// A REG_DWORD of exactly 4 bytes, or decimal REG_SZ text; false for anything else.
bool IntOfData(DWORD type, DWORD size, const BYTE* raw, int* value) {
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD dword;
        CopyMemory(&dword, raw, sizeof(dword));
        *value = static_cast<int>(dword);
        return true;
    }
    if (type != REG_SZ) return false;
    try {
        *value = ParseDecimal(TextOfData(raw, size));
        return true;
    } catch (...) {
        return false;
    }
}

bool ReadKeyInt(HKEY root, const wchar_t* subKey, const wchar_t* valueName, int* value) {
    DWORD type = 0, size = 0;
    BYTE* raw = nullptr;
    if (!RegQueryKeyValue(root, subKey, valueName, &type, &size, &raw)) return false;
    unique_localmem data(raw);
    return IntOfData(type, size, raw, value);
}

// The product key's value: as RegQueryKeyValue reads it in the caller's own view, or, given a
// view, from that view's key, only opened (an inventory of both views creates nothing).
bool QueryProductValue(const wchar_t* valueName, REGSAM view, DWORD* type, DWORD* size, BYTE** data) {
    if (view == 0) return RegQueryKeyValue(HKEY_LOCAL_MACHINE, kSettingsKey, valueName, type, size, data);
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    return QueryOpenKey(key.get(), valueName, type, size, data);
}

// The policy's integer, else the product key's, else the default.
int ReadIntSetting(const wchar_t* valueName, int defaultValue, SettingOrigin* origin, REGSAM view) {
    int value = defaultValue;
    SettingOrigin from = SettingOrigin::Default;
    DWORD type = 0, size = 0;
    BYTE* raw = nullptr;
    if (ReadPolicyInt(HKEY_LOCAL_MACHINE, valueName, &value)) {
        from = SettingOrigin::Policy;
    } else if (QueryProductValue(valueName, view, &type, &size, &raw)) {
        unique_localmem data(raw);
        if (IntOfData(type, size, raw, &value))
            from = SettingOrigin::ProductKey;
        else
            value = defaultValue;
    }
    if (origin) *origin = from;
    return value;
}

// Every non-empty string of a REG_MULTI_SZ or REG_SZ; false for another type.
bool StringsOfData(DWORD type, DWORD size, const BYTE* raw, std::vector<std::wstring>* strings) {
    if (type != REG_MULTI_SZ && type != REG_SZ) return false;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(raw);
    const size_t units = size / sizeof(wchar_t);
    try {
        for (size_t start = 0; start < units;) {
            size_t end = start;
            while (end < units && text[end] != L'\0') ++end;
            if (end > start) strings->emplace_back(text + start, end - start);
            start = end + 1;
        }
    } catch (...) {
        strings->clear();
    }
    return true;
}

}  // namespace

const char* SettingOriginName(SettingOrigin origin) {
    switch (origin) {
    case SettingOrigin::Policy: return "policy";
    case SettingOrigin::ProductKey: return "product key";
    default: return "default";
    }
}

bool RegQueryKeyValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                      DWORD* type, DWORD* size, BYTE** data) {
    unique_hkey key;
    // In an AppContainer the key is only opened: nothing there may create keys, and what the
    // product reads lies under HKEY_LOCAL_MACHINE, which containers may read.
    const LSTATUS opened =
        CurrentProcessContext().appContainer
            ? RegOpenKeyExW(root, subKey, 0, KEY_READ, key.put())
            : RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr);
    if (opened != ERROR_SUCCESS) return false;
    return QueryOpenKey(key.get(), valueName, type, size, data);
}

bool QueryPolicyValue(HKEY root, const wchar_t* valueName, DWORD* type, DWORD* size, BYTE** data) {
    unique_hkey key;
    if (RegOpenKeyExW(root, kPolicySettingsKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return false;
    return QueryOpenKey(key.get(), valueName, type, size, data);
}

bool ReadPolicyInt(HKEY root, const wchar_t* valueName, int* value) {
    DWORD type = 0, size = 0;
    BYTE* raw = nullptr;
    if (!QueryPolicyValue(root, valueName, &type, &size, &raw)) return false;
    unique_localmem data(raw);
    return IntOfData(type, size, raw, value);
}

std::wstring RegGetKeyStr(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                          const wchar_t* defaultValue) {
    const wchar_t* fallback = defaultValue ? defaultValue : L"";
    DWORD type = 0, size = 0;
    BYTE* raw = nullptr;
    if (!RegQueryKeyValue(root, subKey, valueName, &type, &size, &raw)) return fallback;
    unique_localmem data(raw);
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return fallback;
    try {
        return TextOfData(raw, size);
    } catch (...) {
        return fallback;
    }
}

int RegGetKeyInt(HKEY root, const wchar_t* subKey, const wchar_t* valueName, int defaultValue) {
    int value = defaultValue;
    return ReadKeyInt(root, subKey, valueName, &value) ? value : defaultValue;
}

bool RegSetKeyStr(HKEY root, const wchar_t* subKey, const wchar_t* valueName, const wchar_t* text) {
    unique_hkey key;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    const wchar_t* data = text ? text : L"";
    const DWORD bytes = static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          bytes) == ERROR_SUCCESS;
}

std::wstring GetInstallPath() {
    return RegGetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", L"");
}

std::wstring GetLogFolder() {
    if (CurrentProcessContext().appContainer) return ProtectedTabLogFolder(WriteableFolderForProtectedTabs());
    std::wstring folder = GetInstallPath();
    if (!folder.empty()) folder += L"\\logs\\";
    return folder;
}

std::wstring ProtectedTabLogFolder(const std::wstring& writeableFolder) {
    if (writeableFolder.empty()) return std::wstring();
    std::wstring folder = writeableFolder;
    if (folder.back() != L'\\') folder += L'\\';
    return folder + L"Zorvanti\\logs\\";
}

std::wstring WriteableFolderForProtectedTabs() {
    std::wstring folder;
    // IEGetWriteableFolderPath is ieframe.dll's, which every tab has loaded; it is looked for only
    // there, never loaded into another process.
    using WriteableFolderFn = HRESULT(WINAPI*)(REFGUID, LPWSTR*);
    HMODULE ieframe = GetModuleHandleW(L"ieframe.dll");
    auto writeable = ieframe ? reinterpret_cast<WriteableFolderFn>(GetProcAddress(ieframe, "IEGetWriteableFolderPath"))
                             : nullptr;
    unique_cotaskmem path;
    if (writeable && SUCCEEDED(writeable(FOLDERID_LocalAppDataLow, reinterpret_cast<LPWSTR*>(path.put()))) && path)
        return static_cast<const wchar_t*>(path.get());
    // Inside an AppContainer the user's LocalAppData is the container's own folder.
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, reinterpret_cast<PWSTR*>(path.put()))) && path)
        folder = static_cast<const wchar_t*>(path.get());
    return folder;
}

int ReadLogLevelSetting(SettingOrigin* origin, REGSAM view) {
    return ReadIntSetting(L"LogLevel", 0, origin, view);
}

bool ReadTemplateIsolationSetting(SettingOrigin* origin, REGSAM view) {
    return ReadIntSetting(L"TemplateIsolation", 0, origin, view) == 1;
}

std::vector<std::wstring> ReadTrustedPortalsSetting(SettingOrigin* origin, REGSAM view) {
    std::vector<std::wstring> portals;
    if (origin) *origin = SettingOrigin::Default;
    DWORD type = 0, size = 0;
    BYTE* raw = nullptr;
    if (QueryPolicyValue(HKEY_LOCAL_MACHINE, L"TrustedPortals", &type, &size, &raw)) {
        unique_localmem data(raw);
        if (StringsOfData(type, size, raw, &portals)) {
            if (origin) *origin = SettingOrigin::Policy;
            return portals;
        }
    }
    if (!QueryProductValue(L"TrustedPortals", view, &type, &size, &raw)) return portals;
    unique_localmem data(raw);
    if (StringsOfData(type, size, raw, &portals) && origin) *origin = SettingOrigin::ProductKey;
    return portals;
}
