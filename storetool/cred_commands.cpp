// The cred group: the user's sign-on credentials in Windows Credential Manager. A password is
// read from the console without echo or from standard input, never from the command line, and
// never shown.
#include "common/secret_text.h"
#include "common/text.h"
#include "storetool/arguments.h"
#include "storetool/catalog_source.h"
#include "storetool/audit_trail.h"
#include "storetool/credential_vault.h"
#include "storetool/issued_launches.h"
#include "storetool/password_copies.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/tool_output.h"

#include <windows.h>
#include <wincred.h>

namespace {

// One line of standard input. From a console: typed without echo. From a pipe or file: the
// bytes up to the first LF, read one at a time so nothing after the line is consumed, as UTF-8.
bool ReadPassword(const std::wstring& userName, SecretText* password) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        Err("password for " + Narrow(userName) + ": ");
        SetConsoleMode(input, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
        bool ended = false;
        while (!ended) {
            wchar_t unit = 0;
            DWORD read = 0;
            if (!ReadConsoleW(input, &unit, 1, &read, nullptr) || read == 0) break;
            if (unit == L'\r' || unit == L'\n') ended = true;
            else password->Append(unit);
            SecureZeroMemory(&unit, sizeof(unit));
        }
        SetConsoleMode(input, mode);
        Err("\n");
        return true;
    }
    std::vector<char, ZeroingAllocator<char>> bytes;
    for (;;) {
        char byte = 0;
        DWORD read = 0;
        if (!ReadFile(input, &byte, 1, &read, nullptr) || read == 0) break;
        if (byte == '\n') break;
        bytes.push_back(byte);
        SecureZeroMemory(&byte, 1);
    }
    while (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    if (bytes.empty()) return true;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                          nullptr, 0);
    if (units <= 0) return false;
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        password->Extend(units), units);
    if (!bytes.empty()) SecureZeroMemory(bytes.data(), bytes.size());
    return true;
}

bool IsVelnorTarget(const std::wstring& target) {
    const size_t prefix = wcslen(kCredentialPrefix);
    return target.size() > prefix &&
           CompareStringOrdinal(target.c_str(), static_cast<int>(prefix), kCredentialPrefix, static_cast<int>(prefix),
                                TRUE) == CSTR_EQUAL;
}

bool CheckTarget(const std::wstring& target) {
    if (!IsVelnorTarget(target)) {
        Err("the target must start with Velnor: (for example Velnor:intranet, or Velnor:intranet#alice for a second "
            "account)\n");
        return false;
    }
    if (target.size() > CRED_MAX_GENERIC_TARGET_NAME_LENGTH) {
        Err("the target is longer than Credential Manager allows (" +
            std::to_string(CRED_MAX_GENERIC_TARGET_NAME_LENGTH) + " characters)\n");
        return false;
    }
    return true;
}

// A credential roams with the profile (ENTERPRISE) only when the catalog entry it belongs to
// says so; otherwise it stays on this machine.
DWORD PersistenceFor(const std::wstring& target, const std::wstring& givenCatalog) {
    LoadedCatalog catalog;
    if (!LoadCatalog(givenCatalog, &catalog, givenCatalog.empty())) return CRED_PERSIST_LOCAL_MACHINE;
    for (const CatalogEntry& entry : catalog.entries)
        if (IsAccountOf(target, entry.credential) && entry.enterprise) return CRED_PERSIST_ENTERPRISE;
    return CRED_PERSIST_LOCAL_MACHINE;
}

const char* PersistName(DWORD persist) {
    switch (persist) {
    case CRED_PERSIST_SESSION: return "session";
    case CRED_PERSIST_LOCAL_MACHINE: return "local";
    case CRED_PERSIST_ENTERPRISE: return "enterprise";
    default: return "unknown";
    }
}

int Set(Arguments arguments) {
    std::wstring givenCatalog;
    bool wrong = false;
    TakeOption(arguments, L"--catalog", &givenCatalog, &wrong);
    if (wrong || arguments.size() != 2) return kWrongUse;
    const std::wstring& target = arguments[0];
    const std::wstring& userName = arguments[1];
    if (!CheckTarget(target)) return 1;
    if (userName.empty() || userName.size() > CRED_MAX_USERNAME_LENGTH ||
        userName.find_first_of(L"\r\n") != std::wstring::npos) {
        Err("USERNAME must be one line of at most " + std::to_string(CRED_MAX_USERNAME_LENGTH) + " characters\n");
        return 1;
    }
    const DWORD persist = PersistenceFor(target, givenCatalog);
    SecretText password;
    if (!ReadPassword(userName, &password)) {
        Err("the password is not valid UTF-8; nothing was stored\n");
        return 1;
    }
    if (password.empty()) {
        Err("no password was given; nothing was stored\n");
        return 1;
    }
    if (password.size() > kMaxPasswordUnits) {
        Err("the password is longer than Credential Manager keeps (" + std::to_string(kMaxPasswordUnits) +
            " UTF-16 units); nothing was stored\n");
        return 1;
    }
    for (size_t i = 0; i < password.size(); ++i)
        if (password.data()[i] == L'\0' || password.data()[i] == L'\r') {
            // Basic credentials travel as CR-separated records; a CR would split them.
            Err("the password must be one line without control characters CR or NUL; nothing was stored\n");
            return 1;
        }
    DWORD error = 0;
    if (!WriteVaultCredential(target, userName, password, persist, &error)) {
        Err("Credential Manager refused the credential (error " + std::to_string(error) + "); nothing was stored\n");
        return 1;
    }
    // A new password: one the site refused before no longer stands in its way, whatever any
    // record of an earlier sign-on says.
    if (ClearRefusal(target)) AuditRefusalLifted(target, RefusalLifted::CredentialSetAnew);
    ForgetLaunchesOf(target);
    Out("stored credential " + Narrow(target) + " for user " + Narrow(userName) + " (" + PersistName(persist) + ")\n");
    return 0;
}

