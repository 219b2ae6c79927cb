// HTTP Basic authentication from the credentials text the content script hands over:
// records joined by LF, each "URL pattern CR user name CR password".
#pragma once

#include <string>
#include <vector>

// The ordinary split at every delimiter; with skipEmpty the empty pieces are left out.
// An absent (null) text counts as empty.
std::vector<std::wstring> SplitString(const wchar_t* text, size_t length, wchar_t delimiter, bool skipEmpty);
inline std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter, bool skipEmpty) {
    return SplitString(text.c_str(), text.size(), delimiter, skipEmpty);
}

// A pattern whose last character is "*" matches by prefix (ASCII letters without regard to
// case) when the URL is at least as long as the prefix; otherwise the whole pattern must equal
// the whole URL under the locale's case-insensitive comparison.
bool AuthPatternMatches(const std::wstring& pattern, const std::wstring& url);

struct BasicCredentials {
    std::wstring pattern;
    std::wstring userName;
    std::wstring password;
};

// The last record of `credentialsText` whose pattern matches `url`, if any; `records` (when
// given) receives the number of non-empty records.
bool FindBasicCredentials(const std::wstring& credentialsText, const std::wstring& url, BasicCredentials* found,
                          size_t* records = nullptr);
