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

// The read side of the walk: what one HTML node becomes in the mirror.
struct MirrorNode {
    enum Kind { kElement, kText, kCData, kComment, kLeftOut } kind = kLeftOut;
    std::wstring name;                                          // elements: lower case
    std::wstring text;                                          // text, CDATA, comment
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
};

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

void ReadAttributes(IHTMLDOMNode* node, MirrorNode& mirror) {
    ComPtr<IDispatch> collectionDispatch;
    ComPtr<IHTMLAttributeCollection> collection;
    if (FAILED(node->get_attributes(collectionDispatch.put())) || !collectionDispatch ||
        FAILED(collectionDispatch.As(IID_IHTMLAttributeCollection, &collection)))
        return;
    long length = 0;
    if (FAILED(collection->get_length(&length))) return;

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
        // Setting an attribute twice keeps the last value; XML allows a name only once.
        auto existing = std::find_if(mirror.attributes.begin(), mirror.attributes.end(),
                                     [&](const auto& a) { return a.first == attributeName; });
        if (existing != mirror.attributes.end())
            existing->second = std::move(text);
        else
            mirror.attributes.emplace_back(std::move(attributeName), std::move(text));
    }
}

// Whatever the mirror cannot hold (an unknown node type, a name XML refuses, a value that is
// not text, a type that cannot be read) is left out, and stands as a placeholder.
MirrorNode ReadNode(IHTMLDOMNode* node) {
    MirrorNode mirror;
    long type = 0;
    if (FAILED(node->get_nodeType(&type))) return mirror;
    switch (type) {
    case kElementNode: {
        unique_bstr name;
        if (FAILED(node->get_nodeName(name.put())) || !name) break;
        std::wstring lower(name.get(), SysStringLen(name.get()));
        std::transform(lower.begin(), lower.end(), lower.begin(), ToLowerAscii);
        if (!IsMirrorName(lower)) break;
        mirror.kind = MirrorNode::kElement;
        mirror.name = std::move(lower);
        ReadAttributes(node, mirror);
        break;
    }
    case kTextNode:
        if (ReadStringValue(node, mirror.text)) mirror.kind = MirrorNode::kText;
        break;
    case kCDataNode:
        if (ReadStringValue(node, mirror.text)) mirror.kind = MirrorNode::kCData;
        break;
    case kCommentNode:
        if (ReadStringValue(node, mirror.text)) mirror.kind = MirrorNode::kComment;
        break;
    default:
        break;
    }
    return mirror;
}

// The write side: the mirror as XML text, or built node by node in an MSXML document.
class MirrorWriter {
public:
    virtual ~MirrorWriter() = default;
    // Returns false when the node cannot be written (the walk then gives up).
    virtual bool Open(const MirrorNode& node) = 0;   // elements stay open for their children
    virtual bool Close() = 0;
};

// Sanitised for XML 1.0: characters it cannot carry become U+FFFD.
wchar_t XmlChar(wchar_t c) { return IsXmlChar(c) ? c : L'\xFFFD'; }

// XML comments cannot hold "--" or end in "-", nor sections "]]>": the text is bent so that
// the node (and its position) stays what it is.
std::wstring CommentText(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += XmlChar(text[i]);
        if (text[i] == L'-' && (i + 1 == text.size() || text[i + 1] == L'-')) out += L' ';
    }
    return out;
}

std::wstring CDataText(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += XmlChar(text[i]);
        if (text.compare(i, 3, L"]]>") == 0) out += L' ';
    }
    return out;
}

class TextWriter final : public MirrorWriter {
public:
    explicit TextWriter(std::wstring& out) : m_out(out) {}
    bool Open(const MirrorNode& node) override {
        switch (node.kind) {
        case MirrorNode::kElement:
            m_out += L'<';
            m_out += node.name;
            for (const auto& attribute : node.attributes) {
                m_out += L' ';
                m_out += attribute.first;
                m_out += L"=\"";
                AppendEscaped(m_out, attribute.second.data(), attribute.second.size(), true);
                m_out += L'"';
            }
            m_out += L'>';
            m_names.push_back(node.name);
            break;
        case MirrorNode::kText:
            AppendEscaped(m_out, node.text.data(), node.text.size(), false);
            break;
        case MirrorNode::kCData:
            m_out += L"<![CDATA[" + CDataText(node.text) + L"]]>";
            break;
        case MirrorNode::kComment:
            m_out += L"<!--" + CommentText(node.text) + L"-->";
            break;
        case MirrorNode::kLeftOut:
            m_out += L"<?";
            m_out += kLeftOutNodeTarget;
            m_out += L"?>";
            break;
        }
        return true;
    }
    bool Close() override {
        m_out += L"</" + m_names.back() + L">";
        m_names.pop_back();
        return true;
    }

private:
    std::wstring& m_out;
    std::vector<std::wstring> m_names;
};