int List(const Arguments& arguments) {
    if (arguments.size() > 1) return kWrongUse;
    std::wstring prefix = arguments.empty() ? std::wstring(kCredentialPrefix) : arguments[0];
    if (!IsVelnorTarget(prefix) && prefix != kCredentialPrefix) prefix = kCredentialPrefix + prefix;
    const std::vector<VaultEntry> entries = ListVaultCredentials(prefix);
    if (entries.empty()) {
        Out("no credentials " + Narrow(prefix) + "* for this user\n");
        return 0;
    }
    for (const VaultEntry& entry : entries)
        Out(Narrow(entry.target) + "  user " + Narrow(entry.userName) + "  (" + PersistName(entry.persist) + ")\n");
    return 0;
}

int Delete(const Arguments& arguments) {
    if (arguments.size() != 1) return kWrongUse;
    if (!CheckTarget(arguments[0])) return 1;
    DWORD error = 0;
    if (!DeleteVaultCredential(arguments[0], &error)) {
        if (error == ERROR_NOT_FOUND) Err("no credential " + Narrow(arguments[0]) + " for this user\n");
        else Err("Credential Manager refused the deletion (error " + std::to_string(error) + ")\n");
        return 1;
    }
    Out("deleted credential " + Narrow(arguments[0]) + "\n");
    return 0;
}

// After a password change nobody saw answered: the administrator says which password the site
// holds.
int Keep(const Arguments& arguments) {
    if (arguments.size() != 2) return kWrongUse;
    const std::wstring& target = arguments[0];
    const std::wstring& which = arguments[1];
    if (!CheckTarget(target)) return 1;
    VaultEntry current;
    SecretText unused;
    if (!ReadVaultCredential(target, &current, &unused)) {
        Err("no credential " + Narrow(target) + " for this user\n");
        return 1;
    }
    unused.Clear();
    std::string failure;
    if (which == L"current") {
        DropPendingPassword(target);
        Out(Narrow(target) + " keeps its password; the new one of the change was deleted\n");
        return 0;
    }
    if (which == L"new") {
        if (!AdoptPendingPassword(current, &failure)) {
            Err(failure + "\n");
            return 1;
        }
        Out(Narrow(target) + " now holds the new password of the change; the one it replaced stays as " +
            Narrow(target + kPreviousSuffix) + "\n");
        return 0;
    }
    if (which == L"previous") {
        if (!RestorePreviousPassword(current, &failure)) {
            Err(failure + "\n");
            return 1;
        }
        Out(Narrow(target) + " holds its previous password again\n");
        return 0;
    }
    return kWrongUse;
}

int Cred(const Arguments& arguments) {
    if (arguments.empty()) return kWrongUse;
    const Arguments rest(arguments.begin() + 1, arguments.end());
    if (arguments[0] == L"set") return Set(rest);
    if (arguments[0] == L"list") return List(rest);
    if (arguments[0] == L"delete") return Delete(rest);
    if (arguments[0] == L"keep") return Keep(rest);
    return kWrongUse;
}

}  // namespace

const std::vector<ToolCommand>& CredCommands() {
    static const std::vector<ToolCommand> commands = {
        {"cred",
         "  cred set TARGET USERNAME  store your credential for a sign-on (the password is asked for)\n"
         "  cred list [PREFIX]     show your sign-on credentials (targets and user names)\n"
         "  cred delete TARGET     delete one of them\n"
         "  cred keep TARGET new|current|previous\n"
         "                         after a password change: keep the password the site holds\n",
         "usage: VelnorSSOStore cred set TARGET USERNAME [--catalog FILE]\n"
         "       VelnorSSOStore cred list [PREFIX]\n"
         "       VelnorSSOStore cred delete TARGET\n"
         "       VelnorSSOStore cred keep TARGET new|current|previous\n\n"
         "Keeps sign-on credentials in your Windows Credential Manager (generic credentials whose\n"
         "targets start with Velnor:). A catalog entry names its target (\"credential\"); a second\n"
         "account for the same entry is the target, \"#\" and a name: Velnor:intranet#alice.\n\n"
         "set   reads the password from the console without showing it, or when standard input\n"
         "      is not a console, one line from it (a trailing CR and LF are dropped). The password\n"
         "      is never taken from the command line. It stays on this machine unless the catalog\n"
         "      entry of TARGET says \"persist\": \"enterprise\" (then it roams with your profile).\n"
         "list  prints each target with its user name, never a password.\n"
         "delete removes one credential; exit code 1 when there is none.\n"
         "keep  settles a password change: \"new\" makes the new password (TARGET#pending) the\n"
         "      credential and keeps the one it replaces as TARGET#previous; \"current\" deletes the\n"
         "      new one; \"previous\" makes TARGET#previous the credential again.\n",
         Cred},
    };
    return commands;
}
