#include "storetool/password_copies.h"

#include "storetool/audit_trail.h"
#include "storetool/issued_launches.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/tool_output.h"
#include "templates/catalog.h"

namespace {

// Copies the password of `from` to `to` under the user name of `owner`.
bool CopyPassword(const std::wstring& from, const VaultEntry& owner, const std::wstring& to, std::string* failure) {
    VaultEntry read;
    SecretText password;
    if (!ReadVaultCredential(from, &read, &password)) {
        *failure = Narrow(from) + " cannot be read";
        return false;
    }
    DWORD error = 0;
    if (!WriteVaultCredential(to, owner.userName, password, owner.persist, &error)) {
        *failure = Narrow(to) + " could not be written (error " + std::to_string(error) + ")";
        return false;
    }
    return true;
}

// The credential holds a new password: nothing said of the old one stands against it.
void NewPasswordSet(const std::wstring& target) {
    if (ClearRefusal(target)) AuditRefusalLifted(target, RefusalLifted::CredentialSetAnew);
    ForgetLaunchesOf(target);
}

}  // namespace

bool AdoptPendingPassword(const VaultEntry& current, std::string* failure) {
    const std::wstring& target = current.target;
    const std::wstring pending = target + kPendingSuffix, previous = target + kPreviousSuffix;
    // In this order, so that at every step each password is held somewhere.
    if (!CopyPassword(target, current, previous, failure)) return false;
    if (!CopyPassword(pending, current, target, failure)) {
        *failure += "; the current password stays in " + Narrow(target) + ", the new one in " + Narrow(pending);
        return false;
    }
    DWORD error = 0;
    DeleteVaultCredential(pending, &error);
    NewPasswordSet(target);
    return true;
}

bool RestorePreviousPassword(const VaultEntry& current, std::string* failure) {
    const std::wstring previous = current.target + kPreviousSuffix;
    if (!CopyPassword(previous, current, current.target, failure)) return false;
    DWORD error = 0;
    DeleteVaultCredential(previous, &error);
    NewPasswordSet(current.target);
    return true;
}

void DropPendingPassword(const std::wstring& target) {
    DWORD error = 0;
    DeleteVaultCredential(target + kPendingSuffix, &error);
}

void ForgetPreviousPassword(const std::wstring& target) {
    DWORD error = 0;
    DeleteVaultCredential(target + kPreviousSuffix, &error);
}
