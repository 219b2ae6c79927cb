#include "common/process_launch.h"

#include "common/unique_owner.h"

#include <shellapi.h>

bool ShellExecuteProcess(const wchar_t* program, const wchar_t* parameters, bool runAsAdministrator,
                         DWORD waitMilliseconds, DWORD* exitCode, DWORD* startError) {
    if (startError) *startError = 0;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = runAsAdministrator ? L"runas" : L"open";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        if (startError) *startError = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
        return false;
    }
    unique_handle process(info.hProcess);
    if (WaitForSingleObject(process.get(), waitMilliseconds) == WAIT_TIMEOUT) return false;
    if (exitCode && !GetExitCodeProcess(process.get(), exitCode)) *exitCode = 1;
    return true;
}

bool IsWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    isWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

std::wstring GetModuleFolder(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : MAX_PATH - 1);
    const size_t slash = folder.rfind(L'\\');
    if (slash != std::wstring::npos) folder.resize(slash + 1);
    return folder;
}

std::wstring GetTempFolder() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetTempPathW(MAX_PATH, path);
    // A length beyond the buffer means the folder did not fit; it counts as none rather than
    // handing out a cut-off path.
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(path, length - 1);
}

std::wstring GetSystemProgram(const wchar_t* program) {
    wchar_t folder[MAX_PATH] = L"";
    UINT length = 0;
#if !defined(_WIN64)
    if (IsWow64()) length = GetSystemWow64DirectoryW(folder, MAX_PATH);
#endif
    if (length == 0) length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(folder, length) + L"\\" + program;
}

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
    BY_HANDLE_FILE_INFORMATION information[2] = {};
    const std::wstring* paths[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        unique_file file(CreateFileW(paths[i]->c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file || !GetFileInformationByHandle(file.get(), &information[i])) return false;
    }
    return information[0].dwVolumeSerialNumber == information[1].dwVolumeSerialNumber &&
           information[0].nFileIndexHigh == information[1].nFileIndexHigh &&
           information[0].nFileIndexLow == information[1].nFileIndexLow;
}

bool StartProgram(const wchar_t* application, std::wstring commandLine, DWORD flags, StartedProgram* started,
                  DWORD* error) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        if (error) *error = GetLastError();
        return false;
    }
    unique_handle thread(process.hThread);
    started->process.reset(process.hProcess);
    started->processId = process.dwProcessId;
    return true;
}
