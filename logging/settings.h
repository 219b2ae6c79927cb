// The product's machine-wide settings under HKLM "SOFTWARE\Pellor", and the small registry
// access layer the log writer and the installer share. Nothing here throws or logs (the log
// writer depends on it); failures give the default or false.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern const wchar_t kSettingsKey[];   // "SOFTWARE\Pellor"

// Reads one value. On success the places the caller gave receive the type, the size in
// bytes and a buffer from LocalAlloc holding the data (the caller frees it with LocalFree).
// Opens the key with RegCreateKeyExW, so a caller with the right leaves an empty key behind.
bool RegQueryKeyValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                      DWORD* type, DWORD* size, BYTE** data);

// REG_SZ, REG_EXPAND_SZ (unexpanded) or the first string of REG_MULTI_SZ; else the default.
std::wstring RegGetKeyStr(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                          const wchar_t* defaultValue);

// REG_SZ as a decimal number (blanks, sign, digits; no digits gives 0; beyond the 32-bit
// range it saturates) or a REG_DWORD of exactly 4 bytes; anything else gives the default.
int RegGetKeyInt(HKEY root, const wchar_t* subKey, const wchar_t* valueName, int defaultValue);

// Writes a REG_SZ, creating the key and its parents. True when written.
bool RegSetKeyStr(HKEY root, const wchar_t* subKey, const wchar_t* valueName, const wchar_t* text);

std::wstring GetInstallPath();   // "InstallPath", empty when unset
// InstallPath + "\logs\", or empty; in an AppContainer the protected tabs' log folder.
std::wstring GetLogFolder();
// The log folder of AppContainer tabs under the folder they may write: its "Zorvanti\logs"
// folder, with a closing backslash (empty for an empty folder). The install folder is not theirs
// to write.
std::wstring ProtectedTabLogFolder(const std::wstring& writeableFolder);
// The folder protected tabs may write (IEGetWriteableFolderPath, else the user's LocalAppData,
// which an AppContainer sees as its own); empty when neither answers.
std::wstring WriteableFolderForProtectedTabs();
int ReadLogLevelSetting();       // "LogLevel", 0 when unset
bool ReadTemplateIsolationSetting();   // "TemplateIsolation" (REG_DWORD) is 1; false when unset

// "TrustedPortals": every non-empty string of a REG_MULTI_SZ (a REG_SZ counts as one); none when
// unset.
std::vector<std::wstring> ReadTrustedPortalsSetting();
