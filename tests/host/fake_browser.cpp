// The fake browser: IWebBrowser2, its DWebBrowserEvents2 connection point, and the service
// provider with IProfferService.
#include "host/fake_com.h"

#include "host/browser_host.h"

#include <exdispid.h>

namespace host {

std::map<const void*, std::vector<std::string>*>& NotImplementedSinks();

struct FakeBrowser::Object {
    IWebBrowser2 browser;
    IConnectionPointContainer container;
    IConnectionPoint point;
    IServiceProvider provider;
    IProfferService proffer;
    RefCount count;
    FakeBrowser* state = nullptr;
    IDispatch* sink = nullptr;
    DWORD sinkCookie = 0;
    DWORD nextCookie = 0;
    IServiceProvider* proffered = nullptr;

    ULONG AddRef() { return count.Add(); }
    ULONG Release() {
        ULONG remaining = 0;
        if (count.Drop(&remaining)) {
            if (sink) IDispatch_Release(sink);
            if (proffered) IServiceProvider_Release(proffered);
            NotImplementedSinks().erase(&browser);
            delete this;
        }
        return remaining;
    }
    HRESULT QueryInterface(REFIID iid, void** out);
};

namespace {

using Object = FakeBrowser::Object;

}  // namespace

HRESULT FakeBrowser::Object::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IWebBrowser) ||
        IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser2))
        *out = &browser;
    else if (IsEqualIID(iid, IID_IConnectionPointContainer) && state && state->offerConnectionPoints)
        *out = &container;
    else if (IsEqualIID(iid, IID_IServiceProvider) && state && state->offerServiceProvider)
        *out = &provider;
    else if (IsEqualIID(iid, IID_IConnectionPoint))
        *out = &point;
    else if (IsEqualIID(iid, IID_IProfferService))
        *out = &proffer;
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

