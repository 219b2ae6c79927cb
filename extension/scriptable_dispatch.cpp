// IDispatch of IVelnorIEExt through the type library in the module's own resources, for every
// object that implements the interface (the extension object and the page bindings).
#include "extension/scriptable_dispatch.h"

#include "common/com_ptr.h"
#include "common/hresult.h"
#include "common/module.h"
#include "common/module_type_library.h"
#include "common/unique_owner.h"

namespace {

// Both halves of IVelnorIEExt's type information, loaded once under the module lock and
// released by the module's termination list at unload.
ITypeInfo* g_dispatchInfo = nullptr;
ITypeInfo* g_vtableInfo = nullptr;

void ReleaseTypeInfo(void*) {
    if (g_dispatchInfo) g_dispatchInfo->Release();
    if (g_vtableInfo) g_vtableInfo->Release();
    g_dispatchInfo = nullptr;
    g_vtableInfo = nullptr;
}

HRESULT LoadInterfaceTypeInfo() {
    unique_bstr path;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(g_moduleInstance, nullptr, path.put(), library.put()));
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IVelnorIEExt, info.put()));
    // For a dual interface the library hands out the dispatch half; it names the vtable half
    // as its implemented type -1.
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    const TYPEKIND kind = attributes->typekind;
    info->ReleaseTypeAttr(attributes);
    ComPtr<ITypeInfo> vtableInfo = info;
    if (kind == TKIND_DISPATCH) {
        HREFTYPE vtableType = 0;
        RETURN_IF_FAILED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableType));
        RETURN_IF_FAILED(info->GetRefTypeInfo(vtableType, vtableInfo.put()));
    }
    RETURN_IF_FAILED(AddTerminationCallback(ReleaseTypeInfo, nullptr));
    g_dispatchInfo = info.detach();
    g_vtableInfo = vtableInfo.detach();
    return S_OK;
}

}  // namespace

HRESULT GetScriptableTypeInfo(TypeInfoHalf half, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CVelnorIEModule* module = GetModule();
    if (!module) return E_UNEXPECTED;
    EnterCriticalSection(module->ModuleLock());
    const HRESULT hr = g_vtableInfo ? S_OK : LoadInterfaceTypeInfo();
    if (SUCCEEDED(hr)) {
        *out = half == TypeInfoHalf::kDispatch ? g_dispatchInfo : g_vtableInfo;
        (*out)->AddRef();
    }
    LeaveCriticalSection(module->ModuleLock());
    return hr;
}

HRESULT ScriptableGetTypeInfo(UINT index, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetScriptableTypeInfo(TypeInfoHalf::kDispatch, typeInfo);
}

HRESULT ScriptableGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetScriptableTypeInfo(TypeInfoHalf::kVtable, info.put()));
    return DispGetIDsOfNames(info.get(), names, count, ids);
}

HRESULT ScriptableInvoke(IVelnorIEExt* object, REFIID iid, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError) {
    if (!InlineIsEqualGUID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetScriptableTypeInfo(TypeInfoHalf::kVtable, info.put()));
    return DispInvoke(object, info.get(), id, flags, params, result, exception, argumentError);
}
