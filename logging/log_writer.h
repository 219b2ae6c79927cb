// The shared, rotating trace log: "log.txt" in InstallPath + "\logs\", appended to by every
// process that loads the DLL, serialised by the global mutex "Global\Velnor#MWriteLog".
// Logging never fails its caller: a line that cannot be written is dropped. A process in an
// AppContainer (an Enhanced Protected Mode tab) can write neither that folder nor that mutex's
// namespace: its tabs share a log of their own under the folder protected tabs may write, with
// the mutex of the same name in the container's namespace (settings.h, object_security.h).
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

// Entry points, each with a fixed module name and threshold. Formats follow the Windows
// convention: %s UTF-16, %S 8-bit, %d signed 32-bit, %X upper-case hex.
void LogExt(const wchar_t* format, ...);         // "VelnorIEExt", LogLevel >= 2
void LogDll(const wchar_t* format, ...);         // "Dll",         LogLevel >= 2
void LogUtilsError(const wchar_t* format, ...);  // "Utils",       LogLevel >= 2
void LogUtils(const wchar_t* format, ...);       // "Utils",       LogLevel >= 4

// True when the configured LogLevel (read once per process) is at least `threshold`.
bool IsLogLevel(int threshold);

// Formats one line with its header and hands it to WriteLog; no level check of its own.
void WriteLogLine(const wchar_t* moduleName, const wchar_t* format, va_list args);

// Appends raw bytes to the log file under the mutex and rotates the file once it is full.
void WriteLog(const char* bytes, DWORD count);

// Moves the file to "log-YYYY.MM.DD-hh.mm.ss.bak" in `folder`. True when moved.
bool RotateLog(const wchar_t* path, const wchar_t* folder);

// folder + "\" (unless empty or already ending in one) + name.
std::wstring JoinPath(const std::wstring& folder, const wchar_t* name);
// Everything after the last backslash, or the whole path.
std::wstring GetFileNamePart(const std::wstring& path);

constexpr DWORD kLogRotateSize = 0x100000;
