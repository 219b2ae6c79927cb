// XPath for Internet Explorer's HTML DOM, which has none: the page is mirrored into an MSXML
// document, MSXML evaluates the expression, and the selected node's child positions are
// walked back down the HTML document.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <msxml2.h>

#include <string>
#include <vector>

// The processing instruction that stands in the mirror for an HTML node it cannot hold (an
// unknown node type, a name XML refuses, a value that is not text), so that the positions of
// its later siblings stay those of the HTML document. Only processing-instruction() or node()
// tests select it, and node() counts the left-out node in the HTML document too.
extern const wchar_t kLeftOutNodeTarget[];   // "velnor-left-out"

// MSXML's DOMDocument, {F6D90F11-9C73-11D3-B32E-00C04F990BB4}.
extern const CLSID kMsxmlDomDocument;

// The mirror of the HTML root element and everything below it, as XML text. False when there
// is no root.
bool SerializeHtmlMirror(IHTMLDOMNode* root, std::wstring& xml);

// Creates MSXML's DOMDocument holding the mirror of the document's root element chain.
HRESULT BuildHtmlMirror(IHTMLDocument3* document, IXMLDOMDocument** mirror);

// Child positions from the mirror's document node down to `node` (entry 0 is the document's).
std::vector<LONG> PositionPath(IXMLDOMNode* node);

// Follows the path from entry 2 on down from the HTML root element; null when it leads nowhere
// or the selection does not lie under the root element.
HRESULT WalkPositionPath(IHTMLDocument3* document, const std::vector<LONG>& path, IHTMLDOMNode** reached);

// The page element of the browser's top-level document that the expression selects first;
// *result is null when there is none. S_OK whenever the lookup itself could run.
HRESULT FindElementByXPath(IWebBrowser2* browser, BSTR expression, IDispatch** result);
