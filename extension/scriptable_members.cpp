#include "extension/scriptable_members.h"

#include "logging/log_writer.h"

STDMETHODIMP ScriptableMembers::get_Status(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::AddExternalObject() -> get_Status");
    *pVal = SysAllocString(L"ready");
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ScriptableMembers::put_Status(BSTR) {
    LogExt(L"CVelnorIEExt::AddExternalObject() -> put_Status");
    return S_OK;
}

// A modal box without an owner that any page can raise again and again: under isolation no
// page (and no object without one) may.
STDMETHODIMP ScriptableMembers::TestCall() {
    if (m_store.IsolationOn()) {
        LogExt(L"CVelnorIEExt::TestCall() -> refused under template isolation");
        return E_ACCESSDENIED;
    }
    MessageBoxW(nullptr, L"TestCallInternal", nullptr, MB_OK);
    return S_OK;
}

STDMETHODIMP ScriptableMembers::get_Templates(BSTR* pVal) { return m_store.GetTemplates(m_page, pVal); }

STDMETHODIMP ScriptableMembers::put_Templates(BSTR newVal) { return m_store.PutTemplates(m_page, newVal); }

STDMETHODIMP ScriptableMembers::GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) {
    return m_elements.Find(m_page, sXPathDef, pResult);
}

STDMETHODIMP ScriptableMembers::get_AuthCreds(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_AuthCreds()");
    // Handed-over credentials are never read back through the interface.
    *pVal = nullptr;
    return S_OK;
}

STDMETHODIMP ScriptableMembers::put_AuthCreds(BSTR newVal) { return m_store.PutAuthCreds(m_page, newVal); }

STDMETHODIMP ScriptableMembers::get_DebugTime(LONG* pVal) { return m_store.GetDebugTime(pVal); }

STDMETHODIMP ScriptableMembers::put_DebugTime(LONG newVal) { return m_store.PutDebugTime(m_page, newVal); }
