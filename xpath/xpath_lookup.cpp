#include "xpath/xpath_lookup.h"

#include "common/com_ptr.h"
#include "common/hresult.h"
#include "common/unique_owner.h"
#include "xpath/page_mirror.h"
#include "xpath/xpath_evaluator.h"

#include <msxml2.h>

#include <algorithm>
#include <memory>
#include <vector>

// Written as one text and parsed once (far cheaper than a COM call per node); pages nested
// deeper than the parser takes (256 levels) are built node by node.
HRESULT LoadMirrorIntoMsxml(const PageMirror& mirror, ComPtr<IXMLDOMDocument>* result) {
    ComPtr<IXMLDOMDocument> document;
    RETURN_IF_FAILED(CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, document.put_void()));
    // Whitespace-only text is a node of the HTML document too and must keep its position.
    RETURN_IF_FAILED(document->put_preserveWhiteSpace(VARIANT_TRUE));
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    std::wstring xml;
    mirror.WriteXml(xml);
    unique_bstr text = MakeBstr(xml.data(), xml.size());
    if (!text) return E_OUTOFMEMORY;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->loadXML(text.get(), &loaded)) || loaded != VARIANT_TRUE) {
        RETURN_IF_FAILED(
            CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, document.put_void()));
        RETURN_IF_FAILED(mirror.BuildXmlDocument(document.get()));
    }
    ComPtr<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document.As(IID_IXMLDOMDocument2, &document2))) {
        unique_bstr name(SysAllocString(L"SelectionLanguage"));
        unique_variant language;
        V_VT(language.get()) = VT_BSTR;
        V_BSTR(language.get()) = SysAllocString(L"XPath");
        if (!name || !V_BSTR(language.get())) return E_OUTOFMEMORY;
        document2->setProperty(name.get(), *language.get());
    }
    *result = document;
    return S_OK;
}

namespace {

// Child positions from the MSXML document node down to `node` (entry 0 is the document's).
std::vector<LONG> PositionPath(IXMLDOMNode* node) {
    std::vector<LONG> path;
    ComPtr<IXMLDOMNode> current(node);
    while (current) {
        LONG count = 0;
        for (;;) {
            ComPtr<IXMLDOMNode> previous;
            if (FAILED(current->get_previousSibling(previous.put())) || !previous) break;
            ++count;
            current = previous;
        }
        path.push_back(count);
        ComPtr<IXMLDOMNode> parent;
        if (FAILED(current->get_parentNode(parent.put()))) break;
        current = parent;
    }
    std::reverse(path.begin(), path.end());
    return path;
}

// Kept selections per page: templates use a handful of expressions, a page calling with ever new
// ones must not grow the memory without bound.
constexpr size_t kKeptSelections = 64;

// MSXML evaluates the expression on the mirror's XML form; the selected node is found again in
// the mirror by its child positions, counted as the XML form counts them. With `keep`, the MSXML
// document and the selections are reused while the page reads the same: the same XML text gives
// the same selection, and the positions then lead to the element of the page as read now.
HRESULT SelectWithMsxml(PageMirror& mirror, BSTR expression, bool keep, PageMirror::Index* selected) {
    *selected = PageMirror::kNone;
    PageMirror::XmlForm fresh;
    PageMirror::XmlForm& form = keep ? mirror.KeptXmlForm() : fresh;
    // A null expression is no text to remember; MSXML decides about it each time.
    const bool remember = keep && expression;
    const std::wstring key = expression ? std::wstring(expression, SysStringLen(expression)) : std::wstring();
    const std::vector<LONG>* path = nullptr;
    if (remember)
        for (const auto& selection : form.selections)
            if (selection.first == key) path = &selection.second;
    std::vector<LONG> made;
    if (!path) {
        if (!form.document) {
            const HRESULT loaded = LoadMirrorIntoMsxml(mirror, &form.document);
            if (loaded == E_OUTOFMEMORY) return loaded;
            if (FAILED(loaded)) return S_OK;
        }
        ComPtr<IXMLDOMNode> node;
        const HRESULT selection = form.document->selectSingleNode(expression, node.put());
        if (SUCCEEDED(selection) && node) made = PositionPath(node.get());
        // Running out of memory says nothing about the expression; a refused one stays refused.
        if (remember && selection != E_OUTOFMEMORY) {
            if (form.selections.size() >= kKeptSelections) form.selections.clear();
            form.selections.emplace_back(key, made);
        }
        path = &made;
    }
    // Fewer than two entries: the document itself, or a node without a parent (an attribute).
    // Entry 1 is the root element's position, always 0: nothing else is at the top.
    if (path->size() < 2 || (*path)[1] != 0) return S_OK;
    PageMirror::Index current = 0;
    for (size_t i = 2; current != PageMirror::kNone && i < path->size(); ++i)
        current = mirror.ChildAtXmlPosition(current, (*path)[i]);
    *selected = current;
    return S_OK;
}

}  // namespace

HRESULT LookUpXPath(IHTMLDocument3* document, BSTR expression, XPathEvaluation evaluation, PageMirror& mirror,
                    IHTMLDOMNode** found) {
    if (!found) return E_POINTER;
    *found = nullptr;
    // The page's elements are given back whatever happens; the memory is kept for the next time.
    struct ReleaseMirror {
        PageMirror& mirror;
        ~ReleaseMirror() { mirror.Release(); }
    } release{mirror};
    try {
        if (!mirror.Read(document)) return S_OK;
        PageMirror::Index selected = PageMirror::kNone;
        MirrorXPath onMirror;
        const bool evaluated = evaluation == XPathEvaluation::kMirrorFirst &&
                               onMirror.Parse(expression, SysStringLen(expression)) &&
                               onMirror.SelectFirstElement(mirror, &selected) == MirrorXPath::Outcome::kEvaluated;
        if (!evaluated)
            RETURN_IF_FAILED(
                SelectWithMsxml(mirror, expression, evaluation != XPathEvaluation::kMsxmlOnly, &selected));
        if (selected == PageMirror::kNone || !mirror.PageNode(selected)) return S_OK;
        *found = mirror.PageNode(selected);
        (*found)->AddRef();
        return S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}
