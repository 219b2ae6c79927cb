// IDispatch of IVelnorIEExt through the type library, and the members Status, TestCall and
// AuthCreds. (Templates and DebugTime: template_properties.cpp; GetElementByXPath:
// xpath_lookup.cpp.)
#include "extension/velnor_ie_ext.h"

#include "common/hresult.h"
#include "logging/log_writer.h"
#include "server/identity.h"
#include "server/module.h"
#include "server/type_library.h"

namespace {

// The type information of IVelnorIEExt, loaded once from the module's own "TYPELIB" resource
// under the module lock and released by the module's termination list at unload.
ITypeInfo* g_typeInfo = nullptr;

void ReleaseTypeInfo(void*) {
    if (g_typeInfo) g_typeInfo->Release();
    g_typeInfo = nullptr;
}

HRESULT LoadInterfaceTypeInfo(ITypeInfo** out) {
    unique_bstr path;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(g_moduleInstance, nullptr, path.put(), library.put()));
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IVelnorIEExt, info.put()));
    // For a dual interface the library hands out the dispatch half; DispInvoke needs the
    // vtable half, which the dispatch half names as its implemented type -1.
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    const TYPEKIND kind = attributes->typekind;
    info->ReleaseTypeAttr(attributes);
    if (kind == TKIND_DISPATCH) {
        HREFTYPE vtableType = 0;
        ComPtr<ITypeInfo> vtableInfo;
        if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableType)) &&
            SUCCEEDED(info->GetRefTypeInfo(vtableType, vtableInfo.put())))
            info = vtableInfo;
    }
    *out = info.detach();
    return S_OK;
}

HRESULT GetInterfaceTypeInfo(ITypeInfo** out) {
    *out = nullptr;
    CVelnorIEModule* module = GetModule();
    if (!module) return E_UNEXPECTED;
    EnterCriticalSection(module->ModuleLock());
    HRESULT hr = S_OK;
    if (!g_typeInfo) {
        hr = LoadInterfaceTypeInfo(&g_typeInfo);
        if (SUCCEEDED(hr) && FAILED(AddTerminationCallback(ReleaseTypeInfo, nullptr))) {
            g_typeInfo->Release();
            g_typeInfo = nullptr;
            hr = E_OUTOFMEMORY;
        }
    }
    if (g_typeInfo) {
        g_typeInfo->AddRef();
        *out = g_typeInfo;
    }
    LeaveCriticalSection(module->ModuleLock());
    return hr;
}

}  // namespace

STDMETHODIMP CVelnorIEExt::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetInterfaceTypeInfo(typeInfo);
}

STDMETHODIMP CVelnorIEExt::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetInterfaceTypeInfo(info.put()));
    return DispGetIDsOfNames(info.get(), names, count, ids);
}

STDMETHODIMP CVelnorIEExt::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT* argumentError) {
    if (!InlineIsEqualGUID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetInterfaceTypeInfo(info.put()));
    return DispInvoke(static_cast<IVelnorIEExt*>(this), info.get(), id, flags, params, result, exception,
                      argumentError);
}

STDMETHODIMP CVelnorIEExt::get_Status(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::AddExternalObject() -> get_Status");
    *pVal = SysAllocString(L"ready");
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CVelnorIEExt::put_Status(BSTR) {
    LogExt(L"CVelnorIEExt::AddExternalObject() -> put_Status");
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::TestCall() {
    MessageBoxW(nullptr, L"TestCallInternal", nullptr, MB_OK);
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::get_AuthCreds(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_AuthCreds()");
    // Handed-over credentials are never read back through the interface.
    *pVal = nullptr;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_AuthCreds(BSTR newVal) {
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    try {
        m_authCreds.assign(newVal ? newVal : L"", newVal ? SysStringLen(newVal) : 0);
    } catch (...) {
        return ResultFromCaughtException();
    }
    return S_OK;
}
