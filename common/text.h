// Text helpers of every layer: UTF-8 and the thread's ANSI code page to and from UTF-16, and
// the ordinary split at a delimiter. (printf-style formatting: wide_format.h.)
#pragma once

#include <string>
#include <vector>

// *valid (when given) is false, and the result empty, for bytes that are no UTF-8.
std::wstring Utf8ToWide(const std::string& utf8, bool* valid = nullptr);
std::string WideToUtf8(const std::wstring& wide);

// 8-bit text in the thread's ANSI code page (how the DLL's text resources are stored); empty
// when it cannot be converted.
std::wstring AnsiToWide(const std::string& narrow);

// The ordinary split at every delimiter; with skipEmpty the empty pieces are left out.
// An absent (null) text counts as empty.
std::vector<std::wstring> SplitString(const wchar_t* text, size_t length, wchar_t delimiter, bool skipEmpty);
inline std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter, bool skipEmpty) {
    return SplitString(text.c_str(), text.size(), delimiter, skipEmpty);
}

// Text that came from outside (a page, a file) as it may be shown on one line of a log or a
// console: control characters, DEL, C1 controls and the Unicode line and paragraph separators
// and the characters that reverse the order of text written as escapes (\r, \n, \t, \uXXXX),
// so that no such text can end a line, start a forged one or move the cursor back over what is
// shown.
std::wstring EscapeControls(const std::wstring& text);
std::string EscapeControls(const std::string& utf8);
