#include "extension/element_lookup.h"

#include "common/hresult.h"
#include "xpath/page_mirror.h"
#include "xpath/xpath_lookup.h"

#include <mshtml.h>

ElementLookup::ElementLookup(const BrowserConnection& browser) : m_browser(browser) {}

ElementLookup::~ElementLookup() = default;

HRESULT ElementLookup::Find(const PageContext* page, BSTR expression, IDispatch** pResult) {
    if (!pResult) return E_POINTER;
    *pResult = nullptr;
    if (page && !m_browser.ShowsDocument(page->document.get())) return S_OK;
    try {
        if (!m_pageMirror) m_pageMirror = std::make_unique<PageMirror>();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    // Always the top-level document: an element in a frame's document is never found.
    IWebBrowser2* browser = m_browser.Browser();
    ComPtr<IDispatch> documentDispatch;
    if (!browser || FAILED(browser->get_Document(documentDispatch.put())) || !documentDispatch) return S_OK;
    ComPtr<IHTMLDocument3> document;
    if (FAILED(documentDispatch.As(IID_IHTMLDocument3, &document)) || !document) return S_OK;
    ComPtr<IHTMLDOMNode> node;
    RETURN_IF_FAILED(LookUpXPath(document.get(), expression, XPathEvaluation::kMirrorFirst, *m_pageMirror, node.put()));
    ComPtr<IHTMLElement> element;
    if (node && SUCCEEDED(node.As(IID_IHTMLElement, &element)) && element) *pResult = element.detach();
    return S_OK;
}
