#include "extension/store_access.h"

#include "common/hresult.h"
#include "common/text.h"
#include "common/wide_format.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "templates/store_merge.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"
#include "templates/template_isolation.h"

#include <algorithm>

namespace {

// An id for this window or tab that no page can know before it sees it: a new GUID's text.
std::wstring NewTabId() {
    GUID id = {};
    wchar_t text[40] = {};
    if (FAILED(CoCreateGuid(&id)) || !StringFromGUID2(id, text, ARRAYSIZE(text))) return std::wstring();
    return std::wstring(text + 1, wcslen(text) - 2);   // without the braces
}

std::wstring TemplateSummary(size_t length) {
    return FormatWide(L"<%d characters>", static_cast<int>(length));
}

// A text that would not fit with its terminator is refused whole: nothing is written past the
// section and the stored text stays as it was. The caller learns of it.
HRESULT StoreTemplateText(TemplateStore::View& view, const wchar_t* text) {
    if (!view.locked()) {
        // Written without the lock, it could undo what another tab writes at this moment.
        LogExt(L"CVelnorIEExt::set_Templates() -> refused: the store's lock was not free within %d ms",
               static_cast<int>(kStoreLockWaitMs));
        return E_FAIL;
    }
    if (view.WriteText(text)) return S_OK;
    LogExt(L"CVelnorIEExt::set_Templates() -> refused: %d characters, at most %d fit",
           static_cast<int>(wcslen(text)), static_cast<int>(kMaxTemplateTextLength));
    return E_INVALIDARG;
}

// Whether a write may settle a sign-on's outcome, which the log then records for audit.
bool MayChangeOutcomes(std::wstring_view text) {
    return IsLogLevel(2) && text.find(L"\"outcome\"") != std::wstring_view::npos;
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

StoreAccess::StoreAccess(ThreadTimers& timers) : m_debugPeriod(m_templateStore, timers), m_tabId(NewTabId()) {
    m_templateIsolation = ReadTemplateIsolationSetting();
    if (m_templateIsolation) {
        std::vector<std::wstring> refused;
        m_trustedPortals = TrustedPortalOrigins(ReadTrustedPortalsSetting(), &refused);
        for (const std::wstring& entry : refused)
            LogExt(L"CVelnorIEExt::CVelnorIEExt() -> TrustedPortals: '%s' refused, a portal is an https origin only",
                   entry.c_str());
    }
    // The first object of the session creates and clears the store.
    m_templateStore = TemplateStore(TemplateStore::Mode::kCreateOrOpen);
    if (m_templateStore.refusal())
        LogExt(L"CVelnorIEExt::CVelnorIEExt() -> template store refused: %s", m_templateStore.refusal());
}

bool StoreAccess::IsolatesPage(const PageContext* page) const {
    return m_templateIsolation && !(page && IsTrustedPortal(m_trustedPortals, page->url));
}

HRESULT StoreAccess::GetTemplates(PageContext* page, BSTR* pVal) {
    if (!page) {
        if (m_templateIsolation) {
            // No page of the browser: programs of the session use the store itself.
            if (!pVal) return E_POINTER;
            LogExt(L"CVelnorIEExt::get_Templates()");
            LogExt(L"CVelnorIEExt::get_Templates() -> isolated: the object is bound to no page");
            *pVal = SysAllocString(L"[]");
            return *pVal ? S_OK : E_OUTOFMEMORY;
        }
        page = &m_unboundPage;
    }
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    try {
        std::wstring text;
        {
            TemplateStore::View store = m_templateStore.Access();
            if (!store) {
                LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
                page->known.clear();
                *pVal = SysAllocString(L"");
                return *pVal ? S_OK : E_OUTOFMEMORY;
            }
            text = store.ReadText();
        }
        if (IsolatesPage(page)) {
            const std::shared_ptr<const ParsedTemplates> parsed = ParseTemplatesCached(text);
            std::vector<CredentialRecord> records;
            text = TemplatesForPage(*parsed, text, page->url, &records);
            if (!parsed->valid) LogExt(L"CVelnorIEExt::get_Templates() -> isolated: the store holds no template array");
            // Remembered from the store (never from the page) for Basic authentication.
            for (CredentialRecord& record : records)
                if (std::find(m_storeCredentials.begin(), m_storeCredentials.end(), record) == m_storeCredentials.end())
                    m_storeCredentials.push_back(std::move(record));
        }
        *pVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!*pVal) return E_OUTOFMEMORY;
        // The templates carry the passwords that their actions type, so the log shows only how
        // much text there is, never the text itself.
        LogExt(L"CVelnorIEExt::get_Templates() -> %s", TemplateSummary(text.size()).c_str());
        page->known = std::move(text);
        return S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}

HRESULT StoreAccess::PutTemplates(PageContext* page, BSTR newVal) {
    LogExt(L"CVelnorIEExt::set_Templates()");
    if (!page) {
        if (m_templateIsolation) {
            LogExt(L"CVelnorIEExt::set_Templates() -> refused: the object is bound to no page");
            return E_ACCESSDENIED;
        }
        page = &m_unboundPage;
    }
    try {
        const std::wstring_view written(newVal ? newVal : L"", newVal ? wcslen(newVal) : 0);
        PageWrite write;
        write.base = page->known;
        write.written = written;
        write.stamp = {page->origin, SecondsSince1970(), m_tabId, page->ordinal};
        write.isolated = IsolatesPage(page);
        write.pageUrl = page->url;
        {
            // Read, merge and write under the store's lock, so that no other writer comes between.
            TemplateStore::View store = m_templateStore.Access();
            if (!store) {
                LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
                return S_OK;
            }
            // Read in place: the store's text is several hundred thousand characters, and a copy
            // of that size is a fresh mapping of memory each time.
            const std::wstring_view stored(store.Text(), store.TextLength());
            std::shared_ptr<const ParsedTemplates> parsed;
            if (write.isolated) parsed = ParseTemplatesCached(stored);
            MergeResult merged;
            switch (MergePageWrite(write, stored, parsed.get(), &merged)) {
                case MergeVerdict::kMerged:
                    break;
                case MergeVerdict::kWrittenTooDeep:
                    LogExt(L"CVelnorIEExt::set_Templates() -> refused: nested deeper than %d levels",
                           static_cast<int>(kMaxJsonDepth));
                    return E_INVALIDARG;
                case MergeVerdict::kStoreNotAnArray:
                    LogExt(L"CVelnorIEExt::set_Templates() -> refused: %s", L"the store holds no template array");
                    return E_INVALIDARG;
                case MergeVerdict::kWrittenNotAnArray:
                    if (write.isolated) {
                        LogExt(L"CVelnorIEExt::set_Templates() -> refused: %s", L"the page wrote no template array");
                        return E_INVALIDARG;
                    }
                    // The store does not read what script puts there: text that is no template
                    // array is kept as written, and no page reads templates from it.
                    merged.unchanged = true;
                    break;
            }
            if (merged.leftOut)
                LogExt(L"CVelnorIEExt::set_Templates() -> left out %d templates for other pages",
                       static_cast<int>(merged.leftOut));
            const bool audit = MayChangeOutcomes(merged.Text(written));
            const std::wstring before = audit ? std::wstring(stored) : std::wstring();
            RETURN_IF_FAILED(StoreTemplateText(store, merged.unchanged ? (newVal ? newVal : L"") : merged.text.c_str()));
            LogExt(L"CVelnorIEExt::set_Templates() -> updated");
            if (audit) LogOutcomes(before, merged.Text(written));
        }
        // The page's array is what it wrote: its next write is a change to that.
        page->known.assign(written.data(), written.size());
    } catch (...) {
        return ResultFromCaughtException();
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}

HRESULT StoreAccess::PutAuthCreds(const PageContext* page, BSTR newVal) {
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    if (IsolatesPage(page)) {
        // Basic authentication answers from the store's own templates: what a page hands over
        // could name any site.
        LogExt(L"CVelnorIEExt::put_AuthCreds() -> ignored under template isolation");
        return S_OK;
    }
    try {
        m_authCreds.assign(newVal ? newVal : L"", newVal ? SysStringLen(newVal) : 0);
    } catch (...) {
        return ResultFromCaughtException();
    }
    return S_OK;
}

// Tracing is switched on for every page of the session, so under isolation neither a page nor
// the object without a page may write it: the store tool and trusted portals do.
HRESULT StoreAccess::PutDebugTime(const PageContext* page, LONG newVal) {
    if (!IsolatesPage(page)) return m_debugPeriod.Write(newVal);
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    LogExt(L"CVelnorIEExt::put_DebugTime() -> refused under template isolation");
    return E_ACCESSDENIED;
}

std::vector<CredentialRecord> StoreAccess::BasicRecords(size_t* recordCount) {
    if (!m_templateIsolation) return ParseCredentials(m_authCreds, recordCount);
    // The store's own templates (those pages of this window read before, then what the store
    // holds now), and what a trusted portal handed over; never what any other page handed over.
    std::vector<CredentialRecord> records = m_storeCredentials;
    {
        TemplateStore::View store = m_templateStore.Access();
        if (store) {
            const std::vector<CredentialRecord> stored = StoredBasicRecords(*ParseTemplatesCached(store.ReadText()));
            records.insert(records.end(), stored.begin(), stored.end());
        }
    }
    const std::vector<CredentialRecord> handedOver = ParseCredentials(m_authCreds);
    records.insert(records.end(), handedOver.begin(), handedOver.end());
    *recordCount = records.size();
    return records;
}
