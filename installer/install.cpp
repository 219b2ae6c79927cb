// DllInstallExt and DllRegisterExt: the DLL installs itself through a chain of rundll32.exe
// processes, each waiting for the next: the launching run starts the elevated run ("runas",
// "ADMIN"), which copies the DLL into the product folder, registers the copy through
// DllRegisterExt, then writes the uninstall entry or starts the 64-bit twin, and shows the
// closing message. The steps go on whatever the previous one gave; there is no rollback.
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

void WriteUninstallEntry(const std::wstring& target) {
    const std::wstring command = FormatWide(L"rundll32.exe \"%s\",DllUninstallExt", target.c_str());
    LogDll(L"DllInstallExt() -> RegSetKeyStr");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", command.c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", L"Zorvanti MSIE Extension");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", L"Zorvanti");
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", L"1.0.0.1");
}

void StartTwinInstall(const std::wstring& moduleFolder) {
    LogDll(L"DllInstallExt() -> ShellExecuteProcess64");
    const std::wstring parameters =
        FormatWide(L"\"%s\",DllInstallExt ADMIN", JoinPath(moduleFolder, kDll64Name).c_str());
    SetEnvironmentVariableW(kTwinEnvironmentVariable, L"1");
    ShellExecuteProcess(GetTwinRundll32().c_str(), parameters.c_str(), false, INFINITE);
    SetEnvironmentVariableW(kTwinEnvironmentVariable, nullptr);
}

bool StartedAsTwin() {
    wchar_t value[4] = L"";
    return GetEnvironmentVariableW(kTwinEnvironmentVariable, value, ARRAYSIZE(value)) > 0;
}

void ElevatedRun(const std::wstring& moduleFolder, const std::wstring& installFolder, bool wow64Process) {
    const std::wstring source = JoinPath(moduleFolder, kThisDllName);
    const std::wstring target = JoinPath(installFolder, kThisDllName);
    const std::wstring backup = GetBackupPath(kThisDllName);

    // An installed copy is moved aside before the new one is written. When the installer
    // runs from the install folder itself, source and target are one file: the copy then
    // comes from the backup it has just become.
    DeleteFileW(backup.c_str());
    MoveFileW(target.c_str(), backup.c_str());
    const std::wstring& copyFrom = lstrcmpiW(source.c_str(), target.c_str()) == 0 ? backup : source;
    CopyFileW(copyFrom.c_str(), target.c_str(), FALSE);

    const std::wstring registration = FormatWide(L"\"%s\",DllRegisterExt", target.c_str());
    ShellExecuteProcess(kRundll32, registration.c_str(), false, INFINITE);

    LogDll(L"DllInstallExt() -> fWow64Process=%d", wow64Process ? 1 : 0);
    if (!wow64Process)
        WriteUninstallEntry(target);
    else
        StartTwinInstall(moduleFolder);

    if (!StartedAsTwin())
        MessageBoxW(nullptr, kInstalledMessage, L"Installer", MB_SYSTEMMODAL);
}

}  // namespace

extern "C" void CALLBACK DllInstallExt(HWND, HINSTANCE, LPSTR commandLine, int) {
    const char* text = commandLine ? commandLine : "";
    LogDll(L"DllInstallExt() -> %S", text);

    unique_handle installMutex(CreateMutexW(nullptr, FALSE, kInstallMutexName));
    const bool fAlreadyStarted = GetLastError() == ERROR_ALREADY_EXISTS;
    LogDll(L"DllInstallExt() -> fAlreadyStarted=%d", fAlreadyStarted ? 1 : 0);

    try {
        const std::wstring moduleFolder = GetModuleFolder();
        const bool fWow64Process = IsWow64();
        const std::wstring installFolder = GetInstallFolder(fWow64Process);
        CreateDirectoryW(installFolder.c_str(), nullptr);

        if (lstrcmpiA(text, kAdminArgument) == 0) {
            ElevatedRun(moduleFolder, installFolder, fWow64Process);
            return;
        }
        // Another installation is under way in this logon session.
        if (fAlreadyStarted) return;
        // The path is quoted: rundll32.exe would cut an unquoted one at its first blank.
        const std::wstring parameters =
            FormatWide(L"\"%s\",DllInstallExt ADMIN", JoinPath(moduleFolder, kThisDllName).c_str());
        ShellExecuteProcess(kRundll32, parameters.c_str(), true, INFINITE);
    } catch (...) {
        // Out of memory: nothing more can be done; the mutex is closed on the way out.
    }
}

extern "C" HRESULT CALLBACK DllRegisterExt(HWND, HINSTANCE, LPSTR, int) {
    return RegisterModule(true);
}
