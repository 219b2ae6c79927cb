// CVelnorIEExt: the Browser Helper Object. One per browser window or tab, living in that
// browser thread's single-threaded apartment; its events, page-script calls and timer
// callbacks all arrive on that thread, so its fields need no lock and its reference count
// is plain.
//
// The object is made of parts, each with one job, and only joins them:
//   browser_connection    the site, the browser's event sink, the proffered IAuthenticate service
//   navigation_tracker    the navigations Basic authentication needs to know of
//   thread_timers         its page timers and its debug timer, in g_timerMap (timer_map.h)
//   store_access          Templates, AuthCreds and DebugTime, for a page or none (debug_period)
//   element_lookup        GetElementByXPath, through the XPath library (xpath/)
//   scriptable_members    IVelnorIEExt's members, shared with every page's binding (page_binding)
//   page_injection        the page timer's attempt: publish the page's binding, run the script
//   basic_auth            IAuthenticate's answer
#pragma once

#include "common/com_object.h"
#include "common/module.h"
#include "extension/browser_connection.h"
#include "extension/element_lookup.h"
#include "extension/navigation_tracker.h"
#include "extension/page_binding.h"
#include "extension/scriptable_members.h"
#include "extension/store_access.h"
#include "extension/thread_timers.h"

#include <windows.h>
#include <ocidl.h>
#include <servprov.h>
#include <urlmon.h>

#include <string>
#include <vector>

#include "VelnorIELib.h"

class CVelnorIEExt final
    : public ComObject<CVelnorIEExt, ScriptableMembers, IObjectWithSite, IAuthenticate, IServiceProvider>,
      private BrowserEvents {
public:
    // The class table's instance creator: E_POINTER, CLASS_E_NOAGGREGATION, E_OUTOFMEMORY, or
    // the result of QueryInterface(iid) on a new object (which is freed when that fails).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

    // IUnknown: ComObject (the identity is the IVelnorIEExt interface). IVelnorIEExt and its
    // IDispatch half: ScriptableMembers, for the object without a page.

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** out) override;

    // IAuthenticate
    STDMETHODIMP Authenticate(HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) override;

    // IServiceProvider: answered exactly like QueryInterface, whatever the service.
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override;

    // The thread-timer callback of page timers and debug timers.
    static void CALLBACK OnUpdate(HWND window, UINT message, UINT_PTR timerId, DWORD time);

    // What the page the browser shows now is given as window.VelnorIEExt: a binding of this
    // object to that document (page_binding.h).
    HRESULT CreatePageBinding(IVelnorIEExt** binding);

    // For tests of this class: what the browser cannot see from outside.
    DWORD BrowserEventsCookie() const { return m_browser.EventsCookie(); }
    bool BrowserEventsAdvised() const { return m_browser.EventsAdvised(); }
    UINT_PTR DebugTimerId() const { return m_store.Debug().TimerId(); }
    const std::vector<UINT_PTR>& TimerIds() const { return m_timers.Ids(); }
    const std::wstring& DocumentUrl() const { return m_documentUrl; }
    const std::wstring& DocumentTitle() const { return m_documentTitle; }
    const std::wstring& NavigateUrl() const { return m_navigations.Url(); }
    int TopNavigationsPending() const { return m_navigations.TopNavigationsPending(); }
    const std::wstring& AuthCreds() const { return m_store.AuthCreds(); }
    const std::wstring& TabId() const { return m_store.TabId(); }
    // As if the top-level navigation under way had begun `milliseconds` earlier.
    void BackdateNavigation(ULONGLONG milliseconds) { m_navigations.Backdate(milliseconds); }

private:
    friend ComObject;
    CVelnorIEExt();
    ~CVelnorIEExt();
    CVelnorIEExt(const CVelnorIEExt&) = delete;
    CVelnorIEExt& operator=(const CVelnorIEExt&) = delete;

    // BrowserEvents: the handlers of the browser's events.
    void OnBeforeNavigate(IDispatch* frame, VARIANT* url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                          VARIANT* headers, VARIANT_BOOL* cancel) noexcept override;
    void OnNavigateComplete(IDispatch* frame, VARIANT* url) noexcept override;
    void OnNavigateError(IDispatch* frame) noexcept override;
    void OnDocumentComplete(IDispatch* frame, VARIANT* url) noexcept override;
    void OnFileDownload(bool activeDocument) noexcept override;
    void OnDownloadComplete() noexcept override;
    void OnPropertyChange(BSTR name) noexcept override;

    // A page timer fired: one injection attempt.
    void AttemptInjection(HWND window, UINT_PTR timerId);
    // No timer of this object fires any more; a debug period it started ends with them.
    void StopTimers();

    // The module stays loaded while the object lives: its lock is taken before the parts are
    // made and returned after they are gone.
    struct ModuleReference {
        ModuleReference() noexcept { LockModule(); }
        ~ModuleReference() { UnlockModule(); }
        ModuleReference(const ModuleReference&) = delete;
        ModuleReference& operator=(const ModuleReference&) = delete;
    } m_moduleReference;
    BrowserConnection m_browser;
    NavigationTracker m_navigations;
    ThreadTimers m_timers;
    StoreAccess m_store;
    ElementLookup m_elements;
    PageCounter m_pages;
    // The document at the last accepted DocumentComplete.
    std::wstring m_documentUrl;
    std::wstring m_documentTitle;
};
