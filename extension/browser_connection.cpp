#include "extension/browser_connection.h"

#include "common/com_object.h"
#include "common/hresult.h"

#include <exdispid.h>

HRESULT BrowserConnection::FindBrowserEventsConnectionPoint(IConnectionPoint** point) const {
    *point = nullptr;
    if (!m_webBrowser) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    RETURN_IF_FAILED(m_webBrowser.As(IID_IConnectionPointContainer, &container));
    return container->FindConnectionPoint(DIID_DWebBrowserEvents2, point);
}

HRESULT BrowserConnection::FindProfferService(IProfferService** proffer) const {
    *proffer = nullptr;
    if (!m_webBrowser) return E_POINTER;
    ComPtr<IServiceProvider> provider;
    RETURN_IF_FAILED(m_webBrowser.As(IID_IServiceProvider, &provider));
    return provider->QueryService(SID_SProfferService, IID_IProfferService, reinterpret_cast<void**>(proffer));
}

HRESULT BrowserConnection::SetSite(IUnknown* site) {
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
                    FAILED(proffer->ProfferService(IID_IAuthenticate, m_authService, &m_authServiceCookie)))
                    m_authServiceCookie = 0;
            }
        }
    } else if (m_browserEventsAdvised) {
        // Events are disconnected before the service is revoked.
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(FindBrowserEventsConnectionPoint(point.put()))) point->Unadvise(m_browserEventsCookie);
        m_browserEventsCookie = kNotConnectedCookie;
        ComPtr<IProfferService> proffer;
        if (m_authServiceCookie != 0 && SUCCEEDED(FindProfferService(proffer.put())))
            proffer->RevokeService(m_authServiceCookie);
        m_authServiceCookie = 0;
        m_browserEventsAdvised = false;
    }
    if (site != m_site.get()) m_site = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT BrowserConnection::GetSite(REFIID iid, void** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_site) return E_FAIL;
    return m_site->QueryInterface(iid, out);
}

bool BrowserConnection::IsTopLevel(IDispatch* frame) const {
    if (!frame || !m_webBrowser) return false;
    ComPtr<IUnknown> frameIdentity, browserIdentity;
    if (FAILED(frame->QueryInterface(IID_IUnknown, frameIdentity.put_void())) ||
        FAILED(m_webBrowser->QueryInterface(IID_IUnknown, browserIdentity.put_void())))
        return false;
    return frameIdentity.get() == browserIdentity.get();
}

bool BrowserConnection::IsBusy() const {
    VARIANT_BOOL busy = VARIANT_TRUE;
    return m_webBrowser && SUCCEEDED(m_webBrowser->get_Busy(&busy)) && busy != VARIANT_FALSE;
}

ComPtr<IUnknown> BrowserConnection::DocumentIdentity(ComPtr<IDispatch>* document) const {
    ComPtr<IUnknown> identity;
    if (m_webBrowser && SUCCEEDED(m_webBrowser->get_Document(document->put())) && *document)
        document->As(IID_IUnknown, &identity);
    return identity;
}

bool BrowserConnection::ShowsDocument(IUnknown* identity) const {
    ComPtr<IDispatch> document;
    return identity && DocumentIdentity(&document).get() == identity;
}

// ---- the browser event sink ----

STDMETHODIMP BrowserConnection::EventSink::QueryInterface(REFIID iid, void** out) {
    return QueryInterfaceFromList<DWebBrowserEvents2>(this, iid, out);
}

STDMETHODIMP BrowserConnection::EventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP BrowserConnection::EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo) {
    if (typeInfo) *typeInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserConnection::EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
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
// fixed signature is answered S_OK and has no effect; the handlers end their own failures.
STDMETHODIMP BrowserConnection::EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                                  EXCEPINFO*, UINT*) {
    if (!params) return S_OK;
    VARIANTARG* args = params->rgvarg;
    const UINT count = params->cArgs;
    switch (id) {
    case DISPID_BEFORENAVIGATE2: {
        if (count != 7 || !args) break;
        VARIANT_BOOL* cancel = nullptr;
        if (V_VT(&args[0]) == (VT_BOOL | VT_BYREF)) cancel = V_BOOLREF(&args[0]);
        m_events->OnBeforeNavigate(DispatchArgument(args[6]), VariantArgument(args[5]), VariantArgument(args[4]),
                                   VariantArgument(args[3]), VariantArgument(args[2]), VariantArgument(args[1]),
                                   cancel);
        break;
    }
    case DISPID_NAVIGATECOMPLETE2:
        if (count != 2 || !args) break;
        m_events->OnNavigateComplete(DispatchArgument(args[1]), VariantArgument(args[0]));
        break;
    case DISPID_NAVIGATEERROR:
        if (count != 5 || !args) break;
        m_events->OnNavigateError(DispatchArgument(args[4]));
        break;
    case DISPID_DOCUMENTCOMPLETE:
        if (count != 2 || !args) break;
        m_events->OnDocumentComplete(DispatchArgument(args[1]), VariantArgument(args[0]));
        break;
    case DISPID_FILEDOWNLOAD: {
        if (count != 2 || !args) break;
        const VARIANT* active = VariantArgument(args[1]);
        m_events->OnFileDownload(V_VT(active) == VT_BOOL && V_BOOL(active) != VARIANT_FALSE);
        break;
    }
    case DISPID_DOWNLOADCOMPLETE:
        m_events->OnDownloadComplete();
        break;
    case DISPID_PROPERTYCHANGE: {
        if (count != 1 || !args) break;
        VARIANT* name = VariantArgument(args[0]);
        if (V_VT(name) == VT_BSTR)
            m_events->OnPropertyChange(V_BSTR(name));
        else if (V_VT(name) == (VT_BSTR | VT_BYREF))
            m_events->OnPropertyChange(*V_BSTRREF(name));
        break;
    }
    default:
        break;
    }
    return S_OK;
}
