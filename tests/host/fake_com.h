// Building fake COM objects from the headers' C vtables (CINTERFACE): every slot starts as a
// stub that fails the test run at once, naming the interface and slot; the fake then fills in
// the members it implements by name, with their exact types. A fake object is a struct that
// embeds its interfaces, as in Wine's own code.
//
// Include this header first, and only in the host's implementation files: the rest of the
// tests see the C++ interfaces. Both views mangle the interface names alike, so pointers pass
// between them unchanged.
#pragma once

#ifndef CINTERFACE
#define CINTERFACE
#endif
#ifndef COBJMACROS
#define COBJMACROS
#endif

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <exdisp.h>
#include <mshtml.h>
#include <dispex.h>
#include <servprov.h>
#include <shobjidl.h>
#include <msxml2.h>

#include <cstddef>
#include <utility>

namespace host {

// Prints "unexpected call: <interface> slot <n>" and ends the process: a stdcall stub cannot
// return safely without knowing its arguments, and a loud stop is what a fake owes the test.
[[noreturn]] void UnexpectedCall(const void* self, size_t slot);
void RegisterVtable(const void* vtable, const char* interfaceName);

template <size_t Slot>
HRESULT STDMETHODCALLTYPE UnexpectedSlot(void* self) {
    UnexpectedCall(self, Slot);
}

template <typename Vtbl, size_t... Slots>
void FillUnexpectedSlots(Vtbl& vtbl, std::index_sequence<Slots...>) {
    void** slots = reinterpret_cast<void**>(&vtbl);
    ((slots[Slots] = reinterpret_cast<void*>(&UnexpectedSlot<Slots>)), ...);
}

// A vtable whose every slot fails loudly until set.
template <typename Vtbl>
Vtbl MakeVtable() {
    Vtbl vtbl;
    FillUnexpectedSlots(vtbl, std::make_index_sequence<sizeof(Vtbl) / sizeof(void*)>());
    return vtbl;
}

// The object that embeds interface member `Member` at `iface`.
template <typename Object, typename Interface>
Object* ObjectFrom(Interface* iface, size_t offset) {
    return reinterpret_cast<Object*>(reinterpret_cast<char*>(iface) - offset);
}
#define HOST_IMPL_FROM(Object, member, iface) ::host::ObjectFrom<Object>(iface, offsetof(Object, member))

// The IUnknown members of interface `member` of `Object`, forwarded to the object's own
// QueryInterface, AddRef and Release: defines Prefix_QueryInterface, Prefix_AddRef, Prefix_Release.
#define HOST_IUNKNOWN(Prefix, Object, member, Interface)                                         \
    HRESULT STDMETHODCALLTYPE Prefix##_QueryInterface(Interface* self, REFIID iid, void** out) { \
        return HOST_IMPL_FROM(Object, member, self)->QueryInterface(iid, out);                  \
    }                                                                                           \
    ULONG STDMETHODCALLTYPE Prefix##_AddRef(Interface* self) {                                  \
        return HOST_IMPL_FROM(Object, member, self)->AddRef();                                  \
    }                                                                                           \
    ULONG STDMETHODCALLTYPE Prefix##_Release(Interface* self) {                                 \
        return HOST_IMPL_FROM(Object, member, self)->Release();                                 \
    }
#define HOST_SET_IUNKNOWN(vtbl, Prefix)        \
    (vtbl).QueryInterface = Prefix##_QueryInterface; \
    (vtbl).AddRef = Prefix##_AddRef;           \
    (vtbl).Release = Prefix##_Release

// Reference counting shared by the fakes: one count for all interfaces of an object.
struct RefCount {
    LONG refs = 1;
    ULONG Add() { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    // True when the count reached zero and the object must go.
    bool Drop(ULONG* remaining) {
        const LONG count = InterlockedDecrement(&refs);
        *remaining = static_cast<ULONG>(count);
        return count == 0;
    }
};

// A member that answers E_NOTIMPL and records the call (for interfaces that must answer rather
// than stop, such as IWebBrowser2's many unused members).
void RecordNotImplemented(const void* self, size_t slot);
template <typename F, size_t Slot>
struct NotImplemented;
template <typename R, typename Self, typename... A, size_t Slot>
struct NotImplemented<R(STDMETHODCALLTYPE*)(Self, A...), Slot> {
    static R STDMETHODCALLTYPE Call(Self self, A...) {
        RecordNotImplemented(self, Slot);
        return E_NOTIMPL;
    }
};
#define HOST_NOT_IMPLEMENTED(Vtbl, vtbl, member) \
    (vtbl).member = &::host::NotImplemented<decltype((vtbl).member), offsetof(Vtbl, member) / sizeof(void*)>::Call

}  // namespace host
