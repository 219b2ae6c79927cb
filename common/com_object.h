// How this code base writes COM objects. A class names its interfaces once, as the list of its
// base ComObject<Derived, Interfaces...>, which answers QueryInterface from that list and keeps
// the reference count, so no entry can be forgotten; a class whose count is special (the class
// object's, which locks the module) writes its own and answers from a static InterfaceEntry table.
// Every object is made by CreateComObject (new, QueryInterface, release), so a failed query frees
// the object and no creator can forget a step.
#pragma once

#include "common/com_ptr.h"
#include "common/hresult.h"

#include <unknwn.h>
#include <oaidl.h>

#include <cstddef>
#include <type_traits>
#include <utility>

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
    const ComPtr<std::remove_pointer_t<decltype(object)>> creation(object);
    return creation->QueryInterface(iid, out);
}

// The interface an entry of a ComObject list stands for: the entry itself, or, for a class that
// implements an interface once for several COM classes, the interface it names as `Interface`.
template <typename Entry, typename = void>
struct InterfaceOfEntry {
    using type = Entry;
};
template <typename Entry>
struct InterfaceOfEntry<Entry, std::void_t<typename Entry::Interface>> {
    using type = typename Entry::Interface;
};

// QueryInterface over a list of interfaces of `object`. The first is the object's identity: it
// answers IUnknown, and IDispatch too when it is a dispatch interface (a dual interface, or the
// dispinterface of an event sink). Each answers its own IID; anything else is E_NOINTERFACE.
// E_POINTER, or *out set (null first) and a reference taken through the interface handed out.
template <typename First, typename... Rest, typename Object>
HRESULT QueryInterfaceFromList(Object* object, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    using Identity = typename InterfaceOfEntry<First>::type;
    IUnknown* found = nullptr;
    if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, __uuidof(Identity)) ||
        (std::is_base_of<IDispatch, Identity>::value && InlineIsEqualGUID(iid, IID_IDispatch)))
        found = static_cast<First*>(object);
    else
        (void)((InlineIsEqualGUID(iid, __uuidof(typename InterfaceOfEntry<Rest>::type)) &&
                (found = static_cast<Rest*>(object)) != nullptr) ||
               ...);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *out = found;
    return S_OK;
}

// The base of a COM class: derives from each of its interfaces (or the classes implementing
// them), answers QueryInterface from that list and keeps a plain reference count, for objects
// that live in one single-threaded apartment. The last Release deletes the Derived object, so
// Derived befriends ComObject when its destructor is private. Arguments of the constructor go
// to the first entry (an implementation shared by several classes takes what it needs there).
template <typename Derived, typename First, typename... Rest>
class ComObject : public First, public Rest... {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return QueryInterfaceFromList<First, Rest...>(static_cast<Derived*>(this), iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_refCount;
        if (count == 0) delete static_cast<Derived*>(this);
        return count;
    }

protected:
    template <typename... Arguments>
    explicit ComObject(Arguments&&... arguments) : First(std::forward<Arguments>(arguments)...) {}
    ~ComObject() = default;

private:
    ULONG m_refCount = 0;
};
