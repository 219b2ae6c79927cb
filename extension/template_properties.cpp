// The Templates and DebugTime properties: the extension object's side of the template store.
#include "common/hresult.h"
#include "extension/page_binding.h"
#include "extension/store_access.h"
#include "extension/template_isolation.h"
#include "extension/template_store.h"
#include "extension/timer_map.h"
#include "extension/velnor_ie_ext.h"
#include "common/wide_format.h"
#include "logging/log_writer.h"

#include <algorithm>

// The longest debug period a thread timer can run (USER_TIMER_MAXIMUM, about 24.8 days);
// longer DebugTime values are capped to it.
constexpr UINT kMaxDebugTimerMs = 0x7FFFFFFF;

namespace {

std::wstring TemplateSummary(size_t length) {
    return FormatWide(L"<%d characters>", static_cast<int>(length));
}

// A text that would not fit with its terminator is refused whole: nothing is written past the
// section and the stored text stays as it was. The caller learns of it.
HRESULT StoreTemplateText(void* view, const wchar_t* text) {
    if (WriteTemplateText(view, text)) return S_OK;
    LogExt(L"CVelnorIEExt::set_Templates() -> refused: %d characters, at most %d fit",
           static_cast<int>(wcslen(text)), static_cast<int>(kMaxTemplateTextLength));
    return E_INVALIDARG;
}

}  // namespace


STDMETHODIMP CVelnorIEExt::get_Templates(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    StoreAccess store(*this);
    if (!store.view()) {
        LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
        *pVal = SysAllocString(L"");
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    const wchar_t* text =
        reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(store.view()) + kTemplateTextOffset);
    const size_t length = TemplateTextLength(store.view());
    *pVal = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!*pVal) return E_OUTOFMEMORY;
    // The templates carry the passwords that their actions type, so the log shows only how
    // much text there is, never the text itself.
    LogExt(L"CVelnorIEExt::get_Templates() -> %s", TemplateSummary(length).c_str());
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_Templates(BSTR newVal) {
    LogExt(L"CVelnorIEExt::set_Templates()");
    {
        StoreAccess store(*this);
        if (!store.view()) {
            LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
            return S_OK;
        }
        RETURN_IF_FAILED(StoreTemplateText(store.view(), newVal));
        LogExt(L"CVelnorIEExt::set_Templates() -> updated");
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::get_DebugTime(LONG* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_DebugTime()");
    *pVal = 0;
    StoreAccess store(*this);
    if (!store.view()) return S_OK;
    const LONG value = ReadDebugTime(store.view());
    LogExt(L"CVelnorIEExt::get_DebugTime() -> %d", static_cast<int>(value));
    *pVal = value;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_DebugTime(LONG newVal) {
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    if (m_debugTimerId != 0) {
        TimerMapRemove(m_debugTimerId);
        KillTimer(nullptr, m_debugTimerId);
        ForgetTimer(m_debugTimerId);
        m_debugTimerId = 0;
    }
    {
        StoreAccess store(*this);
        if (store.view()) {
            LogExt(L"CVelnorIEExt::put_DebugTime() -> %d", static_cast<int>(ReadDebugTime(store.view())));
            WriteDebugTime(store.view(), newVal);
        }
    }
    if (newVal > 0) {
        const UINT milliseconds = newVal > static_cast<LONG>(kMaxDebugTimerMs / 1000)
                                      ? kMaxDebugTimerMs
                                      : static_cast<UINT>(newVal) * 1000;
        m_debugTimerId = StartTimer(milliseconds);
        m_debugTimeWritten = newVal;
        if (m_debugTimerId == 0)
            LogExt(L"CVelnorIEExt::put_DebugTime() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    }
    return S_OK;
}

// ---- the same properties as a page reaches them (through its binding) ----

bool CVelnorIEExt::IsolatesPage(const PageContext& page) const {
    return m_templateIsolation && !IsTrustedPortal(m_trustedPortals, page.url);
}

HRESULT CVelnorIEExt::GetTemplatesForPage(const PageContext& page, BSTR* pVal) {
    if (!IsolatesPage(page)) return get_Templates(pVal);
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    try {
        std::wstring text;
        {
            StoreAccess store(*this);
            if (!store.view()) {
                LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
                *pVal = SysAllocString(L"");
                return *pVal ? S_OK : E_OUTOFMEMORY;
            }
            text = ReadTemplateText(store.view());
        }
        const std::shared_ptr<const ParsedTemplates> parsed = ParseTemplatesCached(text);
        std::vector<CredentialRecord> records;
        const std::wstring own = TemplatesForPage(*parsed, text, page.url, &records);
        *pVal = SysAllocStringLen(own.data(), static_cast<UINT>(own.size()));
        if (!*pVal) return E_OUTOFMEMORY;
        LogExt(L"CVelnorIEExt::get_Templates() -> %s", TemplateSummary(own.size()).c_str());
        if (!parsed->valid) LogExt(L"CVelnorIEExt::get_Templates() -> isolated: the store holds no template array");
        // Remembered from the store (never from the page) for Basic authentication.
        for (CredentialRecord& record : records)
            if (std::find(m_storeCredentials.begin(), m_storeCredentials.end(), record) == m_storeCredentials.end())
                m_storeCredentials.push_back(std::move(record));
        return S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}

HRESULT CVelnorIEExt::PutTemplatesForPage(const PageContext& page, BSTR newVal) {
    if (!IsolatesPage(page)) return put_Templates(newVal);
    LogExt(L"CVelnorIEExt::set_Templates()");
    try {
        // Read, merge and write under the store's lock, so that no other writer comes between.
        StoreAccess store(*this);
        if (!store.view()) {
            LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
            return S_OK;
        }
        const std::wstring stored = ReadTemplateText(store.view());
        const std::shared_ptr<const ParsedTemplates> parsed = ParseTemplatesCached(stored);
        const std::wstring_view written(newVal ? newVal : L"", newVal ? wcslen(newVal) : 0);
        std::wstring merged;
        size_t leftOut = 0;
        if (!MergePageWrite(*parsed, stored, written, page.url, merged, &leftOut)) {
            LogExt(L"CVelnorIEExt::set_Templates() -> refused: %s", parsed->valid ? L"the page wrote no template array"
                                                                              : L"the store holds no template array");
            return E_INVALIDARG;
        }
        if (leftOut)
            LogExt(L"CVelnorIEExt::set_Templates() -> left out %d templates for other pages", static_cast<int>(leftOut));
        RETURN_IF_FAILED(StoreTemplateText(store.view(), merged.c_str()));
        LogExt(L"CVelnorIEExt::set_Templates() -> updated");
    } catch (...) {
        return ResultFromCaughtException();
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}

HRESULT CVelnorIEExt::PutAuthCredsForPage(const PageContext& page, BSTR newVal) {
    if (!IsolatesPage(page)) return put_AuthCreds(newVal);
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    // Basic authentication answers from the store's own templates: what a page hands over
    // could name any site.
    LogExt(L"CVelnorIEExt::put_AuthCreds() -> ignored under template isolation");
    return S_OK;
}
