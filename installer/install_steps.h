// The installer's fixed names and the steps install and uninstall share: where the product goes,
// taking an installed copy out, the other build's rundll32, the switches of an entry point.
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

// Takes an installed copy out of its place: moves `target` to "<target>.bak" in the same folder
// (a file the browser has loaded can be renamed, not deleted), then deletes that, or, while some
// process still has it loaded, has the system delete it at the next restart. The install folder
// is writable by administrators only, so nothing of a user's is moved or deleted on the way (the
// user's temporary folder, which an elevated run would get from the user's environment, is never
// used). True when `target` is no longer there.
bool RemoveInstalledCopy(const std::wstring& target);

// Deletes an aside copy ("<target>.bak") now, or at the next restart while it is loaded.
void DeleteAsideCopy(const std::wstring& aside);

// Removes the install folder when it is empty; when only a copy waiting for the restart is left
// in it, the system removes the folder after that copy.
void RemoveInstallFolder(const std::wstring& installFolder);

// ShellExecuteProcess waiting without a limit, its failed start traced ("ShellExecuteProcess() ->
// failed: %d"). True when the program ran and ended with exit code 0.
bool RunToSuccess(const std::wstring& program, const std::wstring& parameters, bool runAsAdministrator);

// Lets this process load DLLs from the system folder only (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32), so that an elevated run never loads a DLL that a user put beside
// the installer or into the current folder. No-op where the system lacks it (Windows 7 without
// KB2533623).
void RestrictDllSearchToSystem32();

// The rundll32.exe that can load the other build from this process: the 64-bit one through
// "Sysnative" from a 32-bit process, the 32-bit one in the WOW64 system folder from a 64-bit
// process. (A plain "rundll32.exe" always resolves to this process's own bitness.) Empty when
// the system does not tell.
std::wstring GetTwinRundll32();

// Outcome of an installer run, reported as the rundll32 process's exit code: exactly 0 or 1, also
// when a process that this run waited for ended with some other code (a crash).
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
