// Shared helpers of the test programs: folders, files, child processes and the settings that
// steer the log writer. Everything runs against Wine's real registry, file system and processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testenv {

// The folder holding the test programs, the DLL and the helper programs, with a backslash.
std::wstring BinFolder();

// A fresh, empty folder for one test (under the temporary folder), without a backslash.
std::wstring FreshFolder(const std::wstring& name);

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern = L"*");
void DeleteTree(const std::wstring& folder);

// Starts a program of BinFolder() (or a full path) with arguments; returns its exit code, or
// -1 when it could not start or did not end within the timeout.
int RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 60000);
HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments);

// Runs a program and collects what it writes to its standard output and error (as 8-bit text).
struct ProgramResult {
    int exitCode = -1;
    std::string output;   // standard output and standard error, as they came
};
ProgramResult RunProgramCaptured(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 60000);

// HKLM "SOFTWARE\Pellor" as this build's registry view sees it.
void SetInstallPath(const std::wstring& path);
void SetLogLevelDword(DWORD level);
void SetLogLevelText(const std::wstring& level);
void DeleteSetting(const wchar_t* name);
void SetSettingDword(const wchar_t* name, DWORD value);
void SetSettingMultiString(const wchar_t* name, const std::vector<std::wstring>& strings);

// The install path and log folder the test program itself logs to (set up by main).
std::wstring OwnInstallPath();
std::wstring OwnLogFile();

// Collects what the test program's own log receives from now on.
class LogCapture {
public:
    LogCapture();
    // The message parts (after the header) of the lines written since construction.
    std::vector<std::string> Messages() const;
    std::string Text() const;

private:
    size_t m_start;
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Runs the thread's message loop for a while (thread timers fire only while it pumps).
void PumpMessages(DWORD milliseconds);

// Pumps until `done` holds or the deadline passes; returns whether it holds. Timer tests wait
// for what must happen rather than for a fixed time, so a busy machine only makes them slower.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 10000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        PumpMessages(20);
    }
    return true;
}

bool Is64BitProcess();

}  // namespace testenv
