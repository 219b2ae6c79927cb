// The registry-script interpreter: nested key blocks with values, ForceRemove / Delete /
// NoRemove / Val, %variable% replacement and per-user redirection of HKCR root blocks.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

class CRegObject;
class RegKey;
class RegistryAccess;

constexpr size_t kMaxTokenLength = 4094;        // a token's buffer holds 4096 characters
constexpr size_t kTokenBufferSize = 4096;
constexpr size_t kMaxVariableNameLength = 31;
constexpr size_t kMaxDeletedKeyName = 259;
constexpr int kMaxBlockDepth = 512;

class CRegScriptParser {
public:
    CRegScriptParser(CRegObject& registrar, RegistryAccess& registry, bool perUser) noexcept
        : m_registrar(registrar), m_registry(registry), m_perUser(perUser) {}

    // Expands %name% and %% and, in per-user mode, redirects HKCR root blocks to
    // HKCU\Software\Classes. E_POINTER, E_OUTOFMEMORY, DISP_E_EXCEPTION, E_FAIL.
    HRESULT ExpandScript(const wchar_t* text, std::wstring* expanded) const;

    // Runs a whole script. On registration a failing root block is undone; earlier blocks stay.
    HRESULT RunScript(const wchar_t* text, bool doRegister);

    static bool IsProtectedKey(const wchar_t* name);

private:
    HRESULT ReadToken(wchar_t* token);
    void SkipBlanks();
    bool AtEnd() const { return m_position >= m_text.size(); }
    HRESULT ProcessKeyBlock(wchar_t* token, RegKey& parent, bool doRegister, bool parentAbsent);
    HRESULT WriteScriptValue(RegKey& key, const wchar_t* valueName, wchar_t* token);
    HRESULT SkipValueAssignment(wchar_t* token);

    CRegObject& m_registrar;
    RegistryAccess& m_registry;
    bool m_perUser;
    std::wstring m_text;      // the expanded script
    size_t m_position = 0;
    int m_depth = 0;
    std::unique_ptr<wchar_t[]> m_valueName;   // second token buffer, for Val names
};
