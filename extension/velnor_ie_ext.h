// CVelnorIEExt: the Browser Helper Object. One per browser window or tab, living in that
// browser thread's single-threaded apartment; its events, page-script calls and timer
// callbacks all arrive on that thread, so its fields need no lock and its reference count
// is plain.
//
// Where its members live:
//   velnor_ie_ext.cpp        identity, lifetime, site, timers, the event sink and every event handler
//   page_injection.cpp       the page timer: probe, publish the page's binding, run the content script
//   scriptable_members.cpp   Status, TestCall, AuthCreds, GetElementByXPath
//   store_members.cpp        Templates, whole or as a page's binding reaches it
//   debug_period.cpp         DebugTime and the debug period it starts
//   basic_auth.cpp           IAuthenticate
//   scriptable_dispatch.cpp  IDispatch through the type library (shared with the page bindings)
#pragma once

#include "common/com_ptr.h"
#include "extension/page_binding.h"
#include "extension/scriptable_dispatch.h"
#include "templates/credentials.h"
#include "templates/patterns.h"
#include "templates/template_store.h"

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <servprov.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <memory>
#include <string>
#include <vector>

#include "VelnorIELib.h"

class PageMirror;

constexpr DWORD kNotConnectedCookie = 0xFEFEFEFE;
// How long after a top-level navigation began its Basic challenge is answered: a server answers
// 401 with its first response, and a slow intranet server within a minute.
constexpr ULONGLONG kBasicAuthWindowMs = 60000;

class CVelnorIEExt final : public ScriptableDispatch,
                           public IObjectWithSite,
                           public IAuthenticate,
                           public IServiceProvider {
public:
    // The class table's instance creator: E_POINTER, CLASS_E_NOAGGREGATION, E_OUTOFMEMORY, or
    // the result of QueryInterface(iid) on a new object (which is freed when that fails).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

    // IUnknown, from the interface table (the identity is the IVelnorIEExt interface)
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: ScriptableDispatch, driven by the type library in the module's resources.

    // IVelnorIEExt
    STDMETHODIMP get_Status(BSTR* pVal) override;
    STDMETHODIMP put_Status(BSTR newVal) override;
    STDMETHODIMP TestCall() override;
    STDMETHODIMP get_Templates(BSTR* pVal) override;
    STDMETHODIMP put_Templates(BSTR newVal) override;
    STDMETHODIMP GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) override;
    STDMETHODIMP get_AuthCreds(BSTR* pVal) override;
    STDMETHODIMP put_AuthCreds(BSTR newVal) override;
    STDMETHODIMP get_DebugTime(LONG* pVal) override;
    STDMETHODIMP put_DebugTime(LONG newVal) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** out) override;

    // IAuthenticate
    STDMETHODIMP Authenticate(HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) override;

    // IServiceProvider: answered exactly like QueryInterface, whatever the service.
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override;

    // Browser event handlers (DWebBrowserEvents2). Each ends its own failures (traced where
    // the trace says so, else swallowed): nothing is thrown back into the browser.
    void OnBeforeNavigate(IDispatch* frame, VARIANT* url, VARIANT* flags, VARIANT* targetFrameName,
                          VARIANT* postData, VARIANT* headers, VARIANT_BOOL* cancel) noexcept;
    void OnNavigateComplete(IDispatch* frame, VARIANT* url) noexcept;
    void OnNavigateError(IDispatch* frame) noexcept;
    void OnDocumentComplete(IDispatch* frame, VARIANT* url) noexcept;
    void OnFileDownload(bool activeDocument) noexcept;
    void OnDownloadComplete() noexcept;
    void OnPropertyChange(BSTR name) noexcept;

    // Publishes `value` as window property `name` of the top-level page and runs the content
    // script there. True when the page ran the script and gave a result; false also when memory
    // ran out on the way (the next period tries again).
    bool AddExternalObject(const wchar_t* name, VARIANT* value) noexcept;

    // The thread-timer callback of page timers and debug timers.
    static void CALLBACK OnUpdate(HWND window, UINT message, UINT_PTR timerId, DWORD time);

    // What the page the browser shows now is given as window.VelnorIEExt: a binding of this
    // object to that document (page_binding.h).
    HRESULT CreatePageBinding(IVelnorIEExt** binding);
    // Whether the browser's top-level document is the one with that COM identity.
    bool ShowsDocument(IUnknown* document);

    // Templates and AuthCreds as a page bound to `page` reaches them: under template isolation
    // (unless the page belongs to a trusted portal) only that page's templates and no AuthCreds;
    // otherwise the members above.
    HRESULT GetTemplatesForPage(PageContext& page, BSTR* pVal);
    HRESULT PutTemplatesForPage(PageContext& page, BSTR newVal);
    HRESULT PutAuthCredsForPage(const PageContext& page, BSTR newVal);
    HRESULT PutDebugTimeForPage(const PageContext& page, LONG newVal);
    HRESULT TestCallForPage(const PageContext& page);
    bool IsolatesPage(const PageContext& page) const;

    // For tests of this class: what the browser cannot see from outside.
    DWORD BrowserEventsCookie() const { return m_browserEventsCookie; }
    bool BrowserEventsAdvised() const { return m_browserEventsAdvised; }
    UINT_PTR DebugTimerId() const { return m_debugTimerId; }
    const std::vector<UINT_PTR>& TimerIds() const { return m_timerIds; }
    const std::wstring& DocumentUrl() const { return m_documentUrl; }
    const std::wstring& DocumentTitle() const { return m_documentTitle; }
    const std::wstring& NavigateUrl() const { return m_navigateUrl; }
    int TopNavigationsPending() const { return m_topNavigationsPending; }
    const std::wstring& AuthCreds() const { return m_authCreds; }
    const std::wstring& TabId() const { return m_tabId; }
    // As if the top-level navigation under way had begun `milliseconds` earlier.
    void BackdateNavigation(ULONGLONG milliseconds) { m_navigateStarted -= milliseconds; }

