// DllInstallExt and DllRegisterExt: the DLL installs itself through a chain of rundll32.exe
// processes, each waiting for the next: the launching run starts the elevated run ("runas",
// "ADMIN"), which puts the DLL into the product folder, registers it there through
// DllRegisterExt, then writes the uninstall entry or starts the 64-bit twin, and shows the
// closing message. Each run ends its rundll32 process with its outcome as the exit code.
//
// "QUIET" (alone, or with "ADMIN" in either order) shows no message box: the outcome is the exit
// code and the log line "DllInstallExt() -> installed" or "-> failed"; the launching run passes it
// on to the elevated run, and that to the 64-bit twin.
//
// The elevated run writes into Program Files what every user's browser then loads, so it takes
// nothing from where the user can write while it runs: the folders come from the system, programs
// are started by full path, a file already installed is registered where it is (never copied back
// from the temporary folder), and a new copy is made in the install folder before the old one is
// moved aside, so that a copy that fails changes nothing and registers nothing.
#include "common/process_launch.h"
#include "common/unique_owner.h"
#include "common/wide_format.h"
#include "installer/install_names.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "server/exports.h"
#include "server/module.h"

namespace {

const wchar_t kInstalledMessage[] =
    L"Zorvanti extension has been installed. Please press OK and restart Internet Explorer.";
const wchar_t kFailedMessage[] =
    L"Zorvanti extension could not be installed. Nothing has been changed. Please run the installer again "
    L"as an administrator.";
const wchar_t kStagedSuffix[] = L".new";

void WriteUninstallEntry(const std::wstring& target) {
    const std::wstring command = FormatWide(L"rundll32.exe \"%s\",DllUninstallExt", target.c_str());
    LogDll(L"DllInstallExt() -> RegSetKeyStr");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", command.c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", L"Zorvanti MSIE Extension");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", L"Zorvanti");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", L"1.0.0.1");
}

bool StartTwinInstall(const std::wstring& moduleFolder, bool quiet) {
    LogDll(L"DllInstallExt() -> ShellExecuteProcess64");
    const std::wstring rundll32 = GetTwinRundll32();
    const std::wstring parameters = FormatWide(L"\"%s\",DllInstallExt ADMIN%s", JoinPath(moduleFolder, kDll64Name).c_str(),
                                               quiet ? L" QUIET" : L"");
    SetEnvironmentVariableW(kTwinEnvironmentVariable, L"1");
    DWORD outcome = kInstallFailed;
    const bool ran = !rundll32.empty() && ShellExecuteProcess(rundll32.c_str(), parameters.c_str(), false, INFINITE, &outcome);
    SetEnvironmentVariableW(kTwinEnvironmentVariable, nullptr);
    return ran && outcome == kInstallSucceeded;
}

bool StartedAsTwin() {
    wchar_t value[4] = L"";
    return GetEnvironmentVariableW(kTwinEnvironmentVariable, value, ARRAYSIZE(value)) > 0;
}

