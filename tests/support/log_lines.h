// The numbered lines that log-writer stress runs append ("proc=ID seq=N <120 letters of ID> end",
// log_child's "many" mode), counted back from everything the log folder holds: a line that is not
// whole, or carries another process's letters, is torn; a number of a process not found is lost.
// Shared by the unserialised writers' check and the log writer's benchmark.
#pragma once

#include <windows.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace loglines {

inline std::wstring Payload(int id) { return std::wstring(120, static_cast<wchar_t>(L'a' + id % 26)); }

// Every file of the folder (log.txt and the rotated ".bak" files), one after the other.
inline std::string ReadFolder(const std::wstring& folder) {
    std::string all;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return all;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        HANDLE file = CreateFileW((folder + L"\\" + data.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        char buffer[65536];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) all.append(buffer, read);
        CloseHandle(file);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return all;
}

inline void Count(const std::string& text, int processes, int lines, int* lost, int* torn) {
    static const std::regex whole(R"(^\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2} \[[^\]]+\] \[VelnorIEExt\] \[(Local|Remote)\] \[\d+\] \[\d+\]: proc=(\d+) seq=(\d+) ([a-z]{120}) end$)");
    std::vector<std::set<int>> seen(static_cast<size_t>(processes));
    *torn = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        std::smatch match;
        const int id = std::regex_match(line, match, whole) ? std::stoi(match[2]) : -1;
        if (id < 0 || id >= processes || match[4].str() != std::string(120, static_cast<char>('a' + id % 26)) ||
            !seen[static_cast<size_t>(id)].insert(std::stoi(match[3])).second)
            ++*torn;
    }
    *lost = 0;
    for (const std::set<int>& numbers : seen)
        for (int i = 0; i < lines; ++i) *lost += numbers.count(i) ? 0 : 1;
}

}  // namespace loglines
