// Where the catalog comes from: --catalog FILE, else the policy value Catalog (REG_SZ, usually a
// UNC path on a file share) under HKLM\Software\Policies\Zorvanti\VelnorIE, else the same under
// HKCU. Shared by the cred, catalog, launch and change commands.
#pragma once

#include "storetool/commands.h"
#include "templates/catalog.h"

#include <windows.h>

#include <string>
#include <vector>

constexpr wchar_t kCatalogValue[] = L"Catalog";

struct LoadedCatalog {
    std::wstring path;
    std::string source;   // how it was found, for messages: "--catalog", "policy (HKLM)", "policy (HKCU)"
    std::vector<CatalogEntry> entries;
};

// The catalog path by the order above; false (and *path empty) when none is configured.
bool LocateCatalog(const std::wstring& given, std::wstring* path, std::string* source);

// Locates, reads and checks the catalog. On failure prints what to do and returns false.
// With `quiet`, a catalog that is not configured is no error worth a message (false all the same).
bool LoadCatalog(const std::wstring& given, LoadedCatalog* catalog, bool quiet = false);

// The entry of that name (letter case counts, as in the file), or null.
const CatalogEntry* FindCatalogEntry(const LoadedCatalog& catalog, const std::string& name);
