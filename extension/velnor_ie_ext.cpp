// The extension object: its parts joined, its interfaces, the handlers of the browser's events
// and the callback of its timers.
#include "extension/velnor_ie_ext.h"

#include "common/hresult.h"
#include "common/unique_owner.h"
#include "extension/basic_auth.h"
#include "extension/page_injection.h"
#include "extension/timer_map.h"
#include "logging/log_writer.h"

namespace {

constexpr UINT kPageTimerMs = 1000;

}  // namespace

HRESULT CVelnorIEExt::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateComObject([] { return new CVelnorIEExt(); }, iid, out);
}

// Each part is given the parts it uses, all declared before it (the browser connection, the
// object's own interfaces); the members of IVelnorIEExt, a base, are given two parts made after
// them, which they use only when called.
CVelnorIEExt::CVelnorIEExt()
    : ComObject(m_store, m_elements),
      m_browser(static_cast<IVelnorIEExt*>(this), this, static_cast<IServiceProvider*>(this)),
      m_timers(this, &CVelnorIEExt::OnUpdate),
      m_store(m_timers),
      m_elements(m_browser) {}

CVelnorIEExt::~CVelnorIEExt() {
    StopTimers();
}

void CVelnorIEExt::StopTimers() {
    m_store.Debug().EndEarly();
    m_timers.StopAll();
}

STDMETHODIMP CVelnorIEExt::SetSite(IUnknown* site) {
    LogExt(L"CVelnorIEExt::SetSite(%d)", site ? 1 : 0);
    const HRESULT hr = m_browser.SetSite(site);
    // An unsited object gets no more timer callbacks.
    if (!site) StopTimers();
    return hr;
}

STDMETHODIMP CVelnorIEExt::GetSite(REFIID iid, void** out) {
    return m_browser.GetSite(iid, out);
}

STDMETHODIMP CVelnorIEExt::Authenticate(HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) {
    return AnswerBasicChallenge(m_navigations, m_store, m_browser.Browser(), phwnd, pszUsername, pszPassword);
}

// The browser asks for IAuthenticate through the proffered service; any service is answered
// like QueryInterface.
STDMETHODIMP CVelnorIEExt::QueryService(REFGUID, REFIID iid, void** out) {
    return QueryInterface(iid, out);
}

HRESULT CVelnorIEExt::CreatePageBinding(IVelnorIEExt** binding) {
    *binding = nullptr;
    try {
        return CPageBinding::Create(this, m_pages.ShownPage(m_browser), binding);
    } catch (...) {
        return ResultFromCaughtException();
    }
}

// ---- the timers' callback ----

void CALLBACK CVelnorIEExt::OnUpdate(HWND window, UINT, UINT_PTR timerId, DWORD) {
    LogExt(L"CVelnorIEExt::OnUpdate()");
    CVelnorIEExt* object = TimerMapLookup(timerId);
    if (!object) return;
    if (timerId == object->m_store.Debug().TimerId())
        object->m_store.Debug().Expire(window, timerId);
    else
        object->AttemptInjection(window, timerId);
}

void CVelnorIEExt::AttemptInjection(HWND window, UINT_PTR timerId) {
    // The page may release the object while its script runs; keep it alive until done.
    const ComPtr<IVelnorIEExt> keepAlive(this);
    bool done = false;
    try {
        // The page gets the object bound to its own document.
        unique_variant value;
        V_VT(value.get()) = VT_DISPATCH;
        IVelnorIEExt* binding = nullptr;
        if (FAILED(CreatePageBinding(&binding))) return;   // out of memory: the next period tries again
        V_DISPATCH(value.get()) = binding;
        done = AddExternalObject(m_browser.Browser(), L"VelnorIEExt", value.get());
    } catch (...) {
        // A timer callback is the boundary: nothing may unwind into the system's timer dispatch.
        done = false;   // out of memory: the next period tries again
    }
    if (!done) return;
    LogExt(L"CVelnorIEExt::OnUpdate() -> kill object");
    m_timers.Stop(timerId, window);
    LogExt(L"CVelnorIEExt::OnUpdate() -> finished");
}

// ---- the handlers of the browser's events ----

