// The scriptable members of IVelnorIEExt that page script calls by name: Status, TestCall,
// AuthCreds and GetElementByXPath. (Templates: store_members.cpp; DebugTime: debug_period.cpp;
// IDispatch itself: scriptable_dispatch.cpp.)
#include "extension/velnor_ie_ext.h"

#include "common/hresult.h"
#include "extension/page_binding.h"
#include "logging/log_writer.h"
#include "xpath/page_mirror.h"
#include "xpath/xpath_lookup.h"

#include <memory>

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

// A modal box without an owner that any page can raise again and again: under isolation no
// page (and no object without one) may.
STDMETHODIMP CVelnorIEExt::TestCall() {
    if (m_templateIsolation) {
        LogExt(L"CVelnorIEExt::TestCall() -> refused under template isolation");
        return E_ACCESSDENIED;
    }
    MessageBoxW(nullptr, L"TestCallInternal", nullptr, MB_OK);
    return S_OK;
}

HRESULT CVelnorIEExt::TestCallForPage(const PageContext&) {
    return TestCall();
}

STDMETHODIMP CVelnorIEExt::get_AuthCreds(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_AuthCreds()");
    // Handed-over credentials are never read back through the interface.
    *pVal = nullptr;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_AuthCreds(BSTR newVal) {
    if (ReachesWholeStore()) return StoreAuthCreds(newVal);
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    LogExt(L"CVelnorIEExt::put_AuthCreds() -> ignored under template isolation");
    return S_OK;
}

HRESULT CVelnorIEExt::StoreAuthCreds(BSTR newVal) {
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    try {
        m_authCreds.assign(newVal ? newVal : L"", newVal ? SysStringLen(newVal) : 0);
    } catch (...) {
        return ResultFromCaughtException();
    }
    return S_OK;
}

HRESULT CVelnorIEExt::PutAuthCredsForPage(const PageContext& page, BSTR newVal) {
    if (!IsolatesPage(page)) return StoreAuthCreds(newVal);
    LogExt(L"CVelnorIEExt::put_AuthCreds()");
    // Basic authentication answers from the store's own templates: what a page hands over
    // could name any site.
    LogExt(L"CVelnorIEExt::put_AuthCreds() -> ignored under template isolation");
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) {
    if (!pResult) return E_POINTER;
    *pResult = nullptr;
    try {
        if (!m_pageMirror) m_pageMirror = std::make_unique<PageMirror>();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return FindElementByXPath(m_webBrowser.get(), sXPathDef, *m_pageMirror, pResult);
}
