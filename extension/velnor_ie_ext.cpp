// The extension object itself: identity, lifetime, site handling, its timers, the browser's
// event sink and every handler of the browser's events.
#include "extension/velnor_ie_ext.h"

#include "common/com_object.h"
#include "common/hresult.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/page_injection.h"
#include "extension/timer_map.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "xpath/page_mirror.h"

#include <exdispid.h>
#include <shobjidl.h>

#include <algorithm>

namespace {

// NULL string → empty.
std::wstring TextOf(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

constexpr UINT kPageTimerMs = 1000;

}  // namespace

HRESULT CVelnorIEExt::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateComObject([] { return new CVelnorIEExt(); }, iid, out);
}

namespace {

// An id for this window or tab that no page can know before it sees it: a new GUID's text.
std::wstring NewTabId() {
    GUID id = {};
    wchar_t text[40] = {};
    if (FAILED(CoCreateGuid(&id)) || !StringFromGUID2(id, text, ARRAYSIZE(text))) return std::wstring();
    return std::wstring(text + 1, wcslen(text) - 2);   // without the braces
}

}  // namespace

CVelnorIEExt::CVelnorIEExt() : m_tabId(NewTabId()) {
    LockModule();
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

CVelnorIEExt::~CVelnorIEExt() {
    // No timer of a destroyed object may fire into it.
    KillAllTimers();
    m_templateStore.reset();
    m_webBrowser.reset();
    m_site.reset();
    UnlockModule();
}

STDMETHODIMP CVelnorIEExt::QueryInterface(REFIID iid, void** out) {
    static const InterfaceEntry kInterfaces[] = {
        INTERFACE_ENTRY(CVelnorIEExt, IID_IUnknown, IVelnorIEExt),
        INTERFACE_ENTRY(CVelnorIEExt, IID_IDispatch, IVelnorIEExt),
        INTERFACE_ENTRY(CVelnorIEExt, IID_IVelnorIEExt, IVelnorIEExt),
        INTERFACE_ENTRY(CVelnorIEExt, IID_IObjectWithSite, IObjectWithSite),
        INTERFACE_ENTRY(CVelnorIEExt, IID_IAuthenticate, IAuthenticate),
        INTERFACE_ENTRY(CVelnorIEExt, IID_IServiceProvider, IServiceProvider),
    };
    return QueryInterfaceFromTable(this, kInterfaces, iid, out);
}

STDMETHODIMP_(ULONG) CVelnorIEExt::AddRef() {
    return ++m_refCount;
}

STDMETHODIMP_(ULONG) CVelnorIEExt::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

// The browser asks for IAuthenticate through the proffered service; any service is answered
// like QueryInterface.
STDMETHODIMP CVelnorIEExt::QueryService(REFGUID, REFIID iid, void** out) {
    return QueryInterface(iid, out);
}

HRESULT CVelnorIEExt::FindBrowserEventsConnectionPoint(IConnectionPoint** point) {
    *point = nullptr;
    if (!m_webBrowser) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    RETURN_IF_FAILED(m_webBrowser.As(IID_IConnectionPointContainer, &container));
    return container->FindConnectionPoint(DIID_DWebBrowserEvents2, point);
}

HRESULT CVelnorIEExt::FindProfferService(IProfferService** proffer) {
    *proffer = nullptr;
    if (!m_webBrowser) return E_POINTER;
    ComPtr<IServiceProvider> provider;
    RETURN_IF_FAILED(m_webBrowser.As(IID_IServiceProvider, &provider));
    return provider->QueryService(SID_SProfferService, IID_IProfferService, reinterpret_cast<void**>(proffer));
}

STDMETHODIMP CVelnorIEExt::SetSite(IUnknown* site) {
    LogExt(L"CVelnorIEExt::SetSite(%d)", site ? 1 : 0);
    if (site) {
        ComPtr<IWebBrowser2> browser;
        site->QueryInterface(IID_IWebBrowser2, browser.put_void());
        if (m_browserEventsCookie != kNotConnectedCookie) {
            // Still connected (no SetSite(null) in between): a new browser is refused before
            // anything changes, and m_webBrowser keeps the browser the sink is connected to,
            // so that the later SetSite(null) still disconnects from the right one.
            if (browser) return E_FAIL;
        } else {
            m_webBrowser = browser;
            ComPtr<IConnectionPoint> point;
            DWORD cookie = 0;
            if (m_webBrowser && SUCCEEDED(FindBrowserEventsConnectionPoint(point.put())) &&
                SUCCEEDED(point->Advise(&m_eventSink, &cookie))) {
                m_browserEventsCookie = cookie;
                m_browserEventsAdvised = true;
                // Failures here are ignored: the object works on without answering
                // authentication requests. Only a cookie of a successful proffer is kept: a
                // stale one may by now belong to another component's service.
                m_authServiceCookie = 0;
                ComPtr<IProfferService> proffer;
                if (SUCCEEDED(FindProfferService(proffer.put())) &&
                    FAILED(proffer->ProfferService(IID_IAuthenticate, static_cast<IServiceProvider*>(this),
                                                   &m_authServiceCookie)))
                    m_authServiceCookie = 0;
            }
        }
    } else {
        if (m_browserEventsAdvised) {
            ComPtr<IConnectionPoint> point;
            if (SUCCEEDED(FindBrowserEventsConnectionPoint(point.put()))) point->Unadvise(m_browserEventsCookie);
            m_browserEventsCookie = kNotConnectedCookie;
            ComPtr<IProfferService> proffer;
            if (m_authServiceCookie != 0 && SUCCEEDED(FindProfferService(proffer.put())))
                proffer->RevokeService(m_authServiceCookie);
            m_authServiceCookie = 0;
            m_browserEventsAdvised = false;
        }
        // An unsited object gets no more timer callbacks.
        KillAllTimers();
    }
    if (site != m_site.get()) m_site = ComPtr<IUnknown>(site);
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::GetSite(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_site) return E_FAIL;
    return m_site->QueryInterface(iid, out);
}

UINT_PTR CVelnorIEExt::StartTimer(UINT milliseconds) {
    const UINT_PTR timerId = SetTimer(nullptr, 0, milliseconds, &CVelnorIEExt::OnUpdate);
    // A failed SetTimer gives 0, which must never reach the map.
    if (timerId == 0) return 0;
    if (!TimerMapInsert(timerId, this)) {
        KillTimer(nullptr, timerId);
        return 0;
    }
    try {
        m_timerIds.push_back(timerId);
    } catch (...) {
        TimerMapRemove(timerId);
        KillTimer(nullptr, timerId);
        return 0;
    }
    return timerId;
}

void CVelnorIEExt::ForgetTimer(UINT_PTR timerId) {
    m_timerIds.erase(std::remove(m_timerIds.begin(), m_timerIds.end(), timerId), m_timerIds.end());
}

void CVelnorIEExt::KillAllTimers() {
    if (m_debugTimerId != 0) EndDebugPeriodEarly();
    while (!m_timerIds.empty()) {
        const UINT_PTR timerId = m_timerIds.back();
        m_timerIds.pop_back();
        TimerMapRemove(timerId);
        KillTimer(nullptr, timerId);
    }
    m_debugTimerId = 0;
}

// ---- the browser event sink ----

STDMETHODIMP CVelnorIEExt::CBrowserEventSink::QueryInterface(REFIID iid, void** out) {
    static const InterfaceEntry kInterfaces[] = {
        INTERFACE_ENTRY(CBrowserEventSink, IID_IUnknown, IDispatch),
        INTERFACE_ENTRY(CBrowserEventSink, IID_IDispatch, IDispatch),
        INTERFACE_ENTRY(CBrowserEventSink, DIID_DWebBrowserEvents2, IDispatch),
    };
    return QueryInterfaceFromTable(this, kInterfaces, iid, out);
}

STDMETHODIMP CVelnorIEExt::CBrowserEventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::CBrowserEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo) {
    if (typeInfo) *typeInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CVelnorIEExt::CBrowserEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

namespace {

// The browser passes most event arguments as VT_VARIANT | VT_BYREF; a plain variant is
// accepted too.
VARIANT* VariantArgument(VARIANTARG& argument) {
    if (V_VT(&argument) == (VT_VARIANT | VT_BYREF)) return V_VARIANTREF(&argument);
    return &argument;
}

IDispatch* DispatchArgument(VARIANTARG& argument) {
    VARIANT* value = VariantArgument(argument);
    if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN) return V_DISPATCH(value);
    if (V_VT(value) == (VT_DISPATCH | VT_BYREF)) return *V_DISPATCHREF(value);
    return nullptr;
}

}  // namespace

