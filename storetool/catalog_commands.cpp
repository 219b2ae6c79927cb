// The catalog group: where the catalog comes from (option or policy) and "catalog", which shows
// its entries with the credentials this user has for them.
#include "storetool/catalog_source.h"

#include "common/text.h"
#include "common/unique_owner.h"
#include "logging/settings.h"
#include "storetool/credential_vault.h"
#include "storetool/tool_output.h"

#include <windows.h>
#include <wincred.h>

namespace {

bool ReadPolicyValue(HKEY root, std::wstring* value) {
    DWORD type = 0, bytes = 0;
    BYTE* raw = nullptr;
    if (!QueryPolicyValue(root, kCatalogValue, &type, &bytes, &raw)) return false;
    unique_localmem data(raw);
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes < sizeof(wchar_t) || bytes > 65536) return false;
    const wchar_t* units = reinterpret_cast<const wchar_t*>(raw);
    std::wstring text(units, wcsnlen(units, bytes / sizeof(wchar_t)));
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[32768];
        const DWORD length = ExpandEnvironmentStringsW(text.c_str(), expanded, ARRAYSIZE(expanded));
        if (length == 0 || length > ARRAYSIZE(expanded)) return false;
        text = expanded;
    }
    if (text.empty()) return false;
    *value = text;
    return true;
}

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

bool TakeOption(Arguments& arguments, const wchar_t* name, std::wstring* value, bool* wrong) {
    bool found = false;
    for (size_t i = 0; i < arguments.size();) {
        if (arguments[i] != name) {
            ++i;
            continue;
        }
        if (found || i + 1 >= arguments.size()) *wrong = true;
        if (i + 1 < arguments.size()) {
            *value = arguments[i + 1];
            arguments.erase(arguments.begin() + i, arguments.begin() + i + 2);
        } else {
            arguments.erase(arguments.begin() + i);
        }
        found = true;
    }
    return found;
}

bool TakeSeconds(Arguments& arguments, const wchar_t* name, long long most, long long* seconds, bool* wrong, bool* bad) {
    std::wstring text;
    if (!TakeOption(arguments, name, &text, wrong)) return false;
    wchar_t* end = nullptr;
    const long long value = wcstoll(text.c_str(), &end, 10);
    if (text.empty() || *end || value < 1 || value > most) {
        Err(Narrow(name) + " takes a whole number of seconds from 1 to " + std::to_string(most) + "\n");
        *bad = true;
        return true;
    }
    *seconds = value;
    return true;
}

bool TakeSwitch(Arguments& arguments, const wchar_t* name) {
    bool found = false;
    for (size_t i = 0; i < arguments.size();) {
        if (arguments[i] == name) {
            arguments.erase(arguments.begin() + i);
            found = true;
        } else {
            ++i;
        }
    }
    return found;
}

bool LocateCatalog(const std::wstring& given, std::wstring* path, std::string* source) {
    path->clear();
    if (!given.empty()) {
        *path = given;
        *source = "--catalog";
        return true;
    }
    if (ReadPolicyValue(HKEY_LOCAL_MACHINE, path)) {
        *source = "policy, HKLM";
        return true;
    }
    if (ReadPolicyValue(HKEY_CURRENT_USER, path)) {
        *source = "policy, HKCU";
        return true;
    }
    return false;
}

bool LoadCatalog(const std::wstring& given, LoadedCatalog* catalog, bool quiet) {
    if (!LocateCatalog(given, &catalog->path, &catalog->source)) {
        if (!quiet)
            Err("no catalog is configured: give --catalog FILE, or set the policy value Catalog (REG_SZ) under "
                "HKLM\\Software\\Policies\\Zorvanti\\VelnorIE to the catalog's path\n");
        return false;
    }
    const std::string where = Narrow(catalog->path);
    std::string bytes;
    if (!ReadTextFile(catalog->path.c_str(), bytes)) {
        Err(where + ": the catalog (" + catalog->source + ") cannot be read: check that the file or its share is "
                    "reachable from this machine\n");
        return false;
    }
    const std::vector<std::string> problems = CheckCatalogText(bytes);
    if (!problems.empty()) {
        for (const std::string& problem : problems) Err(where + ": " + problem + "\n");
        Err(where + ": the catalog is not valid; its administrator can see why with VelnorSSOStore check --catalog " +
            where + "\n");
        return false;
    }
    catalog->entries = ReadCatalog(bytes);
    return true;
}

const CatalogEntry* FindCatalogEntry(const LoadedCatalog& catalog, const std::string& name) {
    for (const CatalogEntry& entry : catalog.entries)
        if (entry.name == name) return &entry;
    return nullptr;
}

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
