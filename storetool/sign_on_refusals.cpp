#include "storetool/sign_on_refusals.h"

#include "common/text.h"
#include "common/unique_owner.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"

#include <windows.h>

namespace {

constexpr wchar_t kRefusedKey[] = L"Software\\Zorvanti\\VelnorIE\\Refused";

// The value of a note: the credential's LastWritten when it was refused, and when that was.
struct RefusalNote {
    FILETIME written;
    long long noted;
};

long long SecondsOf(const FILETIME& time) {
    ULARGE_INTEGER units;
    units.LowPart = time.dwLowDateTime;
    units.HighPart = time.dwHighDateTime;
    // 100-ns units since 1601; 11,644,473,600 seconds lie between 1601 and 1970.
    return units.QuadPart ? static_cast<long long>(units.QuadPart / 10000000ULL) - 11644473600LL : 0;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool ReadNote(const std::wstring& target, RefusalNote* note) {
    DWORD bytes = sizeof(*note), type = 0;
    return RegGetValueW(HKEY_CURRENT_USER, kRefusedKey, target.c_str(), RRF_RT_REG_BINARY, &type, note, &bytes) ==
               ERROR_SUCCESS &&
           bytes == sizeof(*note);
}

// The credential of that target as Credential Manager lists it (no password read).
bool FindCredential(const std::wstring& target, VaultEntry* found) {
    for (const VaultEntry& entry : ListVaultCredentials(target))
        if (_wcsicmp(entry.target.c_str(), target.c_str()) == 0) {
            *found = entry;
            return true;
        }
    return false;
}

}  // namespace

void NoteRefusal(const std::wstring& target) {
    VaultEntry credential;
    RefusalNote note = {};
    if (FindCredential(target, &credential)) note.written = credential.written;
    note.noted = SecondsSince1970();
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRefusedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key.get(), target.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&note), sizeof(note));
}

void ClearRefusal(const std::wstring& target) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRefusedKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(key.get(), target.c_str());
}

bool IsRefused(const VaultEntry& credential, long long* since) {
    RefusalNote note;
    if (!ReadNote(credential.target, &note)) return false;
    if (!SameTime(note.written, credential.written)) {
        // Written anew since (Credential Manager's own dialog, another program): a new password.
        ClearRefusal(credential.target);
        return false;
    }
    *since = note.noted;
    return true;
}

int NoteRefusalsInStore(const TemplateStore& store) {
    std::vector<SignOnOutcome> outcomes;
    {
        const TemplateStore::View view = store.Access();
        if (!view) return 0;
        outcomes = OutcomesOf(ReadStoreRecords(std::wstring_view(view.Text(), view.TextLength())));
    }
    int noted = 0;
    for (const SignOnOutcome& outcome : outcomes) {
        // A change the site refused says nothing against the current password.
        if (outcome.outcome != kOutcomeFailed || outcome.credential.empty() || outcome.passwordChange) continue;
        const std::wstring target = Utf8ToWide(outcome.credential);
        VaultEntry credential;
        // A record about a password that has been replaced since says nothing of the new one.
        if (FindCredential(target, &credential) && SecondsOf(credential.written) > outcome.at) continue;
        RefusalNote note;
        if (ReadNote(target, &note) && SameTime(note.written, credential.written)) continue;
        NoteRefusal(target);
        ++noted;
    }
    return noted;
}