// Arguments arrive in reverse order in rgvarg. An event whose arguments do not bind to the
// fixed signature is answered S_OK and has no effect.
STDMETHODIMP CVelnorIEExt::CBrowserEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                                     VARIANT*, EXCEPINFO*, UINT*) {
    if (!params) return S_OK;
    VARIANTARG* args = params->rgvarg;
    const UINT count = params->cArgs;
    // The handlers end their own failures; nothing they do is thrown back here.
    {
        switch (id) {
        case DISPID_BEFORENAVIGATE2: {
            if (count != 7 || !args) break;
            VARIANT_BOOL* cancel = nullptr;
            if (V_VT(&args[0]) == (VT_BOOL | VT_BYREF)) cancel = V_BOOLREF(&args[0]);
            m_owner->OnBeforeNavigate(DispatchArgument(args[6]), VariantArgument(args[5]),
                                      VariantArgument(args[4]), VariantArgument(args[3]),
                                      VariantArgument(args[2]), VariantArgument(args[1]), cancel);
            break;
        }
        case DISPID_NAVIGATECOMPLETE2:
            if (count != 2 || !args) break;
            m_owner->OnNavigateComplete(DispatchArgument(args[1]), VariantArgument(args[0]));
            break;
        case DISPID_NAVIGATEERROR:
            if (count != 5 || !args) break;
            m_owner->OnNavigateError(DispatchArgument(args[4]));
            break;
        case DISPID_DOCUMENTCOMPLETE:
            if (count != 2 || !args) break;
            m_owner->OnDocumentComplete(DispatchArgument(args[1]), VariantArgument(args[0]));
            break;
        case DISPID_FILEDOWNLOAD: {
            if (count != 2 || !args) break;
            const VARIANT* active = VariantArgument(args[1]);
            m_owner->OnFileDownload(V_VT(active) == VT_BOOL && V_BOOL(active) != VARIANT_FALSE);
            break;
        }
        case DISPID_DOWNLOADCOMPLETE:
            m_owner->OnDownloadComplete();
            break;
        case DISPID_PROPERTYCHANGE: {
            if (count != 1 || !args) break;
            VARIANT* name = VariantArgument(args[0]);
            if (V_VT(name) == VT_BSTR)
                m_owner->OnPropertyChange(V_BSTR(name));
            else if (V_VT(name) == (VT_BSTR | VT_BYREF))
                m_owner->OnPropertyChange(*V_BSTRREF(name));
            break;
        }
        default:
            break;
        }
    }
    return S_OK;
}