// Puts `source` at `target`, keeping an installed copy as the backup. False (and the installed
// copy untouched, nothing left behind) when it cannot.
bool PlaceFile(const std::wstring& source, const std::wstring& target) {
    const std::wstring staged = target + kStagedSuffix;
    DeleteFileW(staged.c_str());
    if (!CopyFileW(source.c_str(), staged.c_str(), FALSE)) {
        LogDll(L"DllInstallExt() -> copy failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::wstring backup = GetBackupPath(kThisDllName);
        if (backup.empty()) {
            LogDll(L"DllInstallExt() -> no temporary folder for the previous copy");
            DeleteFileW(staged.c_str());
            return false;
        }
        DeleteFileW(backup.c_str());
        MoveFileW(target.c_str(), backup.c_str());
    }
    if (!MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        LogDll(L"DllInstallExt() -> replace failed: %d", static_cast<int>(GetLastError()));
        DeleteFileW(staged.c_str());
        return false;
    }
    return true;
}

bool Register(const std::wstring& target) {
    const std::wstring rundll32 = GetSystemProgram(kRundll32);
    const std::wstring registration = FormatWide(L"\"%s\",DllRegisterExt", target.c_str());
    DWORD outcome = kInstallFailed;
    return !rundll32.empty() && ShellExecuteProcess(rundll32.c_str(), registration.c_str(), false, INFINITE, &outcome) &&
           outcome == kInstallSucceeded;
}

DWORD ElevatedRun(const std::wstring& moduleFolder, const std::wstring& installFolder, bool wow64Process, bool quiet) {
    const std::wstring source = JoinPath(moduleFolder, kThisDllName);
    const std::wstring target = JoinPath(installFolder, kThisDllName);

    bool succeeded = !installFolder.empty();
    if (!succeeded) {
        LogDll(L"DllInstallExt() -> no Program Files folder");
    } else if (IsSameFile(source, target)) {
        // Run from the installed copy itself (by any spelling of its path): it stays where it is
        // and is registered again.
        LogDll(L"DllInstallExt() -> registering the installed copy in place");
    } else {
        succeeded = PlaceFile(source, target);
    }
    if (succeeded) {
        succeeded = Register(target);
        if (!succeeded) LogDll(L"DllInstallExt() -> registration failed");
    }

    LogDll(L"DllInstallExt() -> fWow64Process=%d", wow64Process ? 1 : 0);
    if (succeeded) {
        if (!wow64Process)
            WriteUninstallEntry(target);
        else
            succeeded = StartTwinInstall(moduleFolder, quiet);
    }

    LogDll(succeeded ? L"DllInstallExt() -> installed" : L"DllInstallExt() -> failed");
    if (!StartedAsTwin() && !quiet)
        MessageBoxW(nullptr, succeeded ? kInstalledMessage : kFailedMessage, L"Installer",
                    succeeded ? MB_SYSTEMMODAL : MB_SYSTEMMODAL | MB_ICONERROR);
    return succeeded ? kInstallSucceeded : kInstallFailed;
}

}  // namespace

extern "C" void CALLBACK DllInstallExt(HWND, HINSTANCE, LPSTR commandLine, int) {
    const char* text = commandLine ? commandLine : "";
    LogDll(L"DllInstallExt() -> %S", text);

    unique_handle installMutex(CreateMutexW(nullptr, FALSE, kInstallMutexName));
    const bool fAlreadyStarted = GetLastError() == ERROR_ALREADY_EXISTS;
    LogDll(L"DllInstallExt() -> fAlreadyStarted=%d", fAlreadyStarted ? 1 : 0);

    DWORD outcome = kInstallFailed;
    try {
        const std::wstring moduleFolder = GetModuleFolder();
        const bool fWow64Process = IsWow64();
        const std::wstring installFolder = GetInstallFolder(fWow64Process);
        if (!installFolder.empty()) CreateDirectoryW(installFolder.c_str(), nullptr);

        const InstallerSwitches switches = ParseInstallerSwitches(text);
        // Nobody could press the closing message's button where there is no interactive desktop
        // (a deployment run as the system account): such a run is quiet whatever it was asked.
        const bool quiet = switches.quiet || !HasInteractiveDesktop();
        if (switches.admin) {
            outcome = ElevatedRun(moduleFolder, installFolder, fWow64Process, quiet);
        } else if (!fAlreadyStarted) {
            // The path is quoted: rundll32.exe would cut an unquoted one at its first blank.
            const std::wstring rundll32 = GetSystemProgram(kRundll32);
            const std::wstring parameters = FormatWide(L"\"%s\",DllInstallExt ADMIN%s",
                                                       JoinPath(moduleFolder, kThisDllName).c_str(), quiet ? L" QUIET" : L"");
            if (!rundll32.empty()) ShellExecuteProcess(rundll32.c_str(), parameters.c_str(), true, INFINITE, &outcome);
        }
        // Another installation under way in this logon session: this run ends at once, failed.
    } catch (...) {
        // Out of memory: nothing more can be done; the mutex is closed on the way out.
    }
    installMutex.reset();
    ExitRundll32(outcome);
}

extern "C" HRESULT CALLBACK DllRegisterExt(HWND, HINSTANCE, LPSTR, int) {
    const HRESULT hr = RegisterModule(true);
    ExitRundll32(SUCCEEDED(hr) ? kInstallSucceeded : kInstallFailed);
    return hr;
}
