// Starting programs (through the shell, or directly by full path), and the folders the installer
// works with.
#pragma once

#include "common/unique_owner.h"

#include <windows.h>

#include <string>

// A program started by StartProgram: its process (the thread's handle is closed at once).
struct StartedProgram {
    unique_handle process;
    DWORD processId = 0;
};

// Starts `application` (a full path; null to take the first word of the command line) with
// `commandLine` and the creation `flags`, inheriting no handles. False with *error (when given) the
// system's error code.
bool StartProgram(const wchar_t* application, std::wstring commandLine, DWORD flags, StartedProgram* started,
                  DWORD* error = nullptr);

// Starts `program` with `parameters` ("runas" when runAsAdministrator, else "open") and waits
// up to `waitMilliseconds`. True when it started and ended within the wait; then *exitCode (when
// given) holds its exit code. When it could not be started, *startError (when given) holds the
// system's error code, else 0; the caller decides whether and how to trace it (this layer writes
// no log).
bool ShellExecuteProcess(const wchar_t* program, const wchar_t* parameters, bool runAsAdministrator,
                         DWORD waitMilliseconds, DWORD* exitCode = nullptr, DWORD* startError = nullptr);

// True when this is a 32-bit process on 64-bit Windows.
bool IsWow64();

// The folder of `module`'s file (a DLL's own instance handle, or null for the program), with its
// trailing backslash.
std::wstring GetModuleFolder(HMODULE module);

// The user's temporary folder without its trailing backslash, or empty when there is none or it
// is longer than the 260-unit buffer (a cut-off or empty folder would make a relative path).
std::wstring GetTempFolder();

// The system folder of this process's own bitness (SysWOW64 for a 32-bit process on 64-bit
// Windows, spelled out, because an elevation request is resolved by a 64-bit service), joined
// with `program`: programs are started by full path, never found through the search path.
std::wstring GetSystemProgram(const wchar_t* program);

// Whether two paths name the same file (volume serial number and file index), whatever the
// spelling (short names, case, a trailing dot, another mapping). False when either cannot be
// opened.
bool IsSameFile(const std::wstring& first, const std::wstring& second);