private:
    CVelnorIEExt();
    ~CVelnorIEExt();
    CVelnorIEExt(const CVelnorIEExt&) = delete;
    CVelnorIEExt& operator=(const CVelnorIEExt&) = delete;

    // The browser's DWebBrowserEvents2 sink. Counts on the object's own reference count, so an
    // open connection keeps the object alive.
    class CBrowserEventSink final : public IDispatch {
    public:
        explicit CBrowserEventSink(CVelnorIEExt* owner) : m_owner(owner) {}
        // IUnknown, IDispatch and DWebBrowserEvents2, from its own interface table.
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }
        STDMETHODIMP GetTypeInfoCount(UINT* count) override;
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
        STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) override;

    private:
        CVelnorIEExt* m_owner;
    };

    // AddExternalObject's steps; throws when memory runs out.
    bool PublishAndRun(const wchar_t* name, VARIANT* value);

    HRESULT FindBrowserEventsConnectionPoint(IConnectionPoint** point);
    HRESULT FindProfferService(IProfferService** proffer);

    // Timers of this object: started, registered in g_timerMap, and killed with it.
    UINT_PTR StartTimer(UINT milliseconds);
    void ForgetTimer(UINT_PTR timerId);
    void KillAllTimers();

    // Debug periods (debug_period.cpp): the debug timer fired, so the period ends; and the end
    // of a period this object started, when its timers are killed before that.
    void EndDebugPeriod(HWND window, UINT_PTR timerId);
    void EndDebugPeriodEarly();

    // Whether an event's frame object is the browser itself (the top-level page), by COM identity.
    bool IsTopLevel(IDispatch* frame) const;
    // A frame's navigation ended (completed or failed): it can no longer draw a challenge.
    void FrameNavigationEnded(IDispatch* frame);
    // Whether the whole store is this object's to read and write: isolation off, or (for a page's
    // binding) a trusted portal's page. The object itself, reached without a page
    // (new ActiveXObject, an HTA), is no page of the browser.
    bool ReachesWholeStore() const { return !m_templateIsolation; }
    // No navigation can draw a challenge any more: the next one arms Basic authentication anew.
    void EndTopNavigations();
    HRESULT WriteDebugTime(LONG newVal);
    HRESULT StoreAuthCreds(BSTR newVal);

    ULONG m_refCount = 0;
    CBrowserEventSink m_eventSink{this};

    ComPtr<IUnknown> m_site;
    DWORD m_browserEventsCookie = kNotConnectedCookie;
    UINT_PTR m_debugTimerId = 0;
    LONG m_debugTimeWritten = 0;        // what put_DebugTime stored when it started the debug timer
    bool m_browserEventsAdvised = false;
    DWORD m_authServiceCookie = 0;
    ComPtr<IWebBrowser2> m_webBrowser;
    TemplateStore m_templateStore;      // open for the object's life; mapped only for each operation
    std::wstring m_documentUrl;
    std::wstring m_documentTitle;
    // Basic authentication's view of navigations. IAuthenticate carries no URL, so a challenge is
    // answered only while it can belong to one top-level navigation alone: m_navigateUrl is the
    // URL of the last top-level BeforeNavigate2, m_topNavigationsPending counts those begun since
    // the last top-level NavigateComplete2 or NavigateError, and m_framesNavigating holds the
    // frames (by COM identity) whose navigation has begun and not ended since then.
    std::wstring m_navigateUrl;
    int m_topNavigationsPending = 0;
    ULONGLONG m_navigateStarted = 0;    // GetTickCount64 at the last top-level BeforeNavigate2
    std::vector<ComPtr<IUnknown>> m_framesNavigating;
    std::wstring m_authCreds;
    std::vector<UINT_PTR> m_timerIds;   // page and debug timers registered in g_timerMap
    std::unique_ptr<PageMirror> m_pageMirror;   // XPath's reusable mirror; holds no page element between lookups

    // Template isolation, as the settings were when the object was made (a browser window or tab
    // takes a changed setting when it is opened anew).
    bool m_templateIsolation = false;
    std::vector<UrlOrigin> m_trustedPortals;
    // Under isolation: the Basic records of the templates pages of this window read from the
    // store, so that they answer also after their template has been dropped (as handed-over
    // credentials do without isolation).
    std::vector<CredentialRecord> m_storeCredentials;

    // Who writes the store through this object: its id, stamped on what its pages add or change
    // (store_merge.h), and the pages it has published into, counted by document.
    std::wstring m_tabId;
    long long m_pageOrdinal = 0;
    ComPtr<IUnknown> m_lastPageDocument;
    // The object reached without a page (new ActiveXObject, an HTA): what it read of the store.
    PageContext m_unboundPage;
};
