#include "installer/install_names.h"

#include "common/process_launch.h"
#include "logging/log_writer.h"

std::wstring GetInstallFolder(bool wow64Process) {
    wchar_t programFiles[MAX_PATH] = L"";
#if defined(_WIN64)
    // A 64-bit process is never WOW64, yet it runs on 64-bit Windows only.
    (void)wow64Process;
    const wchar_t* reference = L"%ProgramW6432%";
#else
    const wchar_t* reference = wow64Process ? L"%ProgramW6432%" : L"%ProgramFiles%";
#endif
    ExpandEnvironmentStringsW(reference, programFiles, MAX_PATH);
    return JoinPath(programFiles, kProductFolder);
}

std::wstring GetBackupPath(const wchar_t* fileName) {
    return JoinPath(GetTempFolder(), (std::wstring(fileName) + kBackupSuffix).c_str());
}

std::wstring GetTwinRundll32() {
    wchar_t folder[MAX_PATH] = L"";
#if defined(_WIN64)
    if (!GetSystemWow64DirectoryW(folder, MAX_PATH)) return kRundll32;
    return JoinPath(folder, kRundll32);
#else
    if (!GetWindowsDirectoryW(folder, MAX_PATH)) return kRundll32;
    return JoinPath(JoinPath(folder, L"Sysnative"), kRundll32);
#endif
}
