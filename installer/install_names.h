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
constexpr char kQuietArgument[] = "QUIET";
constexpr wchar_t kInstallMutexName[] = L"VelnorIE#Install";
constexpr wchar_t kProductFolder[] = L"Zorvanti";
constexpr wchar_t kBackupSuffix[] = L".bak";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelnorIEExt";

// Set by the 32-bit build's elevated run for the 64-bit twin it starts: the twin then leaves
// the closing message to its parent, so that the user sees one message per installation.
constexpr wchar_t kTwinEnvironmentVariable[] = L"VELNORIE_INSTALL_TWIN";

// "<Program Files>\Zorvanti", with 64-bit Windows's own Program Files folder for both builds
// there (what "%ProgramW6432%" names); empty when the system does not tell.
std::wstring GetInstallFolder(bool wow64Process);

// The backup path in the temporary folder: "<temp>\<file name>.bak"; empty when there is no
// usable temporary folder (the installed file then stays where it is).
std::wstring GetBackupPath(const wchar_t* fileName);

// The rundll32.exe that can load the other build from this process: the 64-bit one through
// "Sysnative" from a 32-bit process, the 32-bit one in the WOW64 system folder from a 64-bit
// process. (A plain "rundll32.exe" always resolves to this process's own bitness.) Empty when
// the system does not tell.
std::wstring GetTwinRundll32();

// Outcome of an installer run, reported as the rundll32 process's exit code.
constexpr DWORD kInstallSucceeded = 0;
constexpr DWORD kInstallFailed = 1;

// Ends a rundll32 process with `code`, so that whoever started it learns the outcome (rundll32
// itself always ends with 0). Called from within any other program, it returns.
void ExitRundll32(DWORD code);

// The words of an installer entry point's command line: "ADMIN" (the elevated run) and "QUIET"
// (no message box), in any order and letter case. A text with any other word is neither, as a
// text other than "ADMIN" always was the launching run's.
struct InstallerSwitches {
    bool admin = false;
    bool quiet = false;
};
InstallerSwitches ParseInstallerSwitches(const char* commandLine);

// Whether this process's window station is the interactive one, where a message box can be
// seen and answered (not so for services and deployment runs as the system account).
bool HasInteractiveDesktop();
