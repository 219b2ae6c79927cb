#include "extension/page_binding.h"

#include "common/unique_owner.h"
#include "templates/patterns.h"

#include <mshtml.h>

#include <utility>

HRESULT CPageBinding::Create(ScriptableMembers* extension, PageContext page, IVelnorIEExt** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!extension) return E_INVALIDARG;
    return CreateComObject([&] { return new CPageBinding(*extension, std::move(page)); }, IID_IVelnorIEExt,
                           reinterpret_cast<void**>(out));
}

CPageBinding::CPageBinding(ScriptableMembers& extension, PageContext page)
    : ComObject(extension, &m_page), m_reference(&extension), m_page(std::move(page)) {}

PageContext PageCounter::ShownPage(const BrowserConnection& browser) {
    PageContext page;
    ComPtr<IDispatch> document;
    page.document = browser.DocumentIdentity(&document);
    ComPtr<IHTMLDocument2> html;
    unique_bstr url;
    if (document && SUCCEEDED(document.As(IID_IHTMLDocument2, &html)) && SUCCEEDED(html->get_URL(url.put())) && url)
        page.url.assign(url.get(), SysStringLen(url.get()));
    page.origin = OriginOfUrl(page.url);
    if (!page.document || page.document.get() != m_lastPageDocument.get()) {
        ++m_pageOrdinal;
        m_lastPageDocument = page.document;
    }
    page.ordinal = m_pageOrdinal;
    return page;
}
