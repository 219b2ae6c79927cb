// Where the catalog comes from: --catalog FILE, else the policy value Catalog (REG_SZ, usually a
// UNC path on a file share) under HKLM\Software\Policies\Zorvanti\VelnorIE, else the same under
// HKCU. Shared by the cred, catalog and launch commands.
#pragma once

#include "storetool/commands.h"
#include "templates/catalog.h"

#include <windows.h>

#include <string>
#include <vector>

constexpr wchar_t kCatalogValue[] = L"Catalog";

// Takes "--NAME VALUE" out of the arguments. False when the option is absent; *wrong is set when
// it is given without a value or twice.
bool TakeOption(Arguments& arguments, const wchar_t* name, std::wstring* value, bool* wrong);
// Takes a switch ("--NAME") out of the arguments.
bool TakeSwitch(Arguments& arguments, const wchar_t* name);
// Takes "--NAME SECONDS" out of the arguments: a whole number from 1 to `most`; another value is
// named in a message and sets *bad (the command then ends with exit code 2). False when the
// option is absent (*seconds untouched); *wrong as for TakeOption.
bool TakeSeconds(Arguments& arguments, const wchar_t* name, long long most, long long* seconds, bool* wrong, bool* bad);

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
