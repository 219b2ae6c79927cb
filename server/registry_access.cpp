#include "server/registry_access.h"

namespace {

constexpr REGSAM kViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

class SystemRegistryAccess final : public RegistryAccess {
public:
    LSTATUS OpenKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) override {
        return RegOpenKeyExW(parent, name, 0, access, out);
    }
    LSTATUS CreateKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) override {
        return RegCreateKeyExW(parent, name, 0, nullptr, 0, access, nullptr, out, nullptr);
    }
    LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override {
        return RegSetValueExW(key, name, 0, type, data, size);
    }
    LSTATUS DeleteValue(HKEY key, const wchar_t* name) override { return RegDeleteValueW(key, name); }
    LSTATUS QuerySubkeyCount(HKEY key, DWORD* count) override {
        return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
    }
    LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) override {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    }
    LSTATUS DeleteKey(HKEY parent, const wchar_t* name, REGSAM viewFlags) override {
        // RegDeleteKeyExW is missing before Vista; looked up once and remembered.
        using DeleteKeyEx = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        static const DeleteKeyEx deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"Advapi32.dll"), "RegDeleteKeyExW")));
        if (deleteKeyEx) return deleteKeyEx(parent, name, viewFlags, 0);
        return RegDeleteKeyW(parent, name);
    }
    LSTATUS CloseKey(HKEY key) override { return RegCloseKey(key); }
};

}  // namespace

RegistryAccess& SystemRegistry() {
    static SystemRegistryAccess registry;
    return registry;
}

LSTATUS RegKey::Open(HKEY parent, const wchar_t* name, REGSAM access) noexcept {
    Close();
    HKEY key = nullptr;
    const LSTATUS status = m_access->OpenKey(parent, name, access, &key);
    if (status != ERROR_SUCCESS) return status;
    m_key = key;
    m_owned = true;
    m_viewFlags = access & kViewFlags;
    return ERROR_SUCCESS;
}

LSTATUS RegKey::Create(HKEY parent, const wchar_t* name, REGSAM access) noexcept {
    Close();
    HKEY key = nullptr;
    const LSTATUS status = m_access->CreateKey(parent, name, access, &key);
    if (status != ERROR_SUCCESS) return status;
    m_key = key;
    m_owned = true;
    m_viewFlags = access & kViewFlags;
    return ERROR_SUCCESS;
}

void RegKey::Close() noexcept {
    if (m_key && m_owned) m_access->CloseKey(m_key);
    m_key = nullptr;
    m_viewFlags = 0;
}

LSTATUS RegKey::DeleteKeyTree(const wchar_t* name) noexcept {
    RegKey key(*m_access);
    LSTATUS status = key.Open(m_key, name, KEY_READ | KEY_WRITE | m_viewFlags);
    if (status != ERROR_SUCCESS) return status;
    for (;;) {
        wchar_t subkey[256];
        DWORD length = ARRAYSIZE(subkey);
        status = m_access->EnumKey(key.get(), 0, subkey, &length);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        status = key.DeleteKeyTree(subkey);
        if (status != ERROR_SUCCESS) return status;
    }
    key.Close();
    return m_access->DeleteKey(m_key, name, m_viewFlags);
}

bool RegKey::KeyHasSubkeys() noexcept {
    DWORD count = 0;
    return m_access->QuerySubkeyCount(m_key, &count) == ERROR_SUCCESS && count > 0;
}
