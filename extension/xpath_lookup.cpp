#include "extension/xpath_lookup.h"

#include "common/com_ptr.h"
#include "common/hresult.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"

#include <algorithm>
#include <utility>

const wchar_t kLeftOutNodeTarget[] = L"velnor-left-out";
const CLSID kMsxmlDomDocument = {0xf6d90f11, 0x9c73, 0x11d3, {0xb3, 0x2e, 0x00, 0xc0, 0x4f, 0x99, 0x0b, 0xb4}};

namespace {

constexpr long kElementNode = 1;
constexpr long kTextNode = 3;
constexpr long kCDataNode = 4;
constexpr long kCommentNode = 8;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// A name the mirror can hold without namespaces: an ASCII XML name without a prefix. Names
// outside it (prefixed, non-ASCII, "!"-style) become left-out nodes.
bool IsMirrorName(const std::wstring& name) {
    if (name.empty() || !(IsAsciiLetter(name[0]) || name[0] == L'_')) return false;
    for (wchar_t c : name)
        if (!(IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-' || c == L'.'))
            return false;
    return true;
}

// A namespace declaration would move the mirrored elements out of the null namespace, where
// unprefixed XPath names look; the mirror keeps every element there.
bool IsNamespaceDeclaration(const std::wstring& name) {
    return name == L"xmlns" || name.compare(0, 6, L"xmlns:") == 0;
}

wchar_t ToLowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool IsXmlChar(wchar_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

// Appends text as XML character data. Characters XML cannot carry become U+FFFD; CR, tab
// and LF (in attributes) are written as references so that the parser keeps them as they are.
void AppendEscaped(std::wstring& out, const wchar_t* text, size_t length, bool inAttribute) {
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += c;
            out += text[++i];
            continue;
        }
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += inAttribute ? L"&quot;" : L"\""; break;
        case L'\r': out += L"&#13;"; break;
        case L'\t': out += inAttribute ? L"&#9;" : L"\t"; break;
        case L'\n': out += inAttribute ? L"&#10;" : L"\n"; break;
        default: out += IsXmlChar(c) ? c : L'\xFFFD'; break;
        }
    }
}

void AppendLeftOut(std::wstring& out) {
    out += L"<?";
    out += kLeftOutNodeTarget;
    out += L"?>";
}

// The HTML node's value when it is a string.
bool ReadStringValue(IHTMLDOMNode* node, std::wstring& value) {
    unique_variant v;
    if (FAILED(node->get_nodeValue(v.get())) || V_VT(v.get()) != VT_BSTR) return false;
    value.assign(V_BSTR(v.get()) ? V_BSTR(v.get()) : L"", V_BSTR(v.get()) ? SysStringLen(V_BSTR(v.get())) : 0);
    return true;
}

// Attribute values as the HTML DOM gives them, turned into text the way the mirror stores
// them; a value without a text form (null, empty, an object) is skipped like a failed copy.
bool AttributeText(VARIANT* value, std::wstring& text) {
    if (V_VT(value) == VT_BSTR) {
        text.assign(V_BSTR(value) ? V_BSTR(value) : L"", V_BSTR(value) ? SysStringLen(V_BSTR(value)) : 0);
        return true;
    }
    if (V_VT(value) == VT_NULL || V_VT(value) == VT_EMPTY || V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN)
        return false;
    unique_variant converted;
    if (FAILED(VariantChangeType(converted.get(), value, 0, VT_BSTR))) return false;
    text.assign(V_BSTR(converted.get()), SysStringLen(V_BSTR(converted.get())));
    return true;
}

void AppendAttributes(std::wstring& out, IHTMLDOMNode* node) {
    ComPtr<IDispatch> collectionDispatch;
    ComPtr<IHTMLAttributeCollection> collection;
    if (FAILED(node->get_attributes(collectionDispatch.put())) || !collectionDispatch ||
        FAILED(collectionDispatch.As(IID_IHTMLAttributeCollection, &collection)))
        return;
    long length = 0;
    if (FAILED(collection->get_length(&length))) return;

    // Setting an attribute twice keeps the last value; XML allows a name only once.
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    for (long i = 0; i < length; ++i) {
        unique_variant index;
        V_VT(index.get()) = VT_I4;
        V_I4(index.get()) = i;
        ComPtr<IDispatch> itemDispatch;
        ComPtr<IHTMLDOMAttribute> attribute;
        if (FAILED(collection->item(index.get(), itemDispatch.put())) || !itemDispatch ||
            FAILED(itemDispatch.As(IID_IHTMLDOMAttribute, &attribute)))
            continue;
        unique_bstr name;
        unique_variant value;
        if (FAILED(attribute->get_nodeName(name.put())) || !name || FAILED(attribute->get_nodeValue(value.get())))
            continue;
        std::wstring attributeName(name.get(), SysStringLen(name.get()));
        std::wstring text;
        if (!IsMirrorName(attributeName) || IsNamespaceDeclaration(attributeName) || !AttributeText(value.get(), text))
            continue;
        auto existing = std::find_if(attributes.begin(), attributes.end(),
                                     [&](const auto& a) { return a.first == attributeName; });
        if (existing != attributes.end())
            existing->second = std::move(text);
        else
            attributes.emplace_back(std::move(attributeName), std::move(text));
    }
    for (const auto& attribute : attributes) {
        out += L' ';
        out += attribute.first;
        out += L"=\"";
        AppendEscaped(out, attribute.second.data(), attribute.second.size(), true);
        out += L'"';
    }
}

// Writes one HTML node as it appears in the mirror. Returns the element's close tag when the
// node's children belong under it, or an empty string when they are left out.
std::wstring AppendNode(std::wstring& out, IHTMLDOMNode* node) {
    long type = 0;
    if (FAILED(node->get_nodeType(&type))) {
        AppendLeftOut(out);
        return std::wstring();
    }
    std::wstring value;
    switch (type) {
    case kElementNode: {
        unique_bstr name;
        if (FAILED(node->get_nodeName(name.put())) || !name) break;
        std::wstring lower(name.get(), SysStringLen(name.get()));
        std::transform(lower.begin(), lower.end(), lower.begin(), ToLowerAscii);
        if (!IsMirrorName(lower)) break;
        out += L'<';
        out += lower;
        AppendAttributes(out, node);
        out += L'>';
        return L"</" + lower + L">";
    }
    case kTextNode:
        if (!ReadStringValue(node, value)) break;
        AppendEscaped(out, value.data(), value.size(), false);
        return std::wstring();
    case kCDataNode:
        if (!ReadStringValue(node, value)) break;
        // A section cannot hold "]]>"; two sections would be two nodes, so the text is bent.
        out += L"<![CDATA[";
        for (size_t i = 0; i < value.size(); ++i) {
            out += IsXmlChar(value[i]) ? value[i] : L'\xFFFD';
            if (value.compare(i, 3, L"]]>") == 0) out += L' ';
        }
        out += L"]]>";
        return std::wstring();
    case kCommentNode:
        if (!ReadStringValue(node, value)) break;
        out += L"<!--";
        // XML comments cannot hold "--" or end in "-"; the text is bent so that the node
        // (and its position) stays a comment.
        for (size_t i = 0; i < value.size(); ++i) {
            const wchar_t c = IsXmlChar(value[i]) ? value[i] : L'\xFFFD';
            out += c;
            if (c == L'-' && (i + 1 == value.size() || value[i + 1] == L'-')) out += L' ';
        }
        out += L"-->";
        return std::wstring();
    default:
        break;
    }
    AppendLeftOut(out);
    return std::wstring();
}

ComPtr<IHTMLDOMNode> RootElement(IHTMLDocument3* document) {
    ComPtr<IHTMLElement> element;
    ComPtr<IHTMLDOMNode> node;
    if (SUCCEEDED(document->get_documentElement(element.put())) && element) element.As(IID_IHTMLDOMNode, &node);
    return node;
}

}  // namespace

