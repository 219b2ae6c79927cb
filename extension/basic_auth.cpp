#include "extension/basic_auth.h"

#include "extension/velnor_ie_ext.h"
#include "logging/log_writer.h"

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

bool FindBasicCredentials(const std::wstring& credentialsText, const std::wstring& url, BasicCredentials* found,
                          size_t* recordCount) {
    const std::vector<std::wstring> records = SplitString(credentialsText, L'\n', true);
    if (recordCount) *recordCount = records.size();
    bool matched = false;
    for (const std::wstring& record : records) {
        std::vector<std::wstring> fields = SplitString(record, L'\r', false);
        if (fields.size() < 3) continue;
        if (!AuthPatternMatches(fields[0], url)) continue;
        matched = true;
        if (found) *found = {fields[0], fields[1], fields[2]};
    }
    return matched;
}

namespace {

// A NUL-terminated copy from CoTaskMemAlloc for the browser, which frees it; null when the
// allocation fails.
LPWSTR CopyForBrowser(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy, text.c_str(), bytes);
    return copy;
}

}  // namespace

STDMETHODIMP CVelnorIEExt::QueryService(REFGUID, REFIID iid, void** out) {
    return QueryInterface(iid, out);
}

STDMETHODIMP CVelnorIEExt::Authenticate(HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) {
    if (phwnd) *phwnd = nullptr;
    try {
        const std::vector<std::wstring> records = SplitString(m_authCreds, L'\n', true);
        LogExt(L"CVelnorIEExt::Authenticate('%s', %d)", m_navigateUrl.c_str(), static_cast<int>(records.size()));
        bool answered = false;
        for (const std::wstring& record : records) {
            const std::vector<std::wstring> fields = SplitString(record, L'\r', false);
            if (fields.size() < 3) continue;
            LogExt(L"CVelnorIEExt::Authenticate() -> '%s'", fields[0].c_str());
            if (!AuthPatternMatches(fields[0], m_navigateUrl)) continue;
            // The user name and the password never reach the log.
            LogExt(L"CVelnorIEExt::Authenticate() -> return creds %s, %s", L"", L"");
            // The last matching record wins; the copies made for an earlier match are freed
            // (what the caller passed in is never ours to free).
            if (pszUsername) {
                if (answered) CoTaskMemFree(*pszUsername);
                *pszUsername = CopyForBrowser(fields[1]);
            }
            if (pszPassword) {
                if (answered) CoTaskMemFree(*pszPassword);
                *pszPassword = CopyForBrowser(fields[2]);
            }
            answered = true;
        }
    } catch (...) {
        // Out of memory while splitting: answered as far as it got.
    }
    return S_OK;
}
