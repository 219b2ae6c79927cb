#include "common/text.h"

#include <windows.h>
#include <wchar.h>

std::wstring Utf8ToWide(const std::string& utf8, bool* valid) {
    if (valid) *valid = true;
    if (utf8.empty()) return std::wstring();
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (units <= 0) {
        if (valid) *valid = false;
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

std::wstring AnsiToWide(const std::string& narrow) {
    if (narrow.empty()) return std::wstring();
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), &wide[0], units);
    return wide;
}

std::vector<std::wstring> SplitString(const wchar_t* text, size_t length, wchar_t delimiter, bool skipEmpty) {
    std::vector<std::wstring> pieces;
    if (!text) length = 0;
    size_t position = 0;
    while (position < length) {
        const wchar_t* found = wmemchr(text + position, delimiter, length - position);
        if (!found) {
            pieces.emplace_back(text + position, length - position);
            return pieces;
        }
        const size_t end = static_cast<size_t>(found - text);
        if (!(skipEmpty && end == position)) pieces.emplace_back(text + position, end - position);
        position = end + 1;
    }
    // The text was empty or ended with a delimiter.
    if (!skipEmpty) pieces.emplace_back();
    return pieces;
}