// ---- the handlers of the browser's events ----

bool CVelnorIEExt::IsTopLevel(IDispatch* frame) const {
    if (!frame || !m_webBrowser) return false;
    ComPtr<IUnknown> frameIdentity, browserIdentity;
    if (FAILED(frame->QueryInterface(IID_IUnknown, frameIdentity.put_void())) ||
        FAILED(m_webBrowser->QueryInterface(IID_IUnknown, browserIdentity.put_void())))
        return false;
    return frameIdentity.get() == browserIdentity.get();
}

void CVelnorIEExt::FrameNavigationEnded(IDispatch* frame) {
    ComPtr<IUnknown> identity;
    if (!frame || FAILED(frame->QueryInterface(IID_IUnknown, identity.put_void()))) return;
    m_framesNavigating.erase(std::remove_if(m_framesNavigating.begin(), m_framesNavigating.end(),
                                            [&](const ComPtr<IUnknown>& f) { return f.get() == identity.get(); }),
                             m_framesNavigating.end());
}

void CVelnorIEExt::OnBeforeNavigate(IDispatch* frame, VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                    VARIANT_BOOL*) noexcept {
    BSTR text = nullptr;
    if (url && V_VT(url) == VT_BSTR) text = V_BSTR(url);
    else if (url && V_VT(url) == (VT_BSTR | VT_BYREF)) text = *V_BSTRREF(url);
    std::wstring address;
    try {
        address = TextOf(text);
    } catch (...) {
        address.clear();   // out of memory: traced as empty, and no challenge is answered
    }
    LogExt(L"CVelnorIEExt::OnBeforeNavigate(%s)", address.c_str());
    if (!IsTopLevel(frame)) {
        // A page starts frame navigations wherever it likes; a challenge during one may be the
        // frame's, so it never selects credentials and none are answered until it ends.
        try {
            ComPtr<IUnknown> identity;
            if (frame && SUCCEEDED(frame->QueryInterface(IID_IUnknown, identity.put_void()))) {
                FrameNavigationEnded(frame);
                m_framesNavigating.push_back(std::move(identity));
            } else {
                // A frame that cannot be told apart: count it as one that never ends (until
                // the next top-level navigation completes).
                m_framesNavigating.emplace_back();
            }
        } catch (...) {
            ++m_topNavigationsPending;   // out of memory: make the state ambiguous, so nothing is answered
        }
        LogExt(L"CVelnorIEExt::OnBeforeNavigate() -> frame: selects no credentials");
        return;
    }
    // One the browser never reported as ended and that began longer ago than any challenge is
    // answered can draw none any more: it no longer makes the new one ambiguous.
    if (m_topNavigationsPending > 0 && GetTickCount64() - m_navigateStarted > kBasicAuthWindowMs) EndTopNavigations();
    ++m_topNavigationsPending;
    m_navigateStarted = GetTickCount64();
    // Emptied first: should the copy fail, a Basic challenge from the new site must not be
    // answered with the previous site's credentials.
    m_navigateUrl.clear();
    try {
        m_navigateUrl = address;
    } catch (...) {
    }
}

