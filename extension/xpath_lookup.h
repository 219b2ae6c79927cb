// XPath for Internet Explorer's HTML DOM, which has none: the page is read into a mirror
// (page_mirror.h), the expression is evaluated on it, and the page element of the selected
// mirror element is handed back.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

class PageMirror;

// How an expression is evaluated:
//   kSubsetFirst  expressions of the common subset (xpath_subset.h) on the mirror itself, every
//                 other one by MSXML on the XML form the mirror keeps while the page reads the same;
//   kMsxmlKept    everything by MSXML on the kept XML form;
//   kMsxmlOnly    everything by MSXML on an XML form made anew (to compare the others with).
enum class XPathEvaluation { kSubsetFirst, kMsxmlKept, kMsxmlOnly };

// The page element that the expression selects first in the document's root element and its
// subtree; *found is null when there is none (also for a selection that is no element, and for
// an expression MSXML refuses). Fails only when the lookup itself cannot run (E_OUTOFMEMORY).
// `mirror` is the caller's reusable mirror; afterwards it holds no element of the page, only
// what it needs to tell whether the next read gives the same XML form.
HRESULT LookUpXPath(IHTMLDocument3* document, BSTR expression, XPathEvaluation evaluation, PageMirror& mirror,
                    IHTMLDOMNode** found);

// The page element of the browser's top-level document that the expression selects first;
// *result is null when there is none. S_OK whenever the lookup itself could run.
HRESULT FindElementByXPath(IWebBrowser2* browser, BSTR expression, PageMirror& mirror, IDispatch** result);
