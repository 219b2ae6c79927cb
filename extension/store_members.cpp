// The Templates property: the extension object's side of the template store, whole or as a
// page's binding reaches it under template isolation. (DebugTime: debug_period.cpp.)
#include "extension/velnor_ie_ext.h"

#include "common/hresult.h"
#include "common/wide_format.h"
#include "extension/page_binding.h"
#include "logging/log_writer.h"
#include "templates/patterns.h"
#include "templates/store_records.h"
#include "templates/template_isolation.h"

#include <algorithm>

namespace {

std::wstring TemplateSummary(size_t length) {
    return FormatWide(L"<%d characters>", static_cast<int>(length));
}

// A text that would not fit with its terminator is refused whole: nothing is written past the
// section and the stored text stays as it was. The caller learns of it.
HRESULT StoreTemplateText(TemplateStore::View& view, const wchar_t* text) {
    if (view.WriteText(text)) return S_OK;
    LogExt(L"CVelnorIEExt::set_Templates() -> refused: %d characters, at most %d fit",
           static_cast<int>(wcslen(text)), static_cast<int>(kMaxTemplateTextLength));
    return E_INVALIDARG;
}

// Whether a write may settle a sign-on's outcome, which the log then records for audit.
bool MayChangeOutcomes(const wchar_t* text) {
    return text && IsLogLevel(2) && wcsstr(text, L"\"outcome\"") != nullptr;
}

// One line per outcome a write sets: the site and the outcome, never who signed on or with what.
void LogOutcomes(std::wstring_view before, std::wstring_view after) {
    try {
        for (const std::wstring& line : OutcomeChanges(before, after))
            LogExt(L"CVelnorIEExt::set_Templates() -> outcome: %s", line.c_str());
    } catch (...) {
        // Out of memory: the audit line is lost like any other log line that cannot be written.
    }
}

}  // namespace


// The object itself, not a page's binding: what script reaches by creating the class
// (new ActiveXObject in an intranet page, an HTA). Under isolation it is no page of the browser,
// so it reads an empty array and cannot write; programs of the session use the store itself.
STDMETHODIMP CVelnorIEExt::get_Templates(BSTR* pVal) {
    if (ReachesWholeStore()) return ReadWholeStore(pVal);
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_Templates()");
    LogExt(L"CVelnorIEExt::get_Templates() -> isolated: the object is bound to no page");
    *pVal = SysAllocString(L"[]");
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CVelnorIEExt::put_Templates(BSTR newVal) {
    if (ReachesWholeStore()) return WriteWholeStore(newVal);
    LogExt(L"CVelnorIEExt::set_Templates()");
    LogExt(L"CVelnorIEExt::set_Templates() -> refused: the object is bound to no page");
    return E_ACCESSDENIED;
}

HRESULT CVelnorIEExt::ReadWholeStore(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    TemplateStore::View store = m_templateStore.Access();
    if (!store) {
        LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
        *pVal = SysAllocString(L"");
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    const size_t length = store.TextLength();
    *pVal = SysAllocStringLen(store.Text(), static_cast<UINT>(length));
    if (!*pVal) return E_OUTOFMEMORY;
    // The templates carry the passwords that their actions type, so the log shows only how
    // much text there is, never the text itself.
    LogExt(L"CVelnorIEExt::get_Templates() -> %s", TemplateSummary(length).c_str());
    return S_OK;
}

HRESULT CVelnorIEExt::WriteWholeStore(BSTR newVal) {
    LogExt(L"CVelnorIEExt::set_Templates()");
    {
        TemplateStore::View store = m_templateStore.Access();
        if (!store) {
            LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
            return S_OK;
        }
        const bool audit = MayChangeOutcomes(newVal);
        std::wstring before;
        if (audit) before = std::wstring(store.Text(), store.TextLength());
        RETURN_IF_FAILED(StoreTemplateText(store, newVal));
        LogExt(L"CVelnorIEExt::set_Templates() -> updated");
        if (audit) LogOutcomes(before, newVal);
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}

// ---- Templates as a page reaches it (through its binding) ----

bool CVelnorIEExt::IsolatesPage(const PageContext& page) const {
    return m_templateIsolation && !IsTrustedPortal(m_trustedPortals, page.url);
}

HRESULT CVelnorIEExt::GetTemplatesForPage(const PageContext& page, BSTR* pVal) {
    if (!IsolatesPage(page)) return ReadWholeStore(pVal);
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    try {
        std::wstring text;
        {
            TemplateStore::View store = m_templateStore.Access();
            if (!store) {
                LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
                *pVal = SysAllocString(L"");
                return *pVal ? S_OK : E_OUTOFMEMORY;
            }
            text = store.ReadText();
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
    if (!IsolatesPage(page)) return WriteWholeStore(newVal);
    LogExt(L"CVelnorIEExt::set_Templates()");
    try {
        // Read, merge and write under the store's lock, so that no other writer comes between.
        TemplateStore::View store = m_templateStore.Access();
        if (!store) {
            LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
            return S_OK;
        }
        const std::wstring stored = store.ReadText();
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
        RETURN_IF_FAILED(StoreTemplateText(store, merged.c_str()));
        LogExt(L"CVelnorIEExt::set_Templates() -> updated");
        if (MayChangeOutcomes(merged.c_str())) LogOutcomes(stored, merged);
    } catch (...) {
        return ResultFromCaughtException();
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}
