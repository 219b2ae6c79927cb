// Log-writer throughput: lines per second for 1 and for 4 processes appending to one file, and
// the number of lost or torn lines (which must be 0).
//   log_writer_bench                 runs both configurations and prints a table
//   log_writer_bench child N ID      (internal) writes N lines
#include "common/module.h"
#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "logging/settings.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kLinesPerProcess = 5000;

std::wstring SelfPath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring BenchFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"velnor-log-bench";
}

void Reset(const std::wstring& folder) {
    const std::wstring logs = folder + L"\\logs";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((logs + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileW((logs + L"\\" + data.cFileName).c_str());
        while (FindNextFileW(find, &data));
        FindClose(find);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
}

std::string ReadAll(const std::wstring& folder) {
    std::string all;
    WIN32_FIND_DATAW data;
    const std::wstring logs = folder + L"\\logs";
    HANDLE find = FindFirstFileW((logs + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return all;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        unique_file file(CreateFileW((logs + L"\\" + data.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        char buffer[65536];
        DWORD read = 0;
        while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) all.append(buffer, read);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return all;
}

// Counts whole lines per process; anything else is torn.
void Verify(const std::string& text, int processes, int lines, int* lost, int* torn) {
    std::vector<int> counts(processes, 0);
    *torn = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        const size_t at = line.find("]: bench ");
        int id = -1, seq = -1;
        char tail[8] = "";
        if (at == std::string::npos || sscanf(line.c_str() + at, "]: bench %d %d %*[x] %7s", &id, &seq, tail) != 3 ||
            std::string(tail) != "end" || id < 0 || id >= processes)
            ++*torn;
        else
            ++counts[id];
    }
    *lost = 0;
    for (int c : counts) *lost += lines - c > 0 ? lines - c : 0;
}

double RunConfiguration(int processes, int* lost, int* torn) {
    const std::wstring folder = BenchFolder();
    Reset(folder);
    std::vector<unique_handle> children;
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (int id = 0; id < processes; ++id) {
        std::wstring command = L"\"" + SelfPath() + L"\" child " + std::to_wstring(kLinesPerProcess) + L" " + std::to_wstring(id);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) continue;
        CloseHandle(info.hThread);
        children.emplace_back(info.hProcess);
    }
    for (auto& child : children) WaitForSingleObject(child.get(), INFINITE);
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart);
    Verify(ReadAll(folder), processes, kLinesPerProcess, lost, torn);
    return processes * kLinesPerProcess / seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    if (argc > 3 && std::wstring(argv[1]) == L"child") {
        const int lines = _wtoi(argv[2]);
        const int id = _wtoi(argv[3]);
        const std::wstring payload(100, L'x');
        for (int i = 0; i < lines; ++i) LogExt(L"bench %d %d %s end", id, i, payload.c_str());
        return 0;
    }
    const std::wstring savedPath = GetInstallPath();
    const int savedLevel = ReadLogLevelSetting();
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", BenchFolder().c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", L"2");
    printf("%-10s %14s %8s %8s\n", "processes", "lines/second", "lost", "torn");
    int failures = 0;
    for (int processes : {1, 4}) {
        int lost = 0, torn = 0;
        const double rate = RunConfiguration(processes, &lost, &torn);
        printf("%-10d %14.0f %8d %8d\n", processes, rate, lost, torn);
        failures += lost + torn;
    }
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", savedPath.c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", std::to_wstring(savedLevel).c_str());
    return failures == 0 ? 0 : 1;
}
