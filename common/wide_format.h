// printf-style formatting into a growable UTF-16 string, Windows convention on every build:
// %s a UTF-16 string, %S an 8-bit string, %d a signed 32-bit number, %X upper-case hex.
// mingw's own wide printf (turned on with __USE_MINGW_ANSI_STDIO by libstdc++) reads %s as
// 8-bit, so this goes straight to msvcrt's _vscwprintf/_vsnwprintf, which keep the convention.
#pragma once

#include <cstdarg>
#include <string>

// No length limit; throws std::bad_alloc when memory runs out.
std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);
