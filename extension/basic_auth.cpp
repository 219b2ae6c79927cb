#include "extension/basic_auth.h"

#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "templates/credentials.h"
#include "templates/patterns.h"

#include <cstring>

namespace {

// A NUL-terminated copy from CoTaskMemAlloc for the browser, which frees it; empty when the
// allocation fails.
unique_cotaskmem CopyForBrowser(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    unique_cotaskmem copy(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy.get(), text.c_str(), bytes);
    return copy;
}

}  // namespace

HRESULT AnswerBasicChallenge(const NavigationTracker& navigations, StoreAccess& store, IWebBrowser2* browser,
                             HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) noexcept {
    if (phwnd) *phwnd = nullptr;
    // The last matching record wins: the copies made for an earlier match are freed with it.
    bool answered = false;
    unique_cotaskmem userName, password;
    try {
        size_t recordCount = 0;
        std::vector<CredentialRecord> records = store.BasicRecords(&recordCount);
        LogExt(L"CVelnorIEExt::Authenticate('%s', %d)", navigations.Url().c_str(), static_cast<int>(recordCount));
        if (!navigations.ChallengeBelongsToNavigation()) records.clear();
        for (const CredentialRecord& record : records) {
            LogExt(L"CVelnorIEExt::Authenticate() -> '%s'", record.pattern.c_str());
            if (!BasicRecordAnswers(record.pattern, navigations.Url())) continue;
            // The user name and the password never reach the log.
            LogExt(L"CVelnorIEExt::Authenticate() -> return creds %s, %s", L"", L"");
            if (pszUsername) userName = CopyForBrowser(record.userName);
            if (pszPassword) password = CopyForBrowser(record.password);
            answered = true;
        }
    } catch (...) {
        // Out of memory while splitting: answered as far as it got.
    }
    if (answered) {
        // What the caller passed in is never ours to free: it is replaced only by an answer.
        if (pszUsername) *pszUsername = static_cast<LPWSTR>(userName.release());
        if (pszPassword) *pszPassword = static_cast<LPWSTR>(password.release());
        return S_OK;
    }
    // Not answered: the browser's window is the owner of its own prompt, which the user then
    // answers (a null window with no credentials would leave the request to fail unprompted).
    if (phwnd && browser) {
        SHANDLE_PTR window = 0;
        if (SUCCEEDED(browser->get_HWND(&window))) *phwnd = reinterpret_cast<HWND>(window);
    }
    return S_OK;
}
