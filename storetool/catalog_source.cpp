#include "storetool/catalog_source.h"

#include "common/unique_owner.h"
#include "logging/settings.h"
#include "storetool/tool_output.h"

#include <cwchar>

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

}  // namespace

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
