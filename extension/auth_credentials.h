// The credentials text the content script hands over for HTTP Basic authentication: records
// joined by LF, each "URL pattern CR user name CR password", and how a pattern matches the URL
// of a navigation. Shared by IAuthenticate and the template store tool.
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

struct CredentialRecord {
    std::wstring pattern;
    std::wstring userName;
    std::wstring password;

    bool operator==(const CredentialRecord& other) const {
        return pattern == other.pattern && userName == other.userName && password == other.password;
    }
};

// The records of a credentials text that have the three fields, in order (further fields are
// ignored). *recordCount, when given, receives the number of non-empty records of any size.
std::vector<CredentialRecord> ParseCredentials(const std::wstring& text, size_t* recordCount = nullptr);
