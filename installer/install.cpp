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
// are started by full path, DLLs are loaded from the system folder only, each source file is
// opened once (shared for reading only) and copied from that handle, the 64-bit twin is started
// from its copy in the install folder, a file already installed is registered where it is, and
// an installed copy is moved aside inside the install folder (never into the user's temporary
// folder). On 64-bit Windows both files must be there before anything changes; new copies are
// made in the install folder before the old ones are taken out, so that a copy that fails changes
// nothing and registers nothing. Exit code 0 only when everything, the twin's part included, was
// done.
#include "common/process_launch.h"
#include "common/product_version.h"
#include "common/unique_owner.h"
#include "common/wide_format.h"
#include "installer/audit_source.h"
#include "installer/install_steps.h"
#include "logging/audit_events.h"
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
const wchar_t kMissingFileMessage[] =
    L"Zorvanti extension could not be installed: %s is missing. Put VelnorIEx32.dll and VelnorIEx64.dll "
    L"into one folder and run the installer again. Nothing has been changed.";
const wchar_t kIncompleteMessage[] =
    L"Zorvanti extension could not be installed completely: the 64-bit part failed. Please run the "
    L"installer again as an administrator.";
const wchar_t kStagedSuffix[] = L".new";

bool WriteUninstallEntry(const std::wstring& target) {
    // rundll32.exe by full path: the list of installed programs runs the command elevated, and a
    // bare name would be looked up along a search path.
    const std::wstring command =
        FormatWide(L"\"%s\" \"%s\",DllUninstallExt", GetSystemProgram(kRundll32).c_str(), target.c_str());
    LogDll(L"DllInstallExt() -> RegSetKeyStr");
    bool written = RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", command.c_str());
    written = RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", L"Zorvanti MSIE Extension") && written;
    written = RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", L"Zorvanti") && written;
    written = RegSetKeyStr(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", kProductVersion) && written;
    return written;
}

// Whether the 64-bit view's uninstall entry runs `target`: the twin's own proof that it finished,
// beside its exit code (a rundll32.exe that cannot load a DLL or find its entry point does not
// end with the product's exit code).
bool UninstallEntryRuns(const std::wstring& target) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return false;
    wchar_t command[1024] = L"";
    DWORD size = sizeof(command) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(command), &size) !=
            ERROR_SUCCESS || type != REG_SZ)
        return false;
    return std::wstring(command).find(L"\"" + target + L"\",DllUninstallExt") != std::wstring::npos;
}

// The twin's elevated run, started from its copy in the install folder (never from the folder the
// user ran the installer from), so that it registers that copy in place.
bool StartTwinInstall(const std::wstring& installedTwin, bool quiet) {
    LogDll(L"DllInstallExt() -> ShellExecuteProcess64");
    const std::wstring parameters = FormatWide(L"\"%s\",DllInstallExt ADMIN%s", installedTwin.c_str(), quiet ? L" QUIET" : L"");
    SetEnvironmentVariableW(kTwinEnvironmentVariable, L"1");
    const bool succeeded = RunToSuccess(GetTwinRundll32(), parameters, false);
    SetEnvironmentVariableW(kTwinEnvironmentVariable, nullptr);
    return succeeded && UninstallEntryRuns(installedTwin);
}

bool StartedAsTwin() {
    wchar_t value[4] = L"";
    return GetEnvironmentVariableW(kTwinEnvironmentVariable, value, ARRAYSIZE(value)) > 0;
}

// One file the elevated run installs: its source, opened once and shared for reading only, so
// that no process can change, replace or rename it between the check and the copy.
struct InstallFile {
    InstallFile(const wchar_t* fileName, const std::wstring& moduleFolder, const std::wstring& installFolder)
        : name(fileName), source(JoinPath(moduleFolder, fileName)), target(JoinPath(installFolder, fileName)) {}
    const wchar_t* name;
    std::wstring source;
    std::wstring target;
    bool inPlace = false;   // the source is the installed copy itself
    unique_file handle;
    bool staged = false;
};

