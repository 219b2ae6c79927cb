// The registry operations the script interpreter needs, and nothing more. The interpreter runs
// on the system registry in the product, and on an in-memory registry with the same key and
// value semantics in unit tests.
#pragma once

#include <windows.h>

class RegistryAccess {
public:
    virtual ~RegistryAccess() = default;
    virtual LSTATUS OpenKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) = 0;
    virtual LSTATUS CreateKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) = 0;
    virtual LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) = 0;
    virtual LSTATUS DeleteValue(HKEY key, const wchar_t* name) = 0;
    virtual LSTATUS QuerySubkeyCount(HKEY key, DWORD* count) = 0;
    // name receives at most *length - 1 characters; ERROR_MORE_DATA when the name is longer.
    virtual LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) = 0;
    // Deletes a key without subkeys; viewFlags are KEY_WOW64_64KEY / KEY_WOW64_32KEY bits.
    virtual LSTATUS DeleteKey(HKEY parent, const wchar_t* name, REGSAM viewFlags) = 0;
    virtual LSTATUS CloseKey(HKEY key) = 0;
};

// The Windows registry.
RegistryAccess& SystemRegistry();

// An open key of some RegistryAccess, with the view flags it was opened with. Closing a key
// object that holds no handle does nothing.
class RegKey {
public:
    explicit RegKey(RegistryAccess& access) noexcept : m_access(&access) {}
    RegKey(RegistryAccess& access, HKEY root) noexcept : m_access(&access), m_key(root), m_owned(false) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    HKEY get() const noexcept { return m_key; }
    RegistryAccess& access() const noexcept { return *m_access; }

    LSTATUS Open(HKEY parent, const wchar_t* name, REGSAM access) noexcept;
    LSTATUS Create(HKEY parent, const wchar_t* name, REGSAM access) noexcept;
    void Close() noexcept;

    // Deletes `name` beneath this key with everything below it.
    LSTATUS DeleteKeyTree(const wchar_t* name) noexcept;
    bool KeyHasSubkeys() noexcept;

private:
    RegistryAccess* m_access;
    HKEY m_key = nullptr;
    bool m_owned = true;
    REGSAM m_viewFlags = 0;
};
