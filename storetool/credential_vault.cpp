#include "storetool/credential_vault.h"

#include <windows.h>
#include <wincred.h>

#include <algorithm>
#include <memory>

namespace {

struct CredentialFree {
    void operator()(void* p) const { CredFree(p); }
};

bool StartsWithNoCase(const wchar_t* text, const std::wstring& prefix) {
    const size_t length = wcslen(text);
    if (length < prefix.size()) return false;
    return CompareStringOrdinal(text, static_cast<int>(prefix.size()), prefix.c_str(), static_cast<int>(prefix.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

bool WriteVaultCredential(const std::wstring& target, const std::wstring& userName, const SecretText& password,
                          DWORD persist, DWORD* error) {
    *error = ERROR_SUCCESS;
    if (password.size() > kMaxPasswordUnits) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.UserName = const_cast<wchar_t*>(userName.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password.data()));
    credential.Persist = persist;
    if (CredWriteW(&credential, 0)) return true;
    *error = GetLastError();
    return false;
}

std::vector<VaultEntry> ListVaultCredentials(const std::wstring& prefix) {
    std::vector<VaultEntry> entries;
    DWORD count = 0;
    PCREDENTIALW* list = nullptr;
    // Filtered here rather than by the filter argument, whose wildcard rules differ between
    // Windows versions.
    if (!CredEnumerateW(nullptr, 0, &count, &list)) return entries;
    std::unique_ptr<void, CredentialFree> owner(list);
    for (DWORD i = 0; i < count; ++i) {
        const CREDENTIALW* credential = list[i];
        if (credential->Type != CRED_TYPE_GENERIC || !credential->TargetName) continue;
        if (!StartsWithNoCase(credential->TargetName, prefix)) continue;
        entries.push_back({credential->TargetName, credential->UserName ? credential->UserName : L"", credential->Persist,
                           credential->LastWritten});
    }
    std::sort(entries.begin(), entries.end(),
              [](const VaultEntry& a, const VaultEntry& b) { return _wcsicmp(a.target.c_str(), b.target.c_str()) < 0; });
    return entries;
}

bool ReadVaultCredential(const std::wstring& target, VaultEntry* entry, SecretText* password) {
    PCREDENTIALW credential = nullptr;
    if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &credential)) return false;
    std::unique_ptr<void, CredentialFree> owner(credential);
    entry->target = credential->TargetName ? credential->TargetName : target;
    entry->userName = credential->UserName ? credential->UserName : L"";
    entry->persist = credential->Persist;
    entry->written = credential->LastWritten;
    password->Clear();
    const size_t units = credential->CredentialBlobSize / sizeof(wchar_t);
    if (credential->CredentialBlob && units) password->Append(reinterpret_cast<const wchar_t*>(credential->CredentialBlob), units);
    // The copy CredReadW made is ours to clear before it goes back to the heap.
    if (credential->CredentialBlob) SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    return true;
}

bool DeleteVaultCredential(const std::wstring& target, DWORD* error) {
    *error = ERROR_SUCCESS;
    if (CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0)) return true;
    *error = GetLastError();
    return false;
}