class DomWriter final : public MirrorWriter {
public:
    explicit DomWriter(IXMLDOMDocument* document) : m_document(document) {
        ComPtr<IXMLDOMNode> root;
        document->QueryInterface(IID_IXMLDOMNode, root.put_void());
        m_parents.push_back(root);
    }
    bool Open(const MirrorNode& node) override {
        ComPtr<IXMLDOMNode> created;
        if (!Create(node, &created)) return false;
        ComPtr<IXMLDOMNode> appended;
        if (FAILED(m_parents.back()->appendChild(created.get(), appended.put())) || !appended) return false;
        if (node.kind == MirrorNode::kElement) m_parents.push_back(appended);
        return true;
    }
    bool Close() override {
        m_parents.pop_back();
        return true;
    }

private:
    bool Create(const MirrorNode& node, ComPtr<IXMLDOMNode>* created) {
        auto asNode = [&](auto& typed) { return SUCCEEDED(typed.As(IID_IXMLDOMNode, created)); };
        switch (node.kind) {
        case MirrorNode::kElement: {
            unique_bstr name(SysAllocString(node.name.c_str()));
            ComPtr<IXMLDOMElement> element;
            if (!name || FAILED(m_document->createElement(name.get(), element.put())) || !element) return false;
            for (const auto& attribute : node.attributes) {
                unique_bstr attributeName(SysAllocString(attribute.first.c_str()));
                unique_variant value;
                V_VT(value.get()) = VT_BSTR;
                V_BSTR(value.get()) = SysAllocStringLen(attribute.second.data(), static_cast<UINT>(attribute.second.size()));
                if (attributeName && V_BSTR(value.get())) element->setAttribute(attributeName.get(), *value.get());
            }
            return asNode(element);
        }
        case MirrorNode::kText: {
            unique_bstr text(SysAllocStringLen(node.text.data(), static_cast<UINT>(node.text.size())));
            ComPtr<IXMLDOMText> made;
            return text && SUCCEEDED(m_document->createTextNode(text.get(), made.put())) && made && asNode(made);
        }
        case MirrorNode::kCData: {
            unique_bstr text(SysAllocString(CDataText(node.text).c_str()));
            ComPtr<IXMLDOMCDATASection> made;
            return text && SUCCEEDED(m_document->createCDATASection(text.get(), made.put())) && made && asNode(made);
        }
        case MirrorNode::kComment: {
            unique_bstr text(SysAllocString(CommentText(node.text).c_str()));
            ComPtr<IXMLDOMComment> made;
            return text && SUCCEEDED(m_document->createComment(text.get(), made.put())) && made && asNode(made);
        }
        case MirrorNode::kLeftOut: {
            unique_bstr target(SysAllocString(kLeftOutNodeTarget)), data(SysAllocString(L""));
            ComPtr<IXMLDOMProcessingInstruction> made;
            return target && data && SUCCEEDED(m_document->createProcessingInstruction(target.get(), data.get(), made.put())) &&
                   made && asNode(made);
        }
        }
        return false;
    }

    IXMLDOMDocument* m_document;
    std::vector<ComPtr<IXMLDOMNode>> m_parents;
};

// Depth first without recursion, so that a deeply nested page cannot exhaust the browser
// thread's stack. Only the root element is written at the top: an XML document holds no second
// element and no text there, and a node after the root can never be walked back to (see
// WalkPositionPath), so the root's following siblings are of no use to a lookup.
bool WalkHtml(IHTMLDOMNode* root, MirrorWriter& writer) {
    struct Level {
        ComPtr<IHTMLDOMNode> next;   // the rest of one sibling chain
        bool closes;                 // whether an element was opened for this chain
    };
    std::vector<Level> levels;
    levels.push_back({ComPtr<IHTMLDOMNode>(root), false});
    while (!levels.empty()) {
        if (!levels.back().next) {
            if (levels.back().closes && !writer.Close()) return false;
            levels.pop_back();
            continue;
        }
        ComPtr<IHTMLDOMNode> node = std::move(levels.back().next);
        ComPtr<IHTMLDOMNode> sibling;
        if (levels.size() > 1 && SUCCEEDED(node->get_nextSibling(sibling.put()))) levels.back().next = sibling;

        const MirrorNode mirror = ReadNode(node.get());
        if (!writer.Open(mirror)) return false;
        if (mirror.kind != MirrorNode::kElement) continue;
        ComPtr<IHTMLDOMNode> child;
        if (FAILED(node->get_firstChild(child.put()))) child.reset();
        levels.push_back({child, true});
    }
    return true;
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
    TextWriter writer(xml);
    return WalkHtml(root, writer);
}

HRESULT BuildHtmlMirror(IHTMLDocument3* document, IXMLDOMDocument** mirror) {
    *mirror = nullptr;
    ComPtr<IXMLDOMDocument> xmlDocument;
    RETURN_IF_FAILED(CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, xmlDocument.put_void()));
    ComPtr<IHTMLDOMNode> root = RootElement(document);
    std::wstring xml;
    if (!SerializeHtmlMirror(root.get(), xml)) return E_FAIL;

    // The mirror is written as one text and parsed once: far cheaper than a COM call per node.
    // Whitespace-only text is a node of the HTML document too and must keep its position.
    RETURN_IF_FAILED(xmlDocument->put_preserveWhiteSpace(VARIANT_TRUE));
    xmlDocument->put_async(VARIANT_FALSE);
    xmlDocument->put_validateOnParse(VARIANT_FALSE);
    xmlDocument->put_resolveExternals(VARIANT_FALSE);
    unique_bstr text(SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size())));
    if (!text) return E_OUTOFMEMORY;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (SUCCEEDED(xmlDocument->loadXML(text.get(), &loaded)) && loaded == VARIANT_TRUE) {
        *mirror = xmlDocument.detach();
        return S_OK;
    }

    // The parser refuses some documents the DOM can still hold (nesting deeper than its limit
    // of 256 levels): build those node by node.
    RETURN_IF_FAILED(CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, xmlDocument.put_void()));
    DomWriter writer(xmlDocument.get());
    if (!WalkHtml(root.get(), writer)) return E_FAIL;
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
