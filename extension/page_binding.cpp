#include "extension/page_binding.h"

#include "extension/scriptable_type_info.h"
#include "extension/velnor_ie_ext.h"

#include <new>
#include <utility>

HRESULT CPageBinding::Create(CVelnorIEExt* extension, PageContext page, IVelnorIEExt** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!extension) return E_INVALIDARG;
    auto* binding = new (std::nothrow) CPageBinding(extension, std::move(page));
    if (!binding) return E_OUTOFMEMORY;
    binding->AddRef();
    *out = binding;
    return S_OK;
}

CPageBinding::CPageBinding(CVelnorIEExt* extension, PageContext page)
    : m_reference(static_cast<IVelnorIEExt*>(extension)), m_extension(extension), m_page(std::move(page)) {}

STDMETHODIMP CPageBinding::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!InlineIsEqualGUID(iid, IID_IUnknown) && !InlineIsEqualGUID(iid, IID_IDispatch) &&
        !InlineIsEqualGUID(iid, IID_IVelnorIEExt))
        return E_NOINTERFACE;
    *out = static_cast<IVelnorIEExt*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CPageBinding::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) CPageBinding::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP CPageBinding::get_Status(BSTR* pVal) { return m_extension->get_Status(pVal); }
STDMETHODIMP CPageBinding::put_Status(BSTR newVal) { return m_extension->put_Status(newVal); }
STDMETHODIMP CPageBinding::TestCall() { return m_extension->TestCall(); }
STDMETHODIMP CPageBinding::get_Templates(BSTR* pVal) { return m_extension->GetTemplatesForPage(m_page, pVal); }
STDMETHODIMP CPageBinding::put_Templates(BSTR newVal) { return m_extension->PutTemplatesForPage(m_page, newVal); }
STDMETHODIMP CPageBinding::get_AuthCreds(BSTR* pVal) { return m_extension->get_AuthCreds(pVal); }
STDMETHODIMP CPageBinding::put_AuthCreds(BSTR newVal) { return m_extension->PutAuthCredsForPage(m_page, newVal); }
STDMETHODIMP CPageBinding::get_DebugTime(LONG* pVal) { return m_extension->get_DebugTime(pVal); }
STDMETHODIMP CPageBinding::put_DebugTime(LONG newVal) { return m_extension->put_DebugTime(newVal); }

STDMETHODIMP CPageBinding::GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) {
    if (!pResult) return E_POINTER;
    *pResult = nullptr;
    if (!m_extension->ShowsDocument(m_page.document.get())) return S_OK;
    return m_extension->GetElementByXPath(sXPathDef, pResult);
}
