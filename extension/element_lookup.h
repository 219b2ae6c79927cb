// GetElementByXPath as the extension object and each page's binding answer it: the page element
// of the browser's top-level document that the expression selects first (xpath/xpath_lookup.h),
// with the object's one reusable page mirror.
#pragma once

#include "extension/browser_connection.h"
#include "extension/page_context.h"

#include <windows.h>
#include <oaidl.h>

#include <memory>

class PageMirror;

class ElementLookup {
public:
    explicit ElementLookup(const BrowserConnection& browser);
    ~ElementLookup();
    ElementLookup(const ElementLookup&) = delete;
    ElementLookup& operator=(const ElementLookup&) = delete;

    // *pResult is the element, or null when there is none; also null for a page (a binding's)
    // that the tab no longer shows, so that a page keeping the reference never reaches the
    // elements of the next one. Null `page`: the object itself, whatever the tab shows. S_OK
    // whenever the lookup could run; E_POINTER, E_OUTOFMEMORY.
    HRESULT Find(const PageContext* page, BSTR expression, IDispatch** pResult);

private:
    const BrowserConnection& m_browser;
    std::unique_ptr<PageMirror> m_pageMirror;   // made at the first lookup; holds no page element between lookups
};
