// IAuthenticate: the browser's HTTP Basic authentication requests, answered from the
// credentials the content script handed over (or, under template isolation, from the store's
// own templates). The browser reaches it through the proffered service (velnor_ie_ext.cpp).
#include "extension/velnor_ie_ext.h"

#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "templates/credentials.h"
#include "templates/patterns.h"
#include "templates/template_isolation.h"

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

STDMETHODIMP CVelnorIEExt::Authenticate(HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) {
    if (phwnd) *phwnd = nullptr;
    // The last matching record wins: the copies made for an earlier match are freed with it.
    bool answered = false;
    unique_cotaskmem userName, password;
    try {
        size_t recordCount = 0;
        std::vector<CredentialRecord> records;
        if (m_templateIsolation) {
            // Answered from the store's own templates (those pages of this window read before,
            // then what the store holds now), and what a trusted portal handed over; never from
            // what any other page handed over.
            records = m_storeCredentials;
            {
                TemplateStore::View store = m_templateStore.Access();
                if (store) {
                    const std::vector<CredentialRecord> stored =
                        StoredBasicRecords(*ParseTemplatesCached(store.ReadText()));
                    records.insert(records.end(), stored.begin(), stored.end());
                }
            }
            const std::vector<CredentialRecord> handedOver = ParseCredentials(m_authCreds);
            records.insert(records.end(), handedOver.begin(), handedOver.end());
            recordCount = records.size();
        } else {
            records = ParseCredentials(m_authCreds, &recordCount);
        }
        LogExt(L"CVelnorIEExt::Authenticate('%s', %d)", m_navigateUrl.c_str(), static_cast<int>(recordCount));
        // The challenge names no URL: it may come from any request of the window. It is taken
        // for the top-level navigation's only while that is the one navigation under way; while
        // a frame navigates, or several top-level navigations are pending, it could be the
        // request of a page that wants another site's password.
        // Nor long after the navigation began: a navigation the browser never reported as ended
        // must not leave the credentials armed for whatever the page requests later.
        if (m_topNavigationsPending == 1 && GetTickCount64() - m_navigateStarted > kBasicAuthWindowMs) {
            LogExt(L"CVelnorIEExt::Authenticate() -> declined: the navigation began %d seconds ago",
                   static_cast<int>((GetTickCount64() - m_navigateStarted) / 1000));
            records.clear();
        }
        if (m_topNavigationsPending != 1 || !m_framesNavigating.empty()) {
            LogExt(L"CVelnorIEExt::Authenticate() -> declined: %d top-level and %d frame navigations pending",
                   m_topNavigationsPending, static_cast<int>(m_framesNavigating.size()));
            records.clear();
        }
        for (const CredentialRecord& record : records) {
            LogExt(L"CVelnorIEExt::Authenticate() -> '%s'", record.pattern.c_str());
            if (!BasicRecordAnswers(record.pattern, m_navigateUrl)) continue;
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
    if (phwnd && m_webBrowser) {
        SHANDLE_PTR window = 0;
        if (SUCCEEDED(m_webBrowser->get_HWND(&window))) *phwnd = reinterpret_cast<HWND>(window);
    }
    return S_OK;
}
