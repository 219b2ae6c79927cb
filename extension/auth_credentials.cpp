#include "extension/auth_credentials.h"

#include <windows.h>
#include <wchar.h>

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

bool AuthPatternMatches(const std::wstring& pattern, const std::wstring& url) {
    if (!pattern.empty() && pattern.back() == L'*' && url.size() >= pattern.size() - 1) {
        const size_t prefix = pattern.size() - 1;
        return _wcsnicmp(pattern.c_str(), url.c_str(), prefix) == 0;
    }
    return lstrcmpiW(pattern.c_str(), url.c_str()) == 0;
}

std::vector<CredentialRecord> ParseCredentials(const std::wstring& text, size_t* recordCount) {
    const std::vector<std::wstring> records = SplitString(text, L'\n', true);
    if (recordCount) *recordCount = records.size();
    std::vector<CredentialRecord> parsed;
    for (const std::wstring& record : records) {
        std::vector<std::wstring> fields = SplitString(record, L'\r', false);
        if (fields.size() < 3) continue;
        parsed.push_back({std::move(fields[0]), std::move(fields[1]), std::move(fields[2])});
    }
    return parsed;
}