namespace {

// ---- IWebBrowser2 ----
Object* FromBrowser(IWebBrowser2* self) { return HOST_IMPL_FROM(Object, browser, self); }

HOST_IUNKNOWN(Browser, Object, browser, IWebBrowser2)

HRESULT STDMETHODCALLTYPE Browser_get_Document(IWebBrowser2* self, IDispatch** document) {
    Object* object = FromBrowser(self);
    *document = nullptr;
    if (!object->state || !object->state->document) return S_OK;
    *document = object->state->document->Interface();
    IDispatch_AddRef(*document);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Browser_get_ReadyState(IWebBrowser2* self, READYSTATE* state) {
    Object* object = FromBrowser(self);
    if (!object->state) return E_FAIL;
    *state = object->state->readyState;
    return object->state->readyStateResult;
}

HRESULT STDMETHODCALLTYPE Browser_PutProperty(IWebBrowser2* self, BSTR name, VARIANT value) {
    Object* object = FromBrowser(self);
    if (!object->state) return E_FAIL;
    const std::wstring key(name ? name : L"");
    object->state->properties[key] = Value(value);
    std::string narrow(key.begin(), key.end());
    object->state->calls.push_back("PutProperty " + narrow);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Browser_GetProperty(IWebBrowser2* self, BSTR name, VARIANT* value) {
    Object* object = FromBrowser(self);
    VariantInit(value);
    if (!object->state) return E_FAIL;
    const auto found = object->state->properties.find(name ? name : L"");
    if (found != object->state->properties.end()) VariantCopy(value, found->second.get());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Browser_get_Busy(IWebBrowser2* self, VARIANT_BOOL* busy) {
    Object* object = FromBrowser(self);
    if (!object->state) return E_FAIL;
    *busy = object->state->busy ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Browser_get_HWND(IWebBrowser2* self, SHANDLE_PTR* window) {
    Object* object = FromBrowser(self);
    if (!object->state) return E_FAIL;
    *window = object->state->window;
    return S_OK;
}

const IWebBrowser2Vtbl g_browserVtbl = [] {
    IWebBrowser2Vtbl v = MakeVtable<IWebBrowser2Vtbl>();
    RegisterVtable(&g_browserVtbl, "IWebBrowser2");
#define NI(m) HOST_NOT_IMPLEMENTED(IWebBrowser2Vtbl, v, m)
    NI(GetTypeInfoCount); NI(GetTypeInfo); NI(GetIDsOfNames); NI(Invoke); NI(GoBack); NI(GoForward); NI(GoHome);
    NI(GoSearch); NI(Navigate); NI(Refresh); NI(Refresh2); NI(Stop); NI(get_Application); NI(get_Parent);
    NI(get_Container); NI(get_TopLevelContainer); NI(get_Type); NI(get_Left); NI(put_Left); NI(get_Top);
    NI(put_Top); NI(get_Width); NI(put_Width); NI(get_Height); NI(put_Height); NI(get_LocationName);
    NI(get_LocationURL); NI(Quit); NI(ClientToWindow); NI(get_Name); NI(get_HWND); NI(get_FullName);
    NI(get_Path); NI(get_Visible); NI(put_Visible); NI(get_StatusBar); NI(put_StatusBar); NI(get_StatusText);
    NI(put_StatusText); NI(get_ToolBar); NI(put_ToolBar); NI(get_MenuBar); NI(put_MenuBar); NI(get_FullScreen);
    NI(put_FullScreen); NI(Navigate2); NI(QueryStatusWB); NI(ExecWB); NI(ShowBrowserBar); NI(get_Offline);
    NI(put_Offline); NI(get_Silent); NI(put_Silent); NI(get_RegisterAsBrowser); NI(put_RegisterAsBrowser);
    NI(get_RegisterAsDropTarget); NI(put_RegisterAsDropTarget); NI(get_TheaterMode); NI(put_TheaterMode);
    NI(get_AddressBar); NI(put_AddressBar); NI(get_Resizable); NI(put_Resizable);
#undef NI
    HOST_SET_IUNKNOWN(v, Browser);
    v.get_Document = Browser_get_Document;
    v.get_ReadyState = Browser_get_ReadyState;
    v.PutProperty = Browser_PutProperty;
    v.GetProperty = Browser_GetProperty;
    v.get_HWND = Browser_get_HWND;
    v.get_Busy = Browser_get_Busy;
    return v;
}();

// ---- IConnectionPointContainer ----
Object* FromContainer(IConnectionPointContainer* self) { return HOST_IMPL_FROM(Object, container, self); }

HOST_IUNKNOWN(Container, Object, container, IConnectionPointContainer)
HRESULT STDMETHODCALLTYPE Container_FindConnectionPoint(IConnectionPointContainer* self, REFIID iid,
                                                        IConnectionPoint** point) {
    Object* object = FromContainer(self);
    *point = nullptr;
    if (!IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
    *point = &object->point;
    object->AddRef();
    return S_OK;
}

const IConnectionPointContainerVtbl g_containerVtbl = [] {
    IConnectionPointContainerVtbl v = MakeVtable<IConnectionPointContainerVtbl>();
    RegisterVtable(&g_containerVtbl, "IConnectionPointContainer");
    HOST_SET_IUNKNOWN(v, Container);
    v.FindConnectionPoint = Container_FindConnectionPoint;
    return v;
}();

// ---- IConnectionPoint for DWebBrowserEvents2 ----
Object* FromPoint(IConnectionPoint* self) { return HOST_IMPL_FROM(Object, point, self); }

HOST_IUNKNOWN(Point, Object, point, IConnectionPoint)

HRESULT STDMETHODCALLTYPE Point_Advise(IConnectionPoint* self, IUnknown* sink, DWORD* cookie) {
    Object* object = FromPoint(self);
    *cookie = 0;
    if (!object->state) return E_FAIL;
    object->state->calls.push_back("Advise");
    if (FAILED(object->state->adviseResult)) return object->state->adviseResult;
    if (object->sink) return CONNECT_E_ADVISELIMIT;
    // The browser asks the sink for the event interface and calls it through IDispatch.
    IDispatch* dispatch = nullptr;
    HRESULT hr = IUnknown_QueryInterface(sink, DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
    object->sink = dispatch;
    object->sinkCookie = *cookie = 0x100 + ++object->nextCookie;
    object->state->lastCookie = *cookie;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Point_Unadvise(IConnectionPoint* self, DWORD cookie) {
    Object* object = FromPoint(self);
    if (object->state) object->state->calls.push_back("Unadvise " + std::to_string(cookie));
    if (!object->sink || cookie != object->sinkCookie) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = object->sink;
    object->sink = nullptr;
    object->sinkCookie = 0;
    IDispatch_Release(sink);
    return S_OK;
}

const IConnectionPointVtbl g_pointVtbl = [] {
    IConnectionPointVtbl v = MakeVtable<IConnectionPointVtbl>();
    RegisterVtable(&g_pointVtbl, "IConnectionPoint");
    HOST_SET_IUNKNOWN(v, Point);
    v.Advise = Point_Advise;
    v.Unadvise = Point_Unadvise;
    return v;
}();

// ---- IServiceProvider ----
Object* FromProvider(IServiceProvider* self) { return HOST_IMPL_FROM(Object, provider, self); }

HOST_IUNKNOWN(Provider, Object, provider, IServiceProvider)
HRESULT STDMETHODCALLTYPE Provider_QueryService(IServiceProvider* self, REFGUID service, REFIID iid, void** out) {
    Object* object = FromProvider(self);
    *out = nullptr;
    if (IsEqualGUID(service, SID_SProfferService) && IsEqualIID(iid, IID_IProfferService)) {
        *out = &object->proffer;
        object->AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

const IServiceProviderVtbl g_providerVtbl = [] {
    IServiceProviderVtbl v = MakeVtable<IServiceProviderVtbl>();
    RegisterVtable(&g_providerVtbl, "IServiceProvider (browser)");
    HOST_SET_IUNKNOWN(v, Provider);
    v.QueryService = Provider_QueryService;
    return v;
}();

// ---- IProfferService ----
Object* FromProffer(IProfferService* self) { return HOST_IMPL_FROM(Object, proffer, self); }

HOST_IUNKNOWN(Proffer, Object, proffer, IProfferService)

HRESULT STDMETHODCALLTYPE Proffer_ProfferService(IProfferService* self, REFGUID service, IServiceProvider* provider,
                                                 DWORD* cookie) {
    Object* object = FromProffer(self);
    if (!object->state) return E_FAIL;
    object->state->calls.push_back("ProfferService");
    if (FAILED(object->state->profferResult)) {
        *cookie = 0xDEAD;
        return object->state->profferResult;
    }
    object->state->profferedService = service;
    if (object->proffered) IServiceProvider_Release(object->proffered);
    object->proffered = provider;
    if (provider) IServiceProvider_AddRef(provider);
    *cookie = 0x200 + ++object->nextCookie;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Proffer_RevokeService(IProfferService* self, DWORD cookie) {
    Object* object = FromProffer(self);
    if (object->state) object->state->calls.push_back("RevokeService " + std::to_string(cookie));
    if (object->proffered) IServiceProvider_Release(object->proffered);
    object->proffered = nullptr;
    return S_OK;
}

const IProfferServiceVtbl g_profferVtbl = [] {
    IProfferServiceVtbl v = MakeVtable<IProfferServiceVtbl>();
    RegisterVtable(&g_profferVtbl, "IProfferService");
    HOST_SET_IUNKNOWN(v, Proffer);
    v.ProfferService = Proffer_ProfferService;
    v.RevokeService = Proffer_RevokeService;
    return v;
}();

}  // namespace

FakeBrowser::FakeBrowser() : m_object(new Object) {
    m_object->browser.lpVtbl = const_cast<IWebBrowser2Vtbl*>(&g_browserVtbl);
    m_object->container.lpVtbl = const_cast<IConnectionPointContainerVtbl*>(&g_containerVtbl);
    m_object->point.lpVtbl = const_cast<IConnectionPointVtbl*>(&g_pointVtbl);
    m_object->provider.lpVtbl = const_cast<IServiceProviderVtbl*>(&g_providerVtbl);
    m_object->proffer.lpVtbl = const_cast<IProfferServiceVtbl*>(&g_profferVtbl);
    m_object->state = this;
    NotImplementedSinks()[&m_object->browser] = &unexpectedCalls;
}

FakeBrowser::~FakeBrowser() {
    NotImplementedSinks().erase(&m_object->browser);
    m_object->state = nullptr;
    m_object->Release();
}

IUnknown* FakeBrowser::Site() { return reinterpret_cast<IUnknown*>(&m_object->browser); }
IWebBrowser2* FakeBrowser::Browser() { return &m_object->browser; }
IDispatch* FakeBrowser::Sink() { return m_object->sink; }
IServiceProvider* FakeBrowser::ProfferedProvider() { return m_object->proffered; }

HRESULT FakeBrowser::Fire(DISPID id, std::vector<Value> arguments) {
    if (!m_object->sink) return E_FAIL;
    std::vector<VARIANT> reversed(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) reversed[arguments.size() - 1 - i] = *arguments[i].get();
    DISPPARAMS params = {};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    IDispatch* sink = m_object->sink;
    IDispatch_AddRef(sink);
    const HRESULT hr = IDispatch_Invoke(sink, id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                        nullptr, nullptr);
    IDispatch_Release(sink);
    return hr;
}

namespace {

// A VT_VARIANT | VT_BYREF argument pointing at `target`.
Value ByRef(VARIANT* target) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&v) = target;
    return Value(v);
}

}  // namespace

HRESULT FakeBrowser::FireBeforeNavigate2(const std::wstring& url, IDispatch* frame) {
    Value urlValue(url), flags(0L), target(L""), postData, headers(L"");
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT cancelArgument;
    VariantInit(&cancelArgument);
    V_VT(&cancelArgument) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&cancelArgument) = &cancel;
    IDispatch* frameObject = frame ? frame : reinterpret_cast<IDispatch*>(&m_object->browser);
    return Fire(DISPID_BEFORENAVIGATE2, {Value(frameObject), ByRef(urlValue.get()), ByRef(flags.get()),
                                         ByRef(target.get()), ByRef(postData.get()), ByRef(headers.get()),
                                         Value(cancelArgument)});
}

HRESULT FakeBrowser::FireNavigateComplete2(const std::wstring& url, IDispatch* frame) {
    Value urlValue(url);
    IDispatch* frameObject = frame ? frame : reinterpret_cast<IDispatch*>(&m_object->browser);
    return Fire(DISPID_NAVIGATECOMPLETE2, {Value(frameObject), ByRef(urlValue.get())});
}

HRESULT FakeBrowser::FireNavigateError(const std::wstring& url, IDispatch* frame) {
    Value urlValue(url), target(L""), status(401L);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT cancelArgument;
    VariantInit(&cancelArgument);
    V_VT(&cancelArgument) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&cancelArgument) = &cancel;
    IDispatch* frameObject = frame ? frame : reinterpret_cast<IDispatch*>(&m_object->browser);
    return Fire(DISPID_NAVIGATEERROR, {Value(frameObject), ByRef(urlValue.get()), ByRef(target.get()),
                                       ByRef(status.get()), Value(cancelArgument)});
}

HRESULT FakeBrowser::FireDocumentComplete(const std::wstring& url, IDispatch* frame) {
    Value urlValue(url);
    IDispatch* frameObject = frame ? frame : reinterpret_cast<IDispatch*>(&m_object->browser);
    return Fire(DISPID_DOCUMENTCOMPLETE, {Value(frameObject), ByRef(urlValue.get())});
}

HRESULT FakeBrowser::FireFileDownload(bool activeDocument) {
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT cancelArgument, active;
    VariantInit(&cancelArgument);
    V_VT(&cancelArgument) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&cancelArgument) = &cancel;
    VariantInit(&active);
    V_VT(&active) = VT_BOOL;
    V_BOOL(&active) = activeDocument ? VARIANT_TRUE : VARIANT_FALSE;
    return Fire(DISPID_FILEDOWNLOAD, {Value(active), Value(cancelArgument)});
}

HRESULT FakeBrowser::FireDownloadComplete() { return Fire(DISPID_DOWNLOADCOMPLETE, {}); }

HRESULT FakeBrowser::FirePropertyChange(const std::wstring& name) {
    return Fire(DISPID_PROPERTYCHANGE, {Value(name)});
}

}  // namespace host
