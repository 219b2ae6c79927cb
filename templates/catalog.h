// The sign-on catalog: a JSON array of entries that name a sign-on, the page that starts it,
// the Credential Manager target of its credential and a template whose secret fields say where
// their value comes from ("valueFrom") instead of holding it. It holds no secret itself, so it
// can lie on a file share that every user reads. Resolving an entry for one launch gives the
// one-shot template that goes into the store.
#pragma once

#include "templates/password_rules.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// Credential Manager targets of the product start with this; an account of one entry is the
// entry's target, "#" and a suffix ("Velnor:app#alice").
constexpr wchar_t kCredentialPrefix[] = L"Velnor:";
constexpr wchar_t kAccountSeparator = L'#';

// How long a launched template waits for its page when the entry does not say: long enough for
// a cold browser start, short enough that an unused password does not linger in the store.
constexpr long long kDefaultLaunchLifetime = 120;
constexpr long long kMinLaunchLifetime = 10;
constexpr long long kMaxLaunchLifetime = 86400;

struct CatalogEntry {
    std::string name;            // UTF-8, as in the file
    std::wstring launch;         // the address the browser opens
    std::wstring credential;     // "Velnor:..."
    bool enterprise = false;     // "persist": "enterprise": the credential roams with the profile
    long long lifetime = kDefaultLaunchLifetime;   // seconds until the launched template expires
    bool passwordChange = false; // "kind": "passwordChange": the entry changes the password
    // How "change" makes new passwords: the entry's "policy" or "passwordrules", else the
    // default policy.
    PasswordRules policy = RulesOfPolicy(PasswordPolicy());
    nlohmann::json templateValue;
};

// Where a password about to replace the current one waits until the site has taken it: the
// account's target with this suffix ("Velnor:app#pending", "Velnor:app#bob#pending").
constexpr wchar_t kPendingSuffix[] = L"#pending";
bool IsPendingTarget(const std::wstring& target);
// Where the password a change replaced waits until a sign-on with the new one succeeded.
constexpr wchar_t kPreviousSuffix[] = L"#previous";
bool IsPreviousTarget(const std::wstring& target);

// One message per problem of a catalog text given as UTF-8 (its templates checked by the
// template checker, a catalog that carries a password refused); empty when it is valid.
std::vector<std::string> CheckCatalogText(const std::string& utf8);
// Warnings that do not make it invalid (a launch address its own template does not match).
std::vector<std::string> CatalogWarnings(const std::string& utf8);

// Whether a text is meant as a catalog rather than a template file: a JSON array whose object
// entries carry "template".
bool LooksLikeCatalog(const std::string& utf8);

// The entries of a catalog text that CheckCatalogText found valid; throws what the JSON reader
// throws for any other text.
std::vector<CatalogEntry> ReadCatalog(const std::string& utf8);

// What one launch fills into an entry's template.
struct LaunchFill {
    std::wstring userName;
    std::wstring passwordToken;      // stands for the password (and a Basic action's)
    std::wstring newPasswordToken;   // stands for the new password of a change
    std::wstring launchId;
    std::wstring credential;         // the target of the credential used
    long long expires = 0;
};

// The entry's template for one launch, as compact JSON: every "valueFrom": "username" filled
// with userName, every "valueFrom": "password" (and the password of a Basic action that says
// "valueFrom": "credential") written as the JSON string passwordToken, every "valueFrom":
// "newPassword" as newPasswordToken, which the caller replaces with the passwords in memory of
// its own; "expires" (seconds since 1970 UTC), "launchId", "name", "credential" and for a
// password change "kind" added (an outcome record carries the last four). The tokens must be texts that cannot occur in a catalog.
std::wstring ResolveLaunchTemplate(const CatalogEntry& entry, const LaunchFill& fill);

// The password change entry of the same credential as `login`, or null.
const CatalogEntry* ChangeEntryFor(const std::vector<CatalogEntry>& entries, const CatalogEntry& login);

// Whether a Credential Manager target is the entry's (its target, or one of its accounts; never
// a pending new password or a previous one kept after a change).
bool IsAccountOf(const std::wstring& target, const std::wstring& entryTarget);
