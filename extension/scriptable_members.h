// The members of IVelnorIEExt, written once for the extension object and for every page's
// binding: page script reaches the same behaviour through both, and only the page differs (none
// for the object itself). The IDispatch half comes from the type library (scriptable_dispatch.h).
#pragma once

#include "extension/element_lookup.h"
#include "extension/page_context.h"
#include "extension/scriptable_dispatch.h"
#include "extension/store_access.h"

#include "VelnorIELib.h"

class ScriptableMembers : public ScriptableDispatch {
public:
    using Interface = IVelnorIEExt;   // what a ComObject list answers for this entry

    STDMETHODIMP get_Status(BSTR* pVal) override;
    STDMETHODIMP put_Status(BSTR newVal) override;
    STDMETHODIMP TestCall() override;
    STDMETHODIMP get_Templates(BSTR* pVal) override;
    STDMETHODIMP put_Templates(BSTR newVal) override;
    STDMETHODIMP GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) override;
    STDMETHODIMP get_AuthCreds(BSTR* pVal) override;
    STDMETHODIMP put_AuthCreds(BSTR newVal) override;
    STDMETHODIMP get_DebugTime(LONG* pVal) override;
    STDMETHODIMP put_DebugTime(LONG newVal) override;

protected:
    // The extension object's own members: its store and its lookup, no page. The parts are the
    // object's members, made after this base: nothing here touches them before a call.
    ScriptableMembers(StoreAccess& store, ElementLookup& elements) : m_store(store), m_elements(elements) {}
    // The same object's members for a page (a binding's); `page` outlives this.
    ScriptableMembers(const ScriptableMembers& extension, PageContext* page)
        : m_store(extension.m_store), m_elements(extension.m_elements), m_page(page) {}
    ~ScriptableMembers() = default;

private:
    StoreAccess& m_store;
    ElementLookup& m_elements;
    PageContext* m_page = nullptr;
};
