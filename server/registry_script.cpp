#include "server/registry_script.h"

#include "common/hresult.h"
#include "server/registrar.h"
#include "server/registry_access.h"

#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct RootKeyName {
    const wchar_t* name;
    HKEY key;
};

const RootKeyName kRootKeys[] = {
    {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},
    {L"HKPD", HKEY_PERFORMANCE_DATA},
    {L"HKDD", HKEY_DYN_DATA},
    {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const wchar_t* const kProtectedKeys[] = {
    L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime", L"SAM", L"SECURITY", L"SYSTEM", L"Software", L"TypeLib",
};

const wchar_t kPerUserPrefix[] = L"HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses";
const wchar_t kPerUserSuffix[] = L"\r\n\t}\r\n}\r\n";

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

// Letter case of A-Z ignored, everything else exact: script keywords are ASCII.
bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

bool IsBlank(wchar_t c) { return c == L'\t' || c == L'\n' || c == L'\r' || c == L' '; }

bool HasBackslash(const wchar_t* name) { return wcschr(name, L'\\') != nullptr; }

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return 0;   // not a hex digit: counts as 0
}

HRESULT FromStatus(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

}  // namespace

bool CRegScriptParser::IsProtectedKey(const wchar_t* name) {
    for (const wchar_t* protectedName : kProtectedKeys)
        if (EqualsNoCase(name, protectedName)) return true;
    return false;
}

HRESULT CRegScriptParser::ExpandScript(const wchar_t* text, std::wstring* expanded) const {
    if (!text || !expanded) return E_POINTER;
    try {
        std::wstring out;
        const size_t length = wcslen(text);
        out.reserve(2 * length < 100 ? 1000 : 2 * length);
        int depth = 0;
        bool inQuotes = false;
        bool redirected = false;
        for (size_t i = 0; i < length;) {
            const wchar_t c = text[i];
            if (m_perUser && depth == 0 && wcsncmp(text + i, L"HKCR", 4) == 0) {
                out += kPerUserPrefix;
                redirected = true;
                i += 4;
                continue;
            }
            if (c == L'%') {
                if (text[i + 1] == L'%') {
                    out += L'%';
                    i += 2;
                    continue;
                }
                const wchar_t* nameStart = text + i + 1;
                const wchar_t* nameEnd = wcschr(nameStart, L'%');
                if (!nameEnd) return DISP_E_EXCEPTION;
                const size_t nameLength = static_cast<size_t>(nameEnd - nameStart);
                if (nameLength > kMaxVariableNameLength) return E_FAIL;
                const std::wstring* value = m_registrar.FindVariable(nameStart, nameLength);
                if (!value) return DISP_E_EXCEPTION;
                out += *value;
                i += nameLength + 2;
                continue;
            }
            if (c == L'\'') {
                inQuotes = !inQuotes;
            } else if (!inQuotes && c == L'{') {
                ++depth;
            } else if (!inQuotes && c == L'}') {
                if (depth == 1 && redirected) {
                    out += kPerUserSuffix;
                    redirected = false;
                }
                if (depth > 0) --depth;
            }
            out += c;
            ++i;
        }
        *expanded = std::move(out);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void CRegScriptParser::SkipBlanks() {
    while (!AtEnd() && IsBlank(m_text[m_position])) ++m_position;
}

HRESULT CRegScriptParser::ReadToken(wchar_t* token) {
    SkipBlanks();
    if (AtEnd()) return DISP_E_EXCEPTION;
    size_t length = 0;
    auto append = [&](wchar_t c) {
        if (length >= kMaxTokenLength) return false;
        token[length++] = c;
        return true;
    };
    if (m_text[m_position] == L'\'') {
        ++m_position;
        for (;;) {
            if (AtEnd()) return DISP_E_EXCEPTION;
            const wchar_t c = m_text[m_position];
            if (c == L'\'') {
                if (m_position + 1 < m_text.size() && m_text[m_position + 1] == L'\'') {
                    if (!append(L'\'')) return DISP_E_EXCEPTION;
                    m_position += 2;
                    continue;
                }
                ++m_position;
                break;
            }
            if (!append(c)) return DISP_E_EXCEPTION;
            ++m_position;
        }
    } else {
        while (!AtEnd() && !IsBlank(m_text[m_position])) {
            if (!append(m_text[m_position])) return DISP_E_EXCEPTION;
            ++m_position;
        }
    }
    token[length] = L'\0';
    return S_OK;
}

HRESULT CRegScriptParser::SkipValueAssignment(wchar_t* token) {
    if (wcscmp(token, L"=") != 0) return S_OK;
    for (int i = 0; i < 3; ++i) RETURN_IF_FAILED(ReadToken(token));
    return S_OK;
}

HRESULT CRegScriptParser::RunScript(const wchar_t* text, bool doRegister) {
    std::wstring expanded;
    RETURN_IF_FAILED(ExpandScript(text, &expanded));
    m_text = std::move(expanded);
    m_position = 0;

    std::unique_ptr<wchar_t[]> token(new (std::nothrow) wchar_t[kTokenBufferSize]);
    m_valueName.reset(new (std::nothrow) wchar_t[kTokenBufferSize]);
    if (!token || !m_valueName) return E_OUTOFMEMORY;
    m_depth = 0;
    HRESULT hr = S_OK;
    SkipBlanks();
    while (!AtEnd()) {
        RETURN_IF_FAILED(ReadToken(token.get()));
        HKEY root = nullptr;
        for (const RootKeyName& entry : kRootKeys)
            if (EqualsNoCase(token.get(), entry.name)) {
                root = entry.key;
                break;
            }
        if (!root) return DISP_E_EXCEPTION;
        RETURN_IF_FAILED(ReadToken(token.get()));
        if (wcscmp(token.get(), L"{") != 0) return DISP_E_EXCEPTION;

        RegKey rootKey(m_registry, root);
        if (doRegister) {
            const size_t blockStart = m_position;
            hr = ProcessKeyBlock(token.get(), rootKey, true, false);
            if (FAILED(hr)) {
                // Undo what this block wrote before it failed.
                m_position = blockStart;
                ProcessKeyBlock(token.get(), rootKey, false, false);
                return hr;
            }
        } else {
            hr = ProcessKeyBlock(token.get(), rootKey, false, false);
            if (FAILED(hr)) return hr;
        }
        SkipBlanks();
    }
    return hr;
}

HRESULT CRegScriptParser::ProcessKeyBlock(wchar_t* token, RegKey& parent, bool doRegister,
                                          bool parentAbsent) {
    // The registry itself nests keys at most 512 deep; a deeper script is malformed, and
    // refusing it keeps the recursion from exhausting the thread's stack.
    if (m_depth >= kMaxBlockDepth) return DISP_E_EXCEPTION;
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } depthGuard(m_depth);
    RETURN_IF_FAILED(ReadToken(token));
    while (wcscmp(token, L"}") != 0) {
        bool removable = true;
        RegKey key(m_registry);
        bool deleteEntry = false;

        const bool forceRemove = EqualsNoCase(token, L"ForceRemove");
        const bool deleteKeyword = EqualsNoCase(token, L"Delete");
        if (forceRemove || deleteKeyword) {
            RETURN_IF_FAILED(ReadToken(token));
            if (doRegister) {
                if (HasBackslash(token)) return DISP_E_EXCEPTION;
                if (!IsProtectedKey(token)) parent.DeleteKeyTree(token);
                if (deleteKeyword) {
                    RETURN_IF_FAILED(ReadToken(token));
                    RETURN_IF_FAILED(SkipValueAssignment(token));
                    deleteEntry = true;
                }
            }
        }

        if (!deleteEntry) {
            if (EqualsNoCase(token, L"NoRemove")) {
                removable = false;
                RETURN_IF_FAILED(ReadToken(token));
            }

            if (EqualsNoCase(token, L"Val")) {
                wchar_t* valueName = m_valueName.get();
                RETURN_IF_FAILED(ReadToken(valueName));
                RETURN_IF_FAILED(ReadToken(token));
                if (wcscmp(token, L"=") != 0) return DISP_E_EXCEPTION;
                if (doRegister) {
                    RETURN_IF_FAILED(WriteScriptValue(parent, valueName, token));
                    continue;
                }
                if (!parentAbsent && removable) {
                    RegKey writable(m_registry);
                    const LSTATUS status = writable.Open(parent.get(), nullptr, KEY_WRITE);
                    if (status != ERROR_SUCCESS) return FromStatus(status);
                    const LSTATUS deleted = m_registry.DeleteValue(writable.get(), valueName);
                    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
                        return FromStatus(deleted);
                }
                RETURN_IF_FAILED(SkipValueAssignment(token));
                continue;
            }

            if (HasBackslash(token)) return DISP_E_EXCEPTION;

            if (!doRegister) {
                bool missing = parentAbsent;
                LSTATUS openStatus = ERROR_SUCCESS;
                if (!parentAbsent) {
                    openStatus = key.Open(parent.get(), token, KEY_READ);
                    missing = openStatus != ERROR_SUCCESS;
                }
                // The name is kept from a 260-character copy, as deletion has always used it.
                std::wstring keyName;
                try {
                    keyName.assign(token, std::min(wcslen(token), kMaxDeletedKeyName));
                } catch (...) {
                    return E_OUTOFMEMORY;
                }
                RETURN_IF_FAILED(ReadToken(token));
                RETURN_IF_FAILED(SkipValueAssignment(token));
                if (wcscmp(token, L"{") == 0) {
                    const HRESULT nested = ProcessKeyBlock(token, key, false, missing);
                    if (FAILED(nested) && !missing) return nested;
                    RETURN_IF_FAILED(ReadToken(token));
                }
                if (missing) {
                    if (openStatus != ERROR_SUCCESS && openStatus != ERROR_FILE_NOT_FOUND)
                        return FromStatus(openStatus);
                    continue;
                }
                const bool hasSubkeys = key.KeyHasSubkeys();
                key.Close();
                if (removable && !hasSubkeys) {
                    const LSTATUS status = m_registry.DeleteKey(parent.get(), keyName.c_str(), 0);
                    if (status != ERROR_SUCCESS) return FromStatus(status);
                }
                continue;
            }

            if (key.Open(parent.get(), token, KEY_READ | KEY_WRITE) != ERROR_SUCCESS &&
                key.Open(parent.get(), token, KEY_READ) != ERROR_SUCCESS) {
                const LSTATUS status = key.Create(parent.get(), token, KEY_READ | KEY_WRITE);
                if (status != ERROR_SUCCESS) return FromStatus(status);
            }
            RETURN_IF_FAILED(ReadToken(token));
            if (wcscmp(token, L"=") == 0) RETURN_IF_FAILED(WriteScriptValue(key, nullptr, token));
        }

        if (wcscmp(token, L"{") == 0) {
            RETURN_IF_FAILED(ProcessKeyBlock(token, key, true, false));
            RETURN_IF_FAILED(ReadToken(token));
        }
    }
    return S_OK;
}

HRESULT CRegScriptParser::WriteScriptValue(RegKey& key, const wchar_t* valueName, wchar_t* token) {
    RETURN_IF_FAILED(ReadToken(token));
    wchar_t type = 0;
    if (token[0] != L'\0' && token[1] == L'\0') type = AsciiLower(token[0]);
    if (type != L's' && type != L'm' && type != L'd' && type != L'b') return DISP_E_EXCEPTION;
    SkipBlanks();
    RETURN_IF_FAILED(ReadToken(token));

    LSTATUS status = ERROR_SUCCESS;
    const size_t length = wcslen(token);
    switch (type) {
    case L's':
        status = m_registry.SetValue(key.get(), valueName, REG_SZ, reinterpret_cast<const BYTE*>(token),
                                     static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
        break;
    case L'm': {
        std::vector<wchar_t> list;
        try {
            list.reserve(length + 2);
            for (size_t i = 0; i < length; ++i) {
                if (token[i] == L'\\' && token[i + 1] == L'0') {
                    list.push_back(L'\0');
                    ++i;
                } else {
                    list.push_back(token[i]);
                }
            }
            list.push_back(L'\0');
            list.push_back(L'\0');
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        status = m_registry.SetValue(key.get(), valueName, REG_MULTI_SZ,
                                     reinterpret_cast<const BYTE*>(list.data()),
                                     static_cast<DWORD>(list.size() * sizeof(wchar_t)));
        break;
    }
    case L'd': {
        ULONG number = 0;
        RETURN_IF_FAILED(VarUI4FromStr(token, 0, 0, &number));
        const DWORD data = number;
        status = m_registry.SetValue(key.get(), valueName, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&data), sizeof(data));
        break;
    }
    case L'b': {
        if (length % 2 != 0) return E_FAIL;
        std::vector<BYTE> bytes;
        try {
            bytes.resize(length / 2);
        } catch (...) {
            return E_FAIL;
        }
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<BYTE>((HexDigit(token[2 * i]) << 4) | HexDigit(token[2 * i + 1]));
        status = m_registry.SetValue(key.get(), valueName, REG_BINARY, bytes.data(),
                                     static_cast<DWORD>(bytes.size()));
        break;
    }
    }
    if (status != ERROR_SUCCESS) return FromStatus(status);
    return ReadToken(token);
}
