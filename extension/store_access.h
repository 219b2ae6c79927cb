// The template store as script reaches it through one extension object: Templates, AuthCreds and
// DebugTime, for a page (the page's binding) or for none (the object itself, created by script
// with new ActiveXObject or in an HTA, which is a page context of its own), under the template
// isolation rules as the settings were when the object was made (a browser window or tab takes
// a changed setting when it is opened anew). It also keeps what Basic authentication answers
// from: the credentials handed over and, under isolation, those of the store's own templates.
//
// A page's write is applied as a change to what that page last read or wrote, stamped with the
// page's origin, the tab's id and the page's place in the tab (templates/store_merge.h), with
// isolation on and off alike.
#pragma once

#include "extension/debug_period.h"
#include "extension/page_context.h"
#include "extension/thread_timers.h"
#include "templates/credentials.h"
#include "templates/patterns.h"
#include "templates/template_store.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

class StoreAccess {
public:
    // Reads the isolation settings and opens the store (the first object of the session creates
    // and clears it); the debug timer is one of `timers`.
    explicit StoreAccess(ThreadTimers& timers);
    StoreAccess(const StoreAccess&) = delete;
    StoreAccess& operator=(const StoreAccess&) = delete;

    // The members of IVelnorIEExt that reach the store, as `page` reaches them; null: the object
    // without a page. Under isolation the object without a page reads an empty array and cannot
    // write; a page that is no trusted portal's reads and writes its own templates only, hands
    // over no credentials and cannot write DebugTime.
    HRESULT GetTemplates(PageContext* page, BSTR* pVal);
    HRESULT PutTemplates(PageContext* page, BSTR newVal);
    HRESULT PutAuthCreds(const PageContext* page, BSTR newVal);
    HRESULT GetDebugTime(LONG* pVal) const { return m_debugPeriod.Read(pVal); }
    HRESULT PutDebugTime(const PageContext* page, LONG newVal);

    // The records Basic authentication answers from, in order, and how many the log reports
    // (without isolation, the handed-over text's records before any are left out). Throws
    // std::bad_alloc when memory runs out.
    std::vector<CredentialRecord> BasicRecords(size_t* recordCount);

    bool IsolationOn() const { return m_templateIsolation; }
    DebugPeriod& Debug() { return m_debugPeriod; }
    const DebugPeriod& Debug() const { return m_debugPeriod; }
    const std::wstring& AuthCreds() const { return m_authCreds; }
    const std::wstring& TabId() const { return m_tabId; }

private:
    // Whether the page sees only its own templates: isolation on, and (for a page) no trusted
    // portal's page.
    bool IsolatesPage(const PageContext* page) const;

    bool m_templateIsolation = false;
    std::vector<UrlOrigin> m_trustedPortals;
    TemplateStore m_templateStore;   // open for the object's life; mapped only for each operation
    DebugPeriod m_debugPeriod;
    // The credentials text handed over through AuthCreds.
    std::wstring m_authCreds;
    // Under isolation: the Basic records of the templates pages of this window read from the
    // store, so that they answer also after their template has been dropped (as handed-over
    // credentials do without isolation).
    std::vector<CredentialRecord> m_storeCredentials;
    // Who writes the store through this object: its id, stamped on what its pages add or change.
    std::wstring m_tabId;
    // The object reached without a page: what it read of the store.
    PageContext m_unboundPage;
};
