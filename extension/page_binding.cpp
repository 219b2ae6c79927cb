#include "extension/page_binding.h"

#include "common/com_object.h"
#include "extension/velnor_ie_ext.h"

#include <utility>

HRESULT CPageBinding::Create(CVelnorIEExt* extension, PageContext page, IVelnorIEExt** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!extension) return E_INVALIDARG;
    return CreateComObject([&] { return new CPageBinding(extension, std::move(page)); }, IID_IVelnorIEExt,
                           reinterpret_cast<void**>(out));
}

CPageBinding::CPageBinding(CVelnorIEExt* extension, PageContext page)
    : m_reference(static_cast<IVelnorIEExt*>(extension)), m_extension(extension), m_page(std::move(page)) {}

STDMETHODIMP CPageBinding::QueryInterface(REFIID iid, void** out) {
    static const InterfaceEntry kInterfaces[] = {
        INTERFACE_ENTRY(CPageBinding, IID_IUnknown, IVelnorIEExt),
        INTERFACE_ENTRY(CPageBinding, IID_IDispatch, IVelnorIEExt),
        INTERFACE_ENTRY(CPageBinding, IID_IVelnorIEExt, IVelnorIEExt),
    };
    return QueryInterfaceFromTable(this, kInterfaces, iid, out);
}

STDMETHODIMP_(ULONG) CPageBinding::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) CPageBinding::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP CPageBinding::get_Status(BSTR* pVal) { return m_extension->get_Status(pVal); }
STDMETHODIMP CPageBinding::put_Status(BSTR newVal) { return m_extension->put_Status(newVal); }
STDMETHODIMP CPageBinding::TestCall() { return m_extension->TestCallForPage(m_page); }
STDMETHODIMP CPageBinding::get_Templates(BSTR* pVal) { return m_extension->GetTemplatesForPage(m_page, pVal); }
STDMETHODIMP CPageBinding::put_Templates(BSTR newVal) { return m_extension->PutTemplatesForPage(m_page, newVal); }
STDMETHODIMP CPageBinding::get_AuthCreds(BSTR* pVal) { return m_extension->get_AuthCreds(pVal); }
STDMETHODIMP CPageBinding::put_AuthCreds(BSTR newVal) { return m_extension->PutAuthCredsForPage(m_page, newVal); }
STDMETHODIMP CPageBinding::get_DebugTime(LONG* pVal) { return m_extension->get_DebugTime(pVal); }
STDMETHODIMP CPageBinding::put_DebugTime(LONG newVal) { return m_extension->PutDebugTimeForPage(m_page, newVal); }

STDMETHODIMP CPageBinding::GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) {
    if (!pResult) return E_POINTER;
    *pResult = nullptr;
    if (!m_extension->ShowsDocument(m_page.document.get())) return S_OK;
    return m_extension->GetElementByXPath(sXPathDef, pResult);
}