// Copies the open source into "<target>.new" (a new file, so it takes the install folder's
// access rights). False, and nothing left, when it cannot.
bool StageFile(InstallFile& file) {
    const std::wstring staged = file.target + kStagedSuffix;
    DeleteFileW(staged.c_str());
    unique_file out(CreateFileW(staged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    bool copied = static_cast<bool>(out) && SetFilePointer(file.handle.get(), 0, nullptr, FILE_BEGIN) == 0;
    char buffer[65536];
    for (DWORD read = 0; copied;) {
        if (!ReadFile(file.handle.get(), buffer, sizeof(buffer), &read, nullptr)) copied = false;
        if (!copied || read == 0) break;
        DWORD written = 0;
        copied = WriteFile(out.get(), buffer, read, &written, nullptr) && written == read;
    }
    if (!copied) {
        LogDll(L"DllInstallExt() -> copy failed: %d", static_cast<int>(GetLastError()));
        out.reset();
        DeleteFileW(staged.c_str());
        return false;
    }
    file.staged = true;
    return true;
}

// Puts the staged copy in place of the installed one, which is taken out (RemoveInstalledCopy).
bool CommitFile(const InstallFile& file) {
    const std::wstring staged = file.target + kStagedSuffix;
    if (GetFileAttributesW(file.target.c_str()) != INVALID_FILE_ATTRIBUTES && !RemoveInstalledCopy(file.target)) {
        DeleteFileW(staged.c_str());
        return false;
    }
    if (!MoveFileExW(staged.c_str(), file.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        LogDll(L"DllInstallExt() -> replace failed: %d", static_cast<int>(GetLastError()));
        DeleteFileW(staged.c_str());
        return false;
    }
    return true;
}

bool Register(const std::wstring& target) {
    return RunToSuccess(GetSystemProgram(kRundll32), FormatWide(L"\"%s\",DllRegisterExt", target.c_str()), false);
}

void ShowOutcome(bool quiet, bool succeeded, const std::wstring& failure) {
    if (StartedAsTwin() || quiet) return;
    MessageBoxW(nullptr, succeeded ? kInstalledMessage : failure.c_str(), L"Installer",
                succeeded ? MB_SYSTEMMODAL : MB_SYSTEMMODAL | MB_ICONERROR);
}

DWORD ElevatedRun(const std::wstring& moduleFolder, const std::wstring& installFolder, bool wow64Process, bool quiet) {
    LogDll(L"DllInstallExt() -> fWow64Process=%d", wow64Process ? 1 : 0);
    std::wstring failure = kFailedMessage;
    const auto finish = [&](bool succeeded) {
        LogDll(succeeded ? L"DllInstallExt() -> installed" : L"DllInstallExt() -> failed");
        // One event per installation: the twin's outcome is its parent's to report.
        if (!StartedAsTwin()) {
            if (succeeded)
                ReportAuditEvent(MSG_INSTALLED, {kProductVersion, installFolder});
            else
                ReportAuditEvent(MSG_INSTALL_FAILED, {kProductVersion, installFolder, failure});
        }
        ShowOutcome(quiet, succeeded, failure);
        return succeeded ? kInstallSucceeded : kInstallFailed;
    };
    if (installFolder.empty()) {
        LogDll(L"DllInstallExt() -> no Program Files folder");
        return finish(false);
    }

    // Everything this run installs is checked and opened before anything is changed: on 64-bit
    // Windows this build's copy and the 64-bit twin's, from one folder.
    InstallFile files[2] = {{kThisDllName, moduleFolder, installFolder}, {kDll64Name, moduleFolder, installFolder}};
    const size_t count = wow64Process ? 2 : 1;
    for (size_t i = 0; i < count; ++i) {
        InstallFile& file = files[i];
        if (IsSameFile(file.source, file.target)) {
            // Run from the installed copy itself (by any spelling of its path): it stays where it
            // is and is registered again.
            file.inPlace = true;
            if (i == 0) LogDll(L"DllInstallExt() -> registering the installed copy in place");
            continue;
        }
        file.handle.reset(CreateFileW(file.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.handle) {
            LogDll(L"DllInstallExt() -> missing %s: %d", file.name, static_cast<int>(GetLastError()));
            failure = FormatWide(kMissingFileMessage, file.source.c_str());
            return finish(false);
        }
    }
    // The folder is made only now, and removed again when this run made it and then failed.
    const bool madeFolder = CreateDirectoryW(installFolder.c_str(), nullptr) != FALSE;
    for (size_t i = 0; i < count; ++i) {
        if (files[i].inPlace || StageFile(files[i])) continue;
        for (size_t j = 0; j < i; ++j)
            if (files[j].staged) DeleteFileW((files[j].target + kStagedSuffix).c_str());
        if (madeFolder) RemoveDirectoryW(installFolder.c_str());
        return finish(false);
    }
    for (size_t i = 0; i < count; ++i)
        if (files[i].staged && !CommitFile(files[i])) return finish(false);

    if (!Register(files[0].target)) {
        LogDll(L"DllInstallExt() -> registration failed");
        return finish(false);
    }
    if (!wow64Process) {
        // The native build's copy carries the message table for both: the source names it.
        if (!RegisterAuditSource(files[0].target)) LogDll(L"DllInstallExt() -> event source not registered");
        return finish(WriteUninstallEntry(files[0].target));
    }
    if (!StartTwinInstall(files[1].target, quiet)) {
        LogDll(L"DllInstallExt() -> the 64-bit twin failed");
        failure = kIncompleteMessage;
        return finish(false);
    }
    return finish(true);
}

}  // namespace

extern "C" void CALLBACK DllInstallExt(HWND, HINSTANCE, LPSTR commandLine, int) {
    const char* text = commandLine ? commandLine : "";
    LogDll(L"DllInstallExt() -> %S", text);

    // Every DLL this process loads from here on comes from the system folder (the elevated run
    // must not pick up one planted beside the installer; the launching run gains nothing from
    // one either).
    RestrictDllSearchToSystem32();
    unique_handle installMutex(CreateMutexW(nullptr, FALSE, kInstallMutexName));
    const bool fAlreadyStarted = GetLastError() == ERROR_ALREADY_EXISTS;
    LogDll(L"DllInstallExt() -> fAlreadyStarted=%d", fAlreadyStarted ? 1 : 0);

    DWORD outcome = kInstallFailed;
    try {
        const std::wstring moduleFolder = GetModuleFolder(g_moduleInstance);
        const bool fWow64Process = IsWow64();
        const std::wstring installFolder = GetInstallFolder(fWow64Process);

        const InstallerSwitches switches = ParseInstallerSwitches(text);
        // Nobody could press the closing message's button where there is no interactive desktop
        // (a deployment run as the system account): such a run is quiet whatever it was asked.
        const bool quiet = switches.quiet || !HasInteractiveDesktop();
        if (switches.admin) {
            outcome = ElevatedRun(moduleFolder, installFolder, fWow64Process, quiet);
        } else if (!fAlreadyStarted) {
            // The path is quoted: rundll32.exe would cut an unquoted one at its first blank.
            const std::wstring parameters = FormatWide(L"\"%s\",DllInstallExt ADMIN%s",
                                                       JoinPath(moduleFolder, kThisDllName).c_str(), quiet ? L" QUIET" : L"");
            // The elevated run's outcome is this run's (a declined elevation prompt: failed).
            if (RunToSuccess(GetSystemProgram(kRundll32), parameters, true)) outcome = kInstallSucceeded;
        }
        // Another installation under way in this logon session: this run ends at once, failed.
    } catch (...) {
        // Out of memory: nothing more can be done; the mutex is closed on the way out.
    }
    installMutex.reset();
    ExitRundll32(outcome);
}

extern "C" HRESULT CALLBACK DllRegisterExt(HWND, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystem32();
    const HRESULT hr = RegisterModule(true);
    ExitRundll32(SUCCEEDED(hr) ? kInstallSucceeded : kInstallFailed);
    return hr;
}
