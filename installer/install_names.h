// The installer's fixed names, shared by install and uninstall.
#pragma once

#include <windows.h>

#include <string>

// Each build knows its own file name; on 64-bit Windows the 32-bit build starts its 64-bit
// twin and the 64-bit build looks after the 32-bit one on uninstall.
#if defined(_WIN64)
constexpr wchar_t kThisDllName[] = L"VelnorIEx64.dll";
#else
constexpr wchar_t kThisDllName[] = L"VelnorIEx32.dll";
#endif
constexpr wchar_t kDll32Name[] = L"VelnorIEx32.dll";
constexpr wchar_t kDll64Name[] = L"VelnorIEx64.dll";
constexpr wchar_t kRundll32[] = L"rundll32.exe";
constexpr char kAdminArgument[] = "ADMIN";
constexpr wchar_t kInstallMutexName[] = L"VelnorIE#Install";
constexpr wchar_t kProductFolder[] = L"Zorvanti";
constexpr wchar_t kBackupSuffix[] = L".bak";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelnorIEExt";

// Set by the 32-bit build's elevated run for the 64-bit twin it starts: the twin then leaves
// the closing message to its parent, so that the user sees one message per installation.
constexpr wchar_t kTwinEnvironmentVariable[] = L"VELNORIE_INSTALL_TWIN";

// "%ProgramW6432%\Zorvanti" on 64-bit Windows (for both builds), "%ProgramFiles%\Zorvanti"
// on 32-bit Windows.
std::wstring GetInstallFolder(bool wow64Process);

// The backup path in the temporary folder: "<temp>\<file name>.bak".
std::wstring GetBackupPath(const wchar_t* fileName);

// The rundll32.exe that can load the other build from this process: the 64-bit one through
// "Sysnative" from a 32-bit process, the 32-bit one in the WOW64 system folder from a 64-bit
// process. (A plain "rundll32.exe" always resolves to this process's own bitness.)
std::wstring GetTwinRundll32();
