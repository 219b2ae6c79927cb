// XPath for Internet Explorer's HTML DOM, which has none: the page is read into a mirror
// (page_mirror.h), the expression is evaluated on it, and the page element of the selected
// mirror element is handed back.
#pragma once

#include <windows.h>
#include <mshtml.h>
#include <msxml2.h>

#include "common/com_ptr.h"

class PageMirror;

// How an expression is evaluated:
//   kMirrorFirst  on the mirror itself (xpath_evaluator.h); what that refuses by MSXML on the XML
//                 form the mirror keeps while the page reads the same;
//   kMsxmlKept    everything by MSXML on the kept XML form;
//   kMsxmlOnly    everything by MSXML on an XML form made anew (to compare the others with).
enum class XPathEvaluation { kMirrorFirst, kMsxmlKept, kMsxmlOnly };

// The page element that the expression selects first in the document's root element and its
// subtree; *found is null when there is none (also for a selection that is no element, and for
// an expression MSXML refuses). Fails only when the lookup itself cannot run (E_OUTOFMEMORY).
// `mirror` is the caller's reusable mirror; afterwards it holds no element of the page, only
// what it needs to tell whether the next read gives the same XML form.
HRESULT LookUpXPath(IHTMLDocument3* document, BSTR expression, XPathEvaluation evaluation, PageMirror& mirror,
                    IHTMLDOMNode** found);

// The mirror's XML form in a new MSXML document, ready for XPath (whitespace kept).
HRESULT LoadMirrorIntoMsxml(const PageMirror& mirror, ComPtr<IXMLDOMDocument>* result);
