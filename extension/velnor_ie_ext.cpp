// Identity, lifetime, site handling and browser-event routing of the extension object.
#include "extension/velnor_ie_ext.h"

#include "common/hresult.h"
#include "extension/page_mirror.h"
#include "extension/store_access.h"
#include "extension/template_store.h"
#include "extension/timer_map.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "server/module.h"

#include <exdispid.h>
#include <shobjidl.h>

#include <algorithm>
#include <new>

HRESULT CVelnorIEExt::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CVelnorIEExt* object = nullptr;
    try {
        object = new CVelnorIEExt();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    // new → AddRef → QueryInterface → Release: a failed query frees the object.
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

CVelnorIEExt::CVelnorIEExt() {
    LockModule();
    m_templateIsolation = ReadTemplateIsolationSetting();
    if (m_templateIsolation) m_trustedPortals = ReadTrustedPortalsSetting();
    // Open the template store. The first object of the session creates and clears it; the
    // store lock keeps a concurrent first writer from being wiped by that clearing.
    m_templateSize = kTemplateStoreSize;
    m_templateLock.reset(CreateTemplateStoreLock());
    TemplateStoreLockScope lock(m_templateLock.get());
    m_templateMapping.reset(CreateTemplateStore(nullptr));
}

CVelnorIEExt::~CVelnorIEExt() {
    // No timer of a destroyed object may fire into it.
    KillAllTimers();
    if (m_templateView) {
        UnmapViewOfFile(m_templateView);
        m_templateView = nullptr;
    }
    m_templateMapping.reset();
    m_webBrowser.reset();
    m_site.reset();
    UnlockModule();
}

STDMETHODIMP CVelnorIEExt::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (InlineIsEqualGUID(iid, IID_IVelnorIEExt) || InlineIsEqualGUID(iid, IID_IUnknown) ||
        InlineIsEqualGUID(iid, IID_IDispatch))
        *out = static_cast<IVelnorIEExt*>(this);
    else if (InlineIsEqualGUID(iid, IID_IObjectWithSite))
        *out = static_cast<IObjectWithSite*>(this);
    else if (InlineIsEqualGUID(iid, IID_IAuthenticate))
        *out = static_cast<IAuthenticate*>(this);
    else if (InlineIsEqualGUID(iid, IID_IServiceProvider))
        *out = static_cast<IServiceProvider*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CVelnorIEExt::AddRef() {
    return ++m_refCount;
}

STDMETHODIMP_(ULONG) CVelnorIEExt::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
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
    // A debug period this object started ends with it, so that tracing is never left on for
    // the session; a period that another object's later write started is not touched.
    if (m_debugTimerId != 0) {
        StoreAccess store(*this);
        if (store.view() && ReadDebugTime(store.view()) == m_debugTimeWritten) {
            WriteDebugTime(store.view(), 0);
            LogExt(L"CVelnorIEExt::put_DebugTime() -> ended early: %d", static_cast<int>(m_debugTimeWritten));
        }
    }
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
    if (!out) return E_POINTER;
    if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, IID_IDispatch) ||
        InlineIsEqualGUID(iid, DIID_DWebBrowserEvents2)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
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
    try {
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
        case DISPID_DOCUMENTCOMPLETE:
            if (count != 2 || !args) break;
            m_owner->OnDocumentComplete(DispatchArgument(args[1]), VariantArgument(args[0]));
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
    } catch (...) {
        return ResultFromCaughtException();
    }
    return S_OK;
}
