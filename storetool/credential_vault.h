// The user's generic credentials in Windows Credential Manager whose targets start with
// "Velnor:". Passwords are stored as UTF-16 blobs and handed out only as SecretText.
#pragma once

#include "common/secret_text.h"

#include <windows.h>

#include <string>
#include <vector>

struct VaultEntry {
    std::wstring target;
    std::wstring userName;
    DWORD persist = 0;      // CRED_PERSIST_*
    FILETIME written = {};  // when the credential was last written (a new password changes it)
};

// Writes (or replaces) a generic credential. On failure returns false with *error the
// Windows error, and nothing is written.
bool WriteVaultCredential(const std::wstring& target, const std::wstring& userName, const SecretText& password,
                          DWORD persist, DWORD* error);

// The user's credentials whose targets start with `prefix` (letter case aside), sorted by
// target. Never the passwords.
std::vector<VaultEntry> ListVaultCredentials(const std::wstring& prefix);

// Reads one credential; *password receives the blob as text. False when there is none.
bool ReadVaultCredential(const std::wstring& target, VaultEntry* entry, SecretText* password);

// False with *error ERROR_NOT_FOUND when there is no such credential.
bool DeleteVaultCredential(const std::wstring& target, DWORD* error);

// The blob limit of Windows 7 and later, which Windows' Credential Manager enforces and Wine's
// does not. (mingw's wincred.h still has the older 512.)
constexpr size_t kCredentialBlobLimit = 5 * 512;
// The largest password (UTF-16 units) a credential can carry.
constexpr size_t kMaxPasswordUnits = kCredentialBlobLimit / sizeof(wchar_t);