bool SerializeHtmlMirror(IHTMLDOMNode* root, std::wstring& xml) {
    if (!root) return false;
    xml.clear();
    // Only the root element is written at the top: an XML document holds no second element
    // and no text there, and a node after the root can never be walked back to (see
    // WalkPositionPath), so the root's following siblings are of no use to a lookup.
    //
    // Depth first without recursion, so that a deeply nested page cannot exhaust the browser
    // thread's stack. Each level is the rest of one sibling chain and the tag that closes it.
    struct Level {
        ComPtr<IHTMLDOMNode> next;
        std::wstring closeTag;
    };
    std::vector<Level> levels;
    levels.push_back({ComPtr<IHTMLDOMNode>(root), std::wstring()});
    while (!levels.empty()) {
        if (!levels.back().next) {
            xml += levels.back().closeTag;
            levels.pop_back();
            continue;
        }
        ComPtr<IHTMLDOMNode> node = std::move(levels.back().next);
        ComPtr<IHTMLDOMNode> sibling;
        if (levels.size() > 1 && SUCCEEDED(node->get_nextSibling(sibling.put()))) levels.back().next = sibling;

        std::wstring closeTag = AppendNode(xml, node.get());
        if (closeTag.empty()) continue;
        ComPtr<IHTMLDOMNode> child;
        if (FAILED(node->get_firstChild(child.put()))) child.reset();
        levels.push_back({child, std::move(closeTag)});
    }
    return true;
}

