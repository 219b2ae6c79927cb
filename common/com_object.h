// The one way this code base writes COM objects: QueryInterface answers from one static table
// per class, and every object is made by CreateComObject (new, QueryInterface, release), so a
// failed query frees the object and no creator can forget a step.
#pragma once

#include "common/hresult.h"

#include <unknwn.h>

#include <cstddef>

// One row of a class's interface table: the IID and how to reach that interface of the object.
struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*cast)(void* object);
};

template <typename Class, typename Interface>
IUnknown* InterfaceOf(void* object) noexcept {
    return static_cast<Interface*>(static_cast<Class*>(object));
}

// Write the IUnknown and IDispatch rows out: which interface stands for them is the class's
// choice (its COM identity), not something to be inferred.
#define INTERFACE_ENTRY(Class, iid, Interface) {&(iid), &InterfaceOf<Class, Interface>}

// QueryInterface over a class's table: E_POINTER, or *out set (null first) and a reference
// taken through the interface handed out; E_NOINTERFACE for any IID the table does not list.
template <size_t N>
HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry (&table)[N], REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const InterfaceEntry& entry : table) {
        if (!InlineIsEqualGUID(iid, *entry.iid)) continue;
        IUnknown* found = entry.cast(object);
        found->AddRef();
        *out = found;
        return S_OK;
    }
    return E_NOINTERFACE;
}

// Makes an object with `make` (which calls new; the object starts with no reference), then
// queries it for iid: the query's reference is the caller's, and an object whose query fails
// is freed. E_POINTER, E_OUTOFMEMORY (also when the constructor throws), or the query's result.
template <typename Make>
HRESULT CreateComObject(Make make, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    decltype(make()) object = nullptr;
    try {
        object = make();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}
