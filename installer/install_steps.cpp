#include "installer/install_steps.h"

#include "common/process_launch.h"
#include "common/unique_owner.h"
#include "logging/log_writer.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace {

#if !defined(_WIN64)
// 64-bit Windows's own Program Files folder, as the system records it in the 64-bit registry
// view (a 32-bit process cannot ask for FOLDERID_ProgramFilesX64).
std::wstring NativeProgramFilesFromRegistry() {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    for (const wchar_t* name : {L"ProgramW6432Dir", L"ProgramFilesDir"}) {
        wchar_t folder[MAX_PATH] = L"";
        DWORD size = sizeof(folder) - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) == ERROR_SUCCESS &&
            type == REG_SZ && folder[0])
            return folder;
    }
    return std::wstring();
}
#endif

std::wstring KnownProgramFiles() {
    PWSTR folder = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &folder))) return std::wstring();
    unique_cotaskmem owned(folder);
    return folder;
}

// A folder the elevated run may write into: an absolute path (drive or UNC), nothing else.
bool IsAbsolute(const std::wstring& folder) {
    return (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') || folder.compare(0, 2, L"\\\\") == 0;
}

}  // namespace

std::wstring GetInstallFolder(bool wow64Process) {
    // Asked of the system, never taken from the environment, which an unelevated process of the
    // same user can change (HKCU\Environment) for the elevated run it starts.
#if defined(_WIN64)
    (void)wow64Process;   // a 64-bit process is never WOW64, yet it runs on 64-bit Windows only
    std::wstring programFiles = KnownProgramFiles();
#else
    std::wstring programFiles = wow64Process ? NativeProgramFilesFromRegistry() : KnownProgramFiles();
#endif
    if (!IsAbsolute(programFiles)) return std::wstring();
    return JoinPath(programFiles, kProductFolder);
}

bool RemoveInstalledCopy(const std::wstring& target) {
    const std::wstring aside = target + kBackupSuffix;
    // An earlier aside copy that could not be deleted then is tried again first.
    DeleteFileW(aside.c_str());
    if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        LogDll(L"RemoveInstalledCopy() -> move failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    DeleteAsideCopy(aside);
    return true;
}

void DeleteAsideCopy(const std::wstring& aside) {
    // A file that some process has loaded cannot be deleted (Wine reports success and leaves it).
    if (DeleteFileW(aside.c_str()) && GetFileAttributesW(aside.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (GetFileAttributesW(aside.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (!MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogDll(L"RemoveInstalledCopy() -> not deleted: %d", static_cast<int>(GetLastError()));
}

void RemoveInstallFolder(const std::wstring& installFolder) {
    if (!RemoveDirectoryW(installFolder.c_str()) && GetLastError() == ERROR_DIR_NOT_EMPTY) {
        // Only a copy waiting for the restart may be left; the folder follows it then (a
        // scheduled removal of a folder that is not empty by then is skipped by the system).
        MoveFileExW(installFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

bool RunToSuccess(const std::wstring& program, const std::wstring& parameters, bool runAsAdministrator) {
    if (program.empty()) return false;
    DWORD exitCode = kInstallFailed, startError = 0;
    if (!ShellExecuteProcess(program.c_str(), parameters.c_str(), runAsAdministrator, INFINITE, &exitCode, &startError)) {
        if (startError) LogUtilsError(L"ShellExecuteProcess() -> failed: %d", static_cast<int>(startError));
        return false;
    }
    return exitCode == kInstallSucceeded;
}

void RestrictDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories) setDefaultDllDirectories(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

std::wstring GetTwinRundll32() {
    wchar_t folder[MAX_PATH] = L"";
#if defined(_WIN64)
    if (!GetSystemWow64DirectoryW(folder, MAX_PATH)) return std::wstring();
    return JoinPath(folder, kRundll32);
#else
    if (!GetSystemWindowsDirectoryW(folder, MAX_PATH)) return std::wstring();
    return JoinPath(JoinPath(folder, L"Sysnative"), kRundll32);
#endif
}

void ExitRundll32(DWORD code) {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    if (lstrcmpiW(GetFileNamePart(path).c_str(), kRundll32) != 0) return;
    ExitProcess(code);
}

InstallerSwitches ParseInstallerSwitches(const char* commandLine) {
    InstallerSwitches switches;
    const char* text = commandLine ? commandLine : "";
    bool other = false;
    for (const char* at = text; *at;) {
        while (*at == ' ' || *at == '\t') ++at;
        const char* start = at;
        while (*at && *at != ' ' && *at != '\t') ++at;
        if (at == start) break;
        const std::string word(start, at);
        if (lstrcmpiA(word.c_str(), kAdminArgument) == 0)
            switches.admin = true;
        else if (lstrcmpiA(word.c_str(), kQuietArgument) == 0)
            switches.quiet = true;
        else
            other = true;
    }
    // As before, exactly "ADMIN" (any case) is the elevated run; "ADMIN x" is not.
    if (other) switches = InstallerSwitches();
    return switches;
}

bool HasInteractiveDesktop() {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}
