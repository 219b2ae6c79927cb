// IDispatch of IVelnorIEExt through the type information from the module's own "TYPELIB"
// resource, loaded once and released at unload. Both halves of the dual interface are kept: callers of
// IDispatch::GetTypeInfo enumerate members through the dispinterface (TKIND_DISPATCH), while
// DispInvoke calls through the vtable half (TKIND_INTERFACE).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "VelnorIELib.h"

enum class TypeInfoHalf { kDispatch, kVtable };

// A new reference to that half, or a failure (and null).
HRESULT GetScriptableTypeInfo(TypeInfoHalf half, ITypeInfo** out);

// IDispatch of an object implementing IVelnorIEExt, driven by the type information.
HRESULT ScriptableGetTypeInfo(UINT index, ITypeInfo** typeInfo);
HRESULT ScriptableGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
HRESULT ScriptableInvoke(IVelnorIEExt* object, REFIID iid, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError);

// The IDispatch half of IVelnorIEExt for every object that implements the interface (the
// extension object and the page bindings): the type information's members by name.
class ScriptableDispatch : public IVelnorIEExt {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) override {
        return ScriptableGetTypeInfo(index, typeInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return ScriptableGetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
        return ScriptableInvoke(this, iid, id, flags, params, result, exception, argumentError);
    }
};