void CVelnorIEExt::OnNavigateComplete(IDispatch* frame, VARIANT*) noexcept {
    LogExt(L"CVelnorIEExt::OnBeforeNavigate()");
    if (IsTopLevel(frame)) {
        // The browser shows the new document: navigations superseded by it have ended, and the
        // frames of the document it replaced are gone.
        EndTopNavigations();
        m_framesNavigating.clear();
    } else {
        FrameNavigationEnded(frame);
    }
}

void CVelnorIEExt::OnNavigateError(IDispatch* frame) noexcept {
    LogExt(L"CVelnorIEExt::OnNavigateError()");
    if (IsTopLevel(frame))
        EndTopNavigations();
    else
        FrameNavigationEnded(frame);
}

void CVelnorIEExt::EndTopNavigations() {
    m_topNavigationsPending = 0;
}

// A navigation that ends in a download (a file, not a document) never completes as a
// navigation: from here on a challenge is some other request's, not the one the URL named.
void CVelnorIEExt::OnFileDownload(bool activeDocument) noexcept {
    if (!activeDocument) EndTopNavigations();
}

// The browser has stopped downloading: a navigation that was stopped, answered "204 No Content"
// or turned into a download ends here without NavigateComplete2 or NavigateError. While the
// browser is still busy it is only some earlier download that ended.
void CVelnorIEExt::OnDownloadComplete() noexcept {
    VARIANT_BOOL busy = VARIANT_TRUE;
    if (!m_webBrowser || FAILED(m_webBrowser->get_Busy(&busy)) || busy == VARIANT_FALSE) EndTopNavigations();
}

void CVelnorIEExt::OnDocumentComplete(IDispatch* frame, VARIANT*) noexcept {
    LogExt(L"CVelnorIEExt::OnDocumentComplete()");
    // The top-level document is there: its navigation is over.
    if (IsTopLevel(frame)) EndTopNavigations();
    READYSTATE state = READYSTATE_UNINITIALIZED;
    const HRESULT hr = m_webBrowser ? m_webBrowser->get_ReadyState(&state) : E_POINTER;
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> ReadyState=%d", static_cast<int>(state));
    if (FAILED(hr) || (state != READYSTATE_INTERACTIVE && state != READYSTATE_COMPLETE)) return;

    unique_bstr name(SysAllocString(L"VelnorIEExtStatus"));
    unique_variant status;
    V_VT(status.get()) = VT_BSTR;
    V_BSTR(status.get()) = SysAllocString(L"ready");
    // Out of memory: this document is not prepared; the page's next DocumentComplete tries again.
    if (!name || !V_BSTR(status.get())) return;
    m_webBrowser->PutProperty(name.get(), *status.get());

    try {
        ReadDocumentInfo(m_webBrowser.get(), m_documentTitle, m_documentUrl);
    } catch (...) {
        return;   // out of memory, as above
    }
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> %s : %s", m_documentUrl.c_str(), m_documentTitle.c_str());
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> start object");
    // Every accepted DocumentComplete (the page and each frame) adds its own page timer.
    if (StartTimer(kPageTimerMs) == 0)
        LogExt(L"CVelnorIEExt::OnDocumentComplete() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    LogExt(L"CVelnorIEExt::OnDocumentComplete() -> finished");
}

void CVelnorIEExt::OnPropertyChange(BSTR name) noexcept {
    LogExt(L"CVelnorIEExt::OnPropertyChange(%s)", name ? name : L"");
    if (lstrcmpiW(name ? name : L"", L"VelnorIEExtSSOData") != 0) return;
    unique_bstr propertyName(SysAllocString(L"VelnorIEExtSSOData"));
    if (!propertyName) return;   // out of memory: the change goes untraced
    unique_variant value;
    if (m_webBrowser) m_webBrowser->GetProperty(propertyName.get(), value.get());
    if (V_VT(value.get()) == VT_BSTR)
        LogExt(L"CVelnorIEExt::OnPropertyChange() -> value: %s", V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
    else
        LogExt(L"CVelnorIEExt::OnPropertyChange() -> type: %d", static_cast<int>(V_VT(value.get())));
}