void CVelnorIEExt::OnBeforeNavigate(IDispatch* frame, VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                    VARIANT_BOOL*) noexcept {
    BSTR text = nullptr;
    if (url && V_VT(url) == VT_BSTR) text = V_BSTR(url);
    else if (url && V_VT(url) == (VT_BSTR | VT_BYREF)) text = *V_BSTRREF(url);
    std::wstring address;
    try {
        if (text) address.assign(text, SysStringLen(text));
    } catch (...) {
        address.clear();   // out of memory: traced as empty, and no challenge is answered
    }
    LogExt(L"CVelnorIEExt::OnBeforeNavigate(%s)", address.c_str());
    // The navigation is never cancelled or changed.
    const bool topLevel = m_browser.IsTopLevel(frame);
    m_navigations.Began(frame, topLevel, address);
    if (!topLevel) LogExt(L"CVelnorIEExt::OnBeforeNavigate() -> frame: selects no credentials");
}

void CVelnorIEExt::OnNavigateComplete(IDispatch* frame, VARIANT*) noexcept {
    LogExt(L"CVelnorIEExt::OnBeforeNavigate()");
    m_navigations.Completed(frame, m_browser.IsTopLevel(frame));
}

void CVelnorIEExt::OnNavigateError(IDispatch* frame) noexcept {
    LogExt(L"CVelnorIEExt::OnNavigateError()");
    m_navigations.Failed(frame, m_browser.IsTopLevel(frame));
}

void CVelnorIEExt::OnFileDownload(bool activeDocument) noexcept {
    m_navigations.FileDownloadStarts(activeDocument);
}

void CVelnorIEExt::OnDownloadComplete() noexcept {
    m_navigations.DownloadsComplete(m_browser.IsBusy());
}

void CVelnorIEExt::OnDocumentComplete(IDispatch* frame, VARIANT*) noexcept {
    LogExt(L"CVelnorIEExt::OnDocumentComplete()");
    m_navigations.DocumentCompleted(m_browser.IsTopLevel(frame));
    IWebBrowser2* browser = m_browser.Browser();
    READYSTATE state = READYSTATE_UNINITIALIZED;
    const HRESULT hr = browser ? browser->get_ReadyState(&state) : E_POINTER;
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> ReadyState=%d", static_cast<int>(state));
    if (FAILED(hr) || (state != READYSTATE_INTERACTIVE && state != READYSTATE_COMPLETE)) return;

    unique_bstr name(SysAllocString(L"VelnorIEExtStatus"));
    unique_variant status;
    V_VT(status.get()) = VT_BSTR;
    V_BSTR(status.get()) = SysAllocString(L"ready");
    // Out of memory: this document is not prepared; the page's next DocumentComplete tries again.
    if (!name || !V_BSTR(status.get())) return;
    browser->PutProperty(name.get(), *status.get());

    try {
        ReadDocumentInfo(browser, m_documentTitle, m_documentUrl);
    } catch (...) {
        return;   // out of memory, as above
    }
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> %s : %s", m_documentUrl.c_str(), m_documentTitle.c_str());
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> start object");
    // Every accepted DocumentComplete (the page and each frame) adds its own page timer.
    if (m_timers.Start(kPageTimerMs) == 0)
        LogExt(L"CVelnorIEExt::OnDocumentComplete() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> finished");
}

void CVelnorIEExt::OnPropertyChange(BSTR name) noexcept {
    LogExt(L"CVelnorIEExt::OnPropertyChange(%s)", name ? name : L"");
    if (lstrcmpiW(name ? name : L"", L"VelnorIEExtSSOData") != 0) return;
    unique_bstr propertyName(SysAllocString(L"VelnorIEExtSSOData"));
    if (!propertyName) return;   // out of memory: the change goes untraced
    unique_variant value;
    if (IWebBrowser2* browser = m_browser.Browser()) browser->GetProperty(propertyName.get(), value.get());
    if (V_VT(value.get()) == VT_BSTR)
        LogExt(L"CVelnorIEExt::OnPropertyChange() -> value: %s", V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
    else
        LogExt(L"CVelnorIEExt::OnPropertyChange() -> type: %d", static_cast<int>(V_VT(value.get())));
}
