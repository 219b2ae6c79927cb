// Starting programs through the shell, and the folders the installer works with.
#pragma once

#include <windows.h>

#include <string>

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
