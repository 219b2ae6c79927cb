// The product's machine-wide settings: Group Policy's value under HKLM
// "SOFTWARE\Policies\Zorvanti\VelnorIE" first, the product's own under HKLM "SOFTWARE\Pellor"
// second, the default last, so a machine without policy reads exactly what it always read. Also
// the small registry access layer the log writer and the installer share. Nothing here throws or
// logs (the log writer depends on it); failures give the default or false.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern const wchar_t kSettingsKey[];         // "SOFTWARE\Pellor"
extern const wchar_t kPolicySettingsKey[];   // "SOFTWARE\Policies\Zorvanti\VelnorIE"

// Where a setting in force came from.
enum class SettingOrigin { Policy, ProductKey, Default };
const char* SettingOriginName(SettingOrigin origin);   // "policy", "product key", "default"

// A value under the policy key of HKLM (or of HKCU, for the per-user catalog). The key is only
// opened, never created (an empty key would outlive the GPO that should own it), in the 64-bit
// view from either build: Group Policy writes there. Same contract as RegQueryKeyValue.
bool QueryPolicyValue(HKEY root, const wchar_t* valueName, DWORD* type, DWORD* size, BYTE** data);
// A policy value read as RegGetKeyInt reads one. False when absent or of another type.
bool ReadPolicyInt(HKEY root, const wchar_t* valueName, int* value);

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
// Each reader takes the policy's value when it has one of a type the reader accepts (whatever its
// content: a policy of 0 turns off what the product key turns on), else the product key's, else
// the default; `origin`, when given, receives which. The product key is the caller's own registry
// view's; `view` (KEY_WOW64_32KEY or KEY_WOW64_64KEY) reads another build's, opening the key only.
int ReadLogLevelSetting(SettingOrigin* origin = nullptr, REGSAM view = 0);   // "LogLevel", 0 when unset
// "TemplateIsolation" (REG_DWORD or decimal REG_SZ) is 1; false when unset.
bool ReadTemplateIsolationSetting(SettingOrigin* origin = nullptr, REGSAM view = 0);

// "TrustedPortals": every non-empty string of a REG_MULTI_SZ (a REG_SZ counts as one); none when
// unset. A policy value that holds no string (an empty REG_SZ) is a policy of no portals.
std::vector<std::wstring> ReadTrustedPortalsSetting(SettingOrigin* origin = nullptr, REGSAM view = 0);
