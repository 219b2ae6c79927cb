// Log-writer throughput: lines per second for 1 and for 4 processes appending to one file, and
// the number of lost or torn lines (which must be 0).
//   log_writer_bench                 runs both configurations and prints a table
//   log_writer_bench runs N          runs the four-process configuration N times: lost and torn
//                                    lines of each run and in all (for loaded machines, where a
//                                    writer's 100 ms wait for the mutex runs out)
//   log_writer_bench child N ID      (internal) writes N lines
#include "common/module.h"
#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "tests/support/log_lines.h"

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
    loglines::Count(loglines::ReadFolder(folder + L"\\logs"), processes, kLinesPerProcess, lost, torn);
    return processes * kLinesPerProcess / seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    if (argc > 3 && std::wstring(argv[1]) == L"child") {
        const int lines = _wtoi(argv[2]);
        const int id = _wtoi(argv[3]);
        const std::wstring payload = loglines::Payload(id);
        for (int i = 0; i < lines; ++i) LogExt(L"proc=%d seq=%d %s end", id, i, payload.c_str());
        return 0;
    }
    const std::wstring savedPath = GetInstallPath();
    const int savedLevel = ReadLogLevelSetting();
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", BenchFolder().c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", L"2");
    int failures = 0;
    if (argc > 2 && std::wstring(argv[1]) == L"runs") {
        const int runs = _wtoi(argv[2]);
        int allLost = 0, allTorn = 0;
        printf("%-6s %14s %8s %8s\n", "run", "lines/second", "lost", "torn");
        for (int run = 1; run <= runs; ++run) {
            int lost = 0, torn = 0;
            const double rate = RunConfiguration(4, &lost, &torn);
            printf("%-6d %14.0f %8d %8d\n", run, rate, lost, torn);
            fflush(stdout);
            allLost += lost;
            allTorn += torn;
        }
        printf("%d runs of 4 x %d lines: %d lost, %d torn\n", runs, kLinesPerProcess, allLost, allTorn);
        failures = allLost + allTorn;
    } else {
        printf("%-10s %14s %8s %8s\n", "processes", "lines/second", "lost", "torn");
        for (int processes : {1, 4}) {
            int lost = 0, torn = 0;
            const double rate = RunConfiguration(processes, &lost, &torn);
            printf("%-10d %14.0f %8d %8d\n", processes, rate, lost, torn);
            failures += lost + torn;
        }
    }
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", savedPath.c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", std::to_wstring(savedLevel).c_str());
    return failures == 0 ? 0 : 1;
}
