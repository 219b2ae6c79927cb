// Helper of the package verification and the installer tests, run under Wine beside the
// product:
//   package_check run-uninstall        runs the uninstall entry's own command (64-bit view, then
//                                      32-bit view) as the list of installed programs does
//   package_check uninstall-command    prints that command
//   package_check run "COMMAND LINE"   runs a command line as it stands and returns its exit code
//   package_check watch-dialogs FILE   records every message box that appears (caption, a tab,
//                                      text, one per line in FILE) and presses its OK button;
//                                      runs until killed
//   package_check mutex-absent         exit code 0 when "VelnorIE#Install" does not exist
//   package_check hold-mutex MS        holds "VelnorIE#Install" for MS milliseconds
//   package_check short-path PATH      prints the short (8.3) spelling of an existing path
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelnorIEExt";

std::wstring UninstallCommand() {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        wchar_t command[1024] = L"";
        DWORD size = sizeof(command) - sizeof(wchar_t);
        DWORD type = 0;
        const LSTATUS status =
            RegQueryValueExW(key, L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(command), &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_SZ) return command;
    }
    return std::wstring();
}

int Run(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 2;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

void AppendLine(const wchar_t* file, const std::wstring& line) {
    HANDLE out = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.back() = '\n';
    DWORD written = 0;
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(out);
}

int WatchDialogs(const wchar_t* file) {
    for (;;) {
        HWND dialog = nullptr;
        while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) != nullptr) {
            if (!IsWindowVisible(dialog)) continue;
            wchar_t caption[512] = L"", text[1024] = L"";
            GetWindowTextW(dialog, caption, 512);
            GetDlgItemTextW(dialog, 0xFFFF, text, 1024);
            AppendLine(file, std::wstring(caption) + L"\t" + text);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Sleep(200);
            break;
        }
        Sleep(50);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"run-uninstall") {
        const std::wstring command = UninstallCommand();
        return command.empty() ? 1 : Run(command);
    }
    if (mode == L"run" && argc > 2) return Run(argv[2]);
    if (mode == L"uninstall-command") {
        printf("%ls\n", UninstallCommand().c_str());
        return 0;
    }
    if (mode == L"watch-dialogs" && argc > 2) return WatchDialogs(argv[2]);
    if (mode == L"mutex-absent") {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"VelnorIE#Install");
        if (mutex) CloseHandle(mutex);
        return mutex ? 1 : 0;
    }
    if (mode == L"hold-mutex" && argc > 2) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"VelnorIE#Install");
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        CloseHandle(mutex);
        return 0;
    }
    if (mode == L"short-path" && argc > 2) {
        wchar_t shortPath[MAX_PATH] = L"";
        const DWORD length = GetShortPathNameW(argv[2], shortPath, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 1;
        printf("%ls\n", shortPath);
        return 0;
    }
    fprintf(stderr, "usage: package_check run-uninstall | uninstall-command | watch-dialogs FILE | mutex-absent | hold-mutex MS"
                    " | short-path PATH\n");
    return 2;
}
