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

namespace {

// Controls, and the characters that end a line or turn the order of what follows it around.
bool IsControl(unsigned c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

template <typename Char>
void AppendEscape(std::basic_string<Char>& out, unsigned c) {
    static const char kHex[] = "0123456789abcdef";
    switch (c) {
        case '\r': out += Char('\\'); out += Char('r'); return;
        case '\n': out += Char('\\'); out += Char('n'); return;
        case '\t': out += Char('\\'); out += Char('t'); return;
        default:
            out += Char('\\');
            out += Char('u');
            for (int shift = 12; shift >= 0; shift -= 4) out += Char(kHex[(c >> shift) & 0xF]);
    }
}

}  // namespace

std::wstring EscapeControls(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        if (IsControl(c)) AppendEscape(out, c);
        else out += c;
    }
    return out;
}

std::string EscapeControls(const std::string& utf8) {
    return WideToUtf8(EscapeControls(Utf8ToWide(utf8)));
}