HRESULT BuildHtmlMirror(IHTMLDocument3* document, IXMLDOMDocument** mirror) {
    *mirror = nullptr;
    ComPtr<IXMLDOMDocument> xmlDocument;
    RETURN_IF_FAILED(CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, xmlDocument.put_void()));
    ComPtr<IHTMLDOMNode> root = RootElement(document);
    std::wstring xml;
    if (!SerializeHtmlMirror(root.get(), xml)) return E_FAIL;

    // Whitespace-only text is a node of the HTML document too; it must keep its position.
    RETURN_IF_FAILED(xmlDocument->put_preserveWhiteSpace(VARIANT_TRUE));
    xmlDocument->put_async(VARIANT_FALSE);
    xmlDocument->put_validateOnParse(VARIANT_FALSE);
    xmlDocument->put_resolveExternals(VARIANT_FALSE);
    unique_bstr text(SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size())));
    if (!text) return E_OUTOFMEMORY;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = xmlDocument->loadXML(text.get(), &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE) return FAILED(hr) ? hr : E_FAIL;
    *mirror = xmlDocument.detach();
    return S_OK;
}

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

HRESULT WalkPositionPath(IHTMLDocument3* document, const std::vector<LONG>& path, IHTMLDOMNode** reached) {
    *reached = nullptr;
    // Fewer than two entries: the document itself, or a node without a parent (an attribute).
    // Entry 1 is the root element's position among the mirror's top-level nodes, always 0
    // (nothing before the root is mirrored); a node after the root lies outside the HTML root
    // element, and walking into the root would hand back the wrong element.
    if (path.size() < 2 || path[1] != 0) return S_OK;
    ComPtr<IHTMLDOMNode> current = RootElement(document);
    for (size_t i = 2; current && i < path.size(); ++i) {
        ComPtr<IDispatch> childrenDispatch;
        ComPtr<IHTMLDOMChildrenCollection> children;
        ComPtr<IDispatch> item;
        ComPtr<IHTMLDOMNode> next;
        if (FAILED(current->get_childNodes(childrenDispatch.put())) || !childrenDispatch ||
            FAILED(childrenDispatch.As(IID_IHTMLDOMChildrenCollection, &children)) ||
            FAILED(children->item(path[i], item.put())) || !item || FAILED(item.As(IID_IHTMLDOMNode, &next)))
            return S_OK;
        current = next;
    }
    *reached = current.detach();
    return S_OK;
}

HRESULT FindElementByXPath(IWebBrowser2* browser, BSTR expression, IDispatch** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    ComPtr<IDispatch> documentDispatch;
    if (!browser || FAILED(browser->get_Document(documentDispatch.put())) || !documentDispatch) return S_OK;
    ComPtr<IHTMLDocument3> document;
    if (FAILED(documentDispatch.As(IID_IHTMLDocument3, &document)) || !document) return S_OK;

    ComPtr<IXMLDOMDocument> mirror;
    try {
        if (FAILED(BuildHtmlMirror(document.get(), mirror.put()))) return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    ComPtr<IXMLDOMDocument2> mirror2;
    if (SUCCEEDED(mirror.As(IID_IXMLDOMDocument2, &mirror2))) {
        unique_bstr name(SysAllocString(L"SelectionLanguage"));
        unique_variant language;
        V_VT(language.get()) = VT_BSTR;
        V_BSTR(language.get()) = SysAllocString(L"XPath");
        if (!name || !V_BSTR(language.get())) return E_OUTOFMEMORY;
        mirror2->setProperty(name.get(), *language.get());
    }
    ComPtr<IXMLDOMNode> selected;
    if (FAILED(mirror->selectSingleNode(expression, selected.put())) || !selected) return S_OK;

    ComPtr<IHTMLDOMNode> reached;
    try {
        WalkPositionPath(document.get(), PositionPath(selected.get()), reached.put());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    ComPtr<IHTMLElement> element;
    if (reached && SUCCEEDED(reached.As(IID_IHTMLElement, &element)) && element)
        *result = element.detach();
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) {
    return FindElementByXPath(m_webBrowser.get(), sXPathDef, pResult);
}
