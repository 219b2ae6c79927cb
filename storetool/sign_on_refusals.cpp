#include "storetool/sign_on_refusals.h"

#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/audit_trail.h"
#include "storetool/issued_launches.h"
#include "storetool/password_copies.h"
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

bool ClearRefusal(const std::wstring& target) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRefusedKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.get(), target.c_str()) == ERROR_SUCCESS;
}

bool IsRefused(const VaultEntry& credential, long long* since) {
    RefusalNote note;
    if (!ReadNote(credential.target, &note)) return false;
    if (!SameTime(note.written, credential.written)) {
        // Written anew since (Credential Manager's own dialog, another program): a new password.
        if (ClearRefusal(credential.target)) AuditRefusalLifted(credential.target, RefusalLifted::CredentialSetAnew);
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
    // A record counts only for a sign-on launched here and told by its own site: any page can
    // write one, naming any credential.
    for (const TrustedOutcome& outcome : TrustedOutcomes(outcomes, IssuedLaunches(), SecondsSince1970())) {
        const std::wstring& target = outcome.launch.credential;
        if (outcome.record.outcome != kOutcomeSubmitted && !outcome.launch.audited && !outcome.launch.passwordChange) {
            AuditSignOnOutcome(Utf8ToWide(outcome.record.stamp.origin), outcome.launch.name, target, outcome.record);
            MarkAudited(outcome.launch.id);
        }
        VaultEntry credential;
        const bool exists = FindCredential(target, &credential);
        // A record about a password that has been replaced since says nothing of the new one.
        if (exists && SecondsOf(credential.written) > outcome.record.stamp.at) continue;
        if (outcome.record.outcome == kOutcomeSucceeded && outcome.record.how == kEvidenceSeen &&
            !outcome.launch.passwordChange) {
            ForgetPreviousPassword(target);
            continue;
        }
        // A change the site refused says nothing against the current password, and only a failure
        // the site answered says anything against a password.
        if (outcome.launch.passwordChange || !SiteRefusedPassword(outcome.record)) continue;
        RefusalNote note;
        if (ReadNote(target, &note) && SameTime(note.written, credential.written)) continue;
        NoteRefusal(target);
        AuditRefusalNoted(target, Utf8ToWide(outcome.record.stamp.origin));
        ++noted;
    }
    return noted;
}
