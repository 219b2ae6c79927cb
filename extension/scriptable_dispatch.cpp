// IDispatch of IVelnorIEExt through the type library in the module's own resources, for every
// object that implements the interface (the extension object and the page bindings).
#include "extension/scriptable_dispatch.h"

#include "common/com_ptr.h"
#include "common/critical_section.h"
#include "common/hresult.h"
#include "common/module.h"
#include "common/module_type_library.h"
#include "common/unique_owner.h"

#include <memory>
#include <new>
#include <utility>

namespace {

// Both halves of IVelnorIEExt's type information, loaded once under the module lock and freed by
// the module's termination list at unload. Kept on the heap, without a static destructor: a
// program that never terminates its module object keeps them to its end.
struct InterfaceTypeInfo {
    ComPtr<ITypeInfo> dispatchHalf;
    ComPtr<ITypeInfo> vtableHalf;
};
InterfaceTypeInfo* g_typeInfo = nullptr;

void ReleaseTypeInfo(void*) {
    delete std::exchange(g_typeInfo, nullptr);
}

HRESULT LoadInterfaceTypeInfo() {
    unique_bstr path;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(g_moduleInstance, nullptr, path.put(), library.put()));
    std::unique_ptr<InterfaceTypeInfo> loaded(new (std::nothrow) InterfaceTypeInfo);
    if (!loaded) return E_OUTOFMEMORY;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IVelnorIEExt, loaded->dispatchHalf.put()));
    // For a dual interface the library hands out the dispatch half; it names the vtable half
    // as its implemented type -1.
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(loaded->dispatchHalf->GetTypeAttr(&attributes));
    const TYPEKIND kind = attributes->typekind;
    loaded->dispatchHalf->ReleaseTypeAttr(attributes);
    loaded->vtableHalf = loaded->dispatchHalf;
    if (kind == TKIND_DISPATCH) {
        HREFTYPE vtableType = 0;
        RETURN_IF_FAILED(loaded->dispatchHalf->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableType));
        RETURN_IF_FAILED(loaded->dispatchHalf->GetRefTypeInfo(vtableType, loaded->vtableHalf.put()));
    }
    RETURN_IF_FAILED(AddTerminationCallback(ReleaseTypeInfo, nullptr));
    g_typeInfo = loaded.release();
    return S_OK;
}

}  // namespace

HRESULT GetScriptableTypeInfo(TypeInfoHalf half, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CVelnorIEModule* module = GetModule();
    if (!module) return E_UNEXPECTED;
    const critical_section_lock lock(module->ModuleLock());
    RETURN_IF_FAILED(g_typeInfo ? S_OK : LoadInterfaceTypeInfo());
    return (half == TypeInfoHalf::kDispatch ? g_typeInfo->dispatchHalf : g_typeInfo->vtableHalf).CopyTo(out);
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
