// Starting programs through the shell, and the folders the installer works with.
#pragma once

#include <windows.h>

#include <string>

// Starts `program` with `parameters` ("runas" when runAsAdministrator, else "open") and waits
// up to `waitMilliseconds`. True when it started and ended within the wait. A failed start is
// logged ("ShellExecuteProcess() -> failed: %d").
bool ShellExecuteProcess(const wchar_t* program, const wchar_t* parameters, bool runAsAdministrator,
                         DWORD waitMilliseconds);

// True when this is a 32-bit process on 64-bit Windows.
bool IsWow64();

// The folder of this DLL's own file, with its trailing backslash.
std::wstring GetModuleFolder();

// The user's temporary folder without its trailing backslash, or empty.
std::wstring GetTempFolder();
