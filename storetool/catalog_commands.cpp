// The catalog group: where the catalog comes from (option or policy) and "catalog", which shows
// its entries with the credentials this user has for them.
#include "storetool/arguments.h"
#include "storetool/catalog_source.h"

#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/credential_vault.h"
#include "storetool/tool_output.h"

#include <windows.h>
#include <wincred.h>

namespace {

int ShowCatalog(Arguments arguments) {
    std::wstring given;
    bool wrong = false;
    TakeOption(arguments, L"--catalog", &given, &wrong);
    if (wrong || !arguments.empty()) return kWrongUse;
    LoadedCatalog catalog;
    if (!LoadCatalog(given, &catalog)) return 1;
    Out("catalog " + Narrow(catalog.path) + " (" + catalog.source + "): " + std::to_string(catalog.entries.size()) +
        (catalog.entries.size() == 1 ? " entry\n" : " entries\n"));
    const std::vector<VaultEntry> vault = ListVaultCredentials(kCredentialPrefix);
    for (const CatalogEntry& entry : catalog.entries) {
        Out("  " + entry.name + ": " + Narrow(entry.launch) + "\n");
        std::string accounts;
        for (const VaultEntry& credential : vault)
            if (IsAccountOf(credential.target, entry.credential))
                accounts += std::string(accounts.empty() ? "" : ", ") + Narrow(credential.userName) + " (" +
                            Narrow(credential.target) + ")";
        Out("    credential " + Narrow(entry.credential) + ": " +
            (accounts.empty() ? "none for this user: run VelnorSSOStore cred set " + Narrow(entry.credential) + " USERNAME"
                              : accounts) +
            "\n");
    }
    return 0;
}

}  // namespace

const std::vector<ToolCommand>& CatalogCommands() {
    static const std::vector<ToolCommand> commands = {
        {"catalog",
         "  catalog [--catalog FILE]  show the sign-ons of the catalog and your credentials for them\n",
         "usage: VelnorSSOStore catalog [--catalog FILE]\n\n"
         "Shows where the catalog comes from and its entries: each sign-on's name, the address it\n"
         "opens, and which credentials of yours in Credential Manager it can use.\n"
         "The catalog is FILE, else the policy value Catalog (REG_SZ, for example a UNC path on a\n"
         "file share) under HKLM\\Software\\Policies\\Zorvanti\\VelnorIE, else the same under HKCU.\n",
         [](const Arguments& a) { return ShowCatalog(a); }},
    };
    return commands;
}
