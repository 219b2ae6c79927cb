#include "xpath/page_mirror.h"

#include "common/hresult.h"
#include "common/unique_owner.h"

#include <algorithm>
#include <stdexcept>

const wchar_t kLeftOutNodeTarget[] = L"velnor-left-out";
const wchar_t kPlaceholderElementName[] = L"velnor-element";
const CLSID kMsxmlDomDocument = {0xf6d90f11, 0x9c73, 0x11d3, {0xb3, 0x2e, 0x00, 0xc0, 0x4f, 0x99, 0x0b, 0xb4}};

namespace {

constexpr long kElementNode = 1;
constexpr long kTextNode = 3;
constexpr long kCDataNode = 4;
constexpr long kCommentNode = 8;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// A name the mirror can hold without namespaces: an ASCII XML name without a prefix.
bool IsMirrorName(std::wstring_view name) {
    if (name.empty() || !(IsAsciiLetter(name[0]) || name[0] == L'_')) return false;
    for (wchar_t c : name)
        if (!(IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-' || c == L'.')) return false;
    return true;
}

// A namespace declaration would move the mirrored elements out of the null namespace, where
// unprefixed XPath names look; the mirror keeps every element there.
bool IsNamespaceDeclaration(std::wstring_view name) {
    return name == L"xmlns" || name.substr(0, 6) == L"xmlns:";
}

bool IsXmlChar(wchar_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

// Characters XML cannot carry become U+FFFD; a surrogate pair stays, a lone surrogate does not.
void Sanitize(wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if (!IsXmlChar(c)) text[i] = L'\xFFFD';
    }
}

// CR, and in attributes tab and LF, are written as references, so that the parser gives them
// back as they are.
void AppendEscaped(std::wstring& out, std::wstring_view text, bool inAttribute) {
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t* replacement = nullptr;
        switch (text[i]) {
        case L'&': replacement = L"&amp;"; break;
        case L'<': replacement = L"&lt;"; break;
        case L'>': replacement = L"&gt;"; break;
        case L'"': replacement = inAttribute ? L"&quot;" : nullptr; break;
        case L'\r': replacement = L"&#13;"; break;
        case L'\t': replacement = inAttribute ? L"&#9;" : nullptr; break;
        case L'\n': replacement = inAttribute ? L"&#10;" : nullptr; break;
        default: break;
        }
        if (!replacement) continue;
        out.append(text.data() + run, i - run);
        out += replacement;
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// A text value of the HTML node, when it is a string.
bool ReadStringValue(IHTMLDOMNode* node, unique_variant& value) {
    return SUCCEEDED(node->get_nodeValue(value.put())) && V_VT(value.get()) == VT_BSTR;
}

// Attribute values as the HTML DOM gives them, as text; a value without a text form (null,
// empty, an object) is skipped like a failed copy.
bool AttributeText(VARIANT* value, unique_variant& converted, BSTR* text) {
    if (V_VT(value) == VT_BSTR) {
        *text = V_BSTR(value);
        return true;
    }
    if (V_VT(value) == VT_NULL || V_VT(value) == VT_EMPTY || V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN)
        return false;
    if (FAILED(VariantChangeType(converted.get(), value, 0, VT_BSTR))) return false;
    *text = V_BSTR(converted.get());
    return true;
}

}  // namespace

// XML comments cannot hold "--" or end in "-": the text is bent so that the node (and its
// position) stays what it is.
std::wstring XmlCommentText(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == L'-' && (i + 1 == text.size() || text[i + 1] == L'-')) out += L' ';
    }
    return out;
}

PageMirror::Index PageMirror::AddText(const wchar_t* text, size_t length) {
    const size_t at = m_pool.size();
    if (length >= kNone || at >= kNone - length) throw std::length_error("page text");
    if (length) {
        m_pool.append(text, length);
        Sanitize(&m_pool[at], length);
    }
    return static_cast<Index>(at);
}

PageMirror::Index PageMirror::AddNode(Kind kind, Index parent) {
    if (m_nodes.size() >= kNone - 1) throw std::length_error("page nodes");
    const Index index = static_cast<Index>(m_nodes.size());
    Node node = {};
    node.kind = kind;
    node.parent = parent;
    node.nextSibling = kNone;
    node.firstChild = kNone;
    node.subtreeEnd = index + 1;
    m_nodes.push_back(node);
    m_pageNodes.emplace_back();
    return index;
}

void PageMirror::KeepTables() {
    m_pageNodes.clear();
    m_nodes.swap(m_keptNodes);
    m_attributes.swap(m_keptAttributes);
    m_pool.swap(m_keptPool);
    m_nodes.clear();
    m_attributes.clear();
    m_pool.clear();
    m_hasKept = true;
    m_holdsRead = false;
}

void PageMirror::Release() {
    // A large page's memory is given back, and with it what the lookups kept of it; a usual
    // one's is kept for the next lookup.
    constexpr size_t kKeptBytes = 16 * 1024 * 1024;
    if (m_holdsRead) KeepTables();
    const size_t bytes = m_keptNodes.capacity() * sizeof(Node) + m_keptAttributes.capacity() * sizeof(Attribute) +
                         m_pageNodes.capacity() * sizeof(ComPtr<IHTMLDOMNode>) +
                         m_keptPool.capacity() * sizeof(wchar_t);
    if (bytes > kKeptBytes) {
        std::vector<Node>().swap(m_nodes);
        std::vector<Attribute>().swap(m_attributes);
        std::vector<ComPtr<IHTMLDOMNode>>().swap(m_pageNodes);
        std::wstring().swap(m_pool);
        std::vector<Node>().swap(m_keptNodes);
        std::vector<Attribute>().swap(m_keptAttributes);
        std::wstring().swap(m_keptPool);
        m_hasKept = false;
        m_sameAsPrevious = false;
        m_xmlForm = XmlForm();
    }
}

// Field by field: what goes into the XML form is a function of these tables alone (kinds, tree
// links, names, attributes, texts), so equal tables give the same XML text.
bool PageMirror::TablesEqualKept() const {
    if (!m_hasKept || m_nodes.size() != m_keptNodes.size() || m_attributes.size() != m_keptAttributes.size() ||
        m_pool != m_keptPool)
        return false;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        const Node& a = m_nodes[i];
        const Node& b = m_keptNodes[i];
        if (a.kind != b.kind || a.parent != b.parent || a.nextSibling != b.nextSibling ||
            a.firstChild != b.firstChild || a.subtreeEnd != b.subtreeEnd || a.name != b.name ||
            a.nameLength != b.nameLength || a.text != b.text || a.textLength != b.textLength ||
            a.firstAttribute != b.firstAttribute || a.attributeCount != b.attributeCount)
            return false;
    }
    for (size_t i = 0; i < m_attributes.size(); ++i) {
        const Attribute& a = m_attributes[i];
        const Attribute& b = m_keptAttributes[i];
        if (a.name != b.name || a.nameLength != b.nameLength || a.value != b.value || a.valueLength != b.valueLength)
            return false;
    }
    return true;
}

void PageMirror::ReadAttributes(IHTMLDOMNode* node, Node& element) {
    element.firstAttribute = static_cast<Index>(m_attributes.size());
    ComPtr<IDispatch> collectionDispatch;
    ComPtr<IHTMLAttributeCollection> collection;
    if (FAILED(node->get_attributes(collectionDispatch.put())) || !collectionDispatch ||
        FAILED(collectionDispatch.As(IID_IHTMLAttributeCollection, &collection)))
        return;
    long length = 0;
    if (FAILED(collection->get_length(&length))) return;
    for (long i = 0; i < length; ++i) {
        VARIANT index;
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        ComPtr<IDispatch> itemDispatch;
        ComPtr<IHTMLDOMAttribute> attribute;
        if (FAILED(collection->item(&index, itemDispatch.put())) || !itemDispatch ||
            FAILED(itemDispatch.As(IID_IHTMLDOMAttribute, &attribute)))
            continue;
        unique_bstr name;
        unique_variant value, converted;
        BSTR text = nullptr;
        if (FAILED(attribute->get_nodeName(name.put())) || !name || FAILED(attribute->get_nodeValue(value.get())))
            continue;
        const std::wstring_view attributeName(name.get(), SysStringLen(name.get()));
        if (!IsMirrorName(attributeName) || IsNamespaceDeclaration(attributeName) ||
            !AttributeText(value.get(), converted, &text))
            continue;
        const size_t valueLength = text ? SysStringLen(text) : 0;
        // Setting an attribute twice keeps the last value; XML allows a name only once.
        Attribute* existing = nullptr;
        for (size_t a = element.firstAttribute; a < m_attributes.size() && !existing; ++a)
            if (Text(m_attributes[a].name, m_attributes[a].nameLength) == attributeName) existing = &m_attributes[a];
        if (existing) {
            existing->value = AddText(text, valueLength);
            existing->valueLength = static_cast<Index>(valueLength);
            continue;
        }
        const Index nameAt = AddText(attributeName.data(), attributeName.size());
        const Index valueAt = AddText(text, valueLength);
        m_attributes.push_back({nameAt, static_cast<Index>(attributeName.size()), valueAt, static_cast<Index>(valueLength)});
    }
    element.attributeCount = static_cast<Index>(m_attributes.size() - element.firstAttribute);
}

void PageMirror::ReadElement(IHTMLDOMNode* node, BSTR name, Index index) {
    const size_t length = SysStringLen(name);
    std::wstring_view nameText(name, length);
    std::wstring lower;
    lower.reserve(length);
    for (wchar_t c : nameText) lower += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (!IsMirrorName(lower)) lower = kPlaceholderElementName;
    Node element = m_nodes[index];
    element.name = AddText(lower.data(), lower.size());
    element.nameLength = static_cast<Index>(lower.size());
    ReadAttributes(node, element);
    m_nodes[index] = element;
}

bool PageMirror::Read(IHTMLDocument3* document) {
    ComPtr<IHTMLElement> element;
    ComPtr<IHTMLDOMNode> root;
    if (!document || FAILED(document->get_documentElement(element.put())) || !element ||
        FAILED(element.As(IID_IHTMLDOMNode, &root)))
        return Read(static_cast<IHTMLDOMNode*>(nullptr));
    return Read(root.get());
}

bool PageMirror::Read(IHTMLDOMNode* root) {
    // The kept XML form is taken out first and put back only when this read is known to give
    // the same tables: a read that fails or throws half-way leaves no XML form of another page.
    XmlForm form = std::move(m_xmlForm);
    m_xmlForm = XmlForm();
    m_sameAsPrevious = false;
    if (m_holdsRead) KeepTables();
    m_holdsRead = true;
    const bool read = ReadTables(root);
    m_sameAsPrevious = read && TablesEqualKept();
    if (m_sameAsPrevious) m_xmlForm = std::move(form);
    return read;
}

// Depth first without recursion, so that a deeply nested page cannot exhaust the browser
// thread's stack. Only the root element is read at the top: an XML document holds no second
// element there, and the selection always lies under the root.
bool PageMirror::ReadTables(IHTMLDOMNode* root) {
    if (!root) return false;

    struct Chain {
        ComPtr<IHTMLDOMNode> next;   // the rest of one sibling chain
        Index parent;
        Index lastChild;
    };
    std::vector<Chain> chains;
    chains.push_back({ComPtr<IHTMLDOMNode>(root), kNone, kNone});
    while (!chains.empty()) {
        if (!chains.back().next) {
            const Index parent = chains.back().parent;
            if (parent != kNone) m_nodes[parent].subtreeEnd = size();
            chains.pop_back();
            continue;
        }
        ComPtr<IHTMLDOMNode> current = std::move(chains.back().next);
        if (chains.size() > 1) {
            ComPtr<IHTMLDOMNode> sibling;
            if (SUCCEEDED(current->get_nextSibling(sibling.put()))) chains.back().next = std::move(sibling);
        }
        const Index parent = chains.back().parent;

        long type = 0;
        Kind kind = kLeftOut;
        unique_bstr name;
        unique_variant value;
        if (SUCCEEDED(current->get_nodeType(&type))) {
            if (type == kElementNode) {
                if (SUCCEEDED(current->get_nodeName(name.put())) && name) kind = kElement;
            } else if (type == kTextNode || type == kCDataNode) {
                if (ReadStringValue(current.get(), value)) kind = kText;
            } else if (type == kCommentNode) {
                if (ReadStringValue(current.get(), value)) kind = kComment;
            }
        }
        const Index index = AddNode(kind, parent);
        if (chains.back().lastChild != kNone)
            m_nodes[chains.back().lastChild].nextSibling = index;
        else if (parent != kNone)
            m_nodes[parent].firstChild = index;
        chains.back().lastChild = index;

        if (kind == kText || kind == kComment) {
            BSTR text = V_BSTR(value.get());
            const size_t length = text ? SysStringLen(text) : 0;
            m_nodes[index].text = AddText(text, length);
            m_nodes[index].textLength = static_cast<Index>(length);
        } else if (kind == kElement) {
            ReadElement(current.get(), name.get(), index);
            ComPtr<IHTMLDOMNode> child;
            if (FAILED(current->get_firstChild(child.put()))) child.reset();
            m_pageNodes[index] = std::move(current);
            chains.push_back({std::move(child), index, kNone});
        }
    }
    return true;
}

bool PageMirror::AttributeValue(Index index, std::wstring_view name, std::wstring_view* value) const {
    const Node& element = m_nodes[index];
    for (Index a = element.firstAttribute; a < element.firstAttribute + element.attributeCount; ++a) {
        const Attribute& attribute = m_attributes[a];
        if (Text(attribute.name, attribute.nameLength) == name) {
            *value = Text(attribute.value, attribute.valueLength);
            return true;
        }
    }
    return false;
}

PageMirror::Index PageMirror::ChildAtXmlPosition(Index parent, long position) const {
    if (parent == kNone || position < 0) return kNone;
    long at = 0;
    Index run = kNone;         // the first text node of the run being passed
    bool runHasText = false;   // an empty run is no node of the XML form
    for (Index child = m_nodes[parent].firstChild;; child = m_nodes[child].nextSibling) {
        const bool text = child != kNone && m_nodes[child].kind == kText;
        if (text) {
            if (run == kNone) run = child;
            runHasText = runHasText || m_nodes[child].textLength > 0;
            continue;
        }
        if (run != kNone && runHasText) {
            if (at == position) return run;
            ++at;
        }
        run = kNone;
        runHasText = false;
        if (child == kNone) return kNone;
        if (at == position) return child;
        ++at;
    }
}

void PageMirror::WriteXml(std::wstring& xml) const {
    xml.clear();
    xml.reserve(m_pool.size() * 2);
    std::vector<Index> open;
    auto close = [&](Index element) {
        xml += L"</";
        xml += Name(element);
        xml += L'>';
    };
    for (Index i = 0; i < size(); ++i) {
        while (!open.empty() && i >= m_nodes[open.back()].subtreeEnd) {
            close(open.back());
            open.pop_back();
        }
        const Node& node = m_nodes[i];
        switch (node.kind) {
        case kElement:
            xml += L'<';
            xml += Name(i);
            for (Index a = node.firstAttribute; a < node.firstAttribute + node.attributeCount; ++a) {
                xml += L' ';
                xml += Text(m_attributes[a].name, m_attributes[a].nameLength);
                xml += L"=\"";
                AppendEscaped(xml, Text(m_attributes[a].value, m_attributes[a].valueLength), true);
                xml += L'"';
            }
            xml += L'>';
            if (node.firstChild == kNone)
                close(i);
            else
                open.push_back(i);
            break;
        case kText:
            AppendEscaped(xml, Value(i), false);
            break;
        case kComment:
            xml += L"<!--";
            xml += XmlCommentText(Value(i));
            xml += L"-->";
            break;
        case kLeftOut:
            xml += L"<?";
            xml += kLeftOutNodeTarget;
            xml += L"?>";
            break;
        }
    }
    while (!open.empty()) {
        close(open.back());
        open.pop_back();
    }
}

HRESULT PageMirror::BuildXmlDocument(IXMLDOMDocument* document) const {
    std::vector<ComPtr<IXMLDOMNode>> parents;
    ComPtr<IXMLDOMNode> top;
    RETURN_IF_FAILED(document->QueryInterface(IID_IXMLDOMNode, top.put_void()));
    std::vector<Index> open;
    parents.push_back(top);
    for (Index i = 0; i < size(); ++i) {
        while (!open.empty() && i >= m_nodes[open.back()].subtreeEnd) {
            open.pop_back();
            parents.pop_back();
        }
        const Node& node = m_nodes[i];
        ComPtr<IXMLDOMNode> created;
        switch (node.kind) {
        case kElement: {
            unique_bstr name = MakeBstr(Name(i).data(), node.nameLength);
            ComPtr<IXMLDOMElement> element;
            if (!name) return E_OUTOFMEMORY;
            RETURN_IF_FAILED(document->createElement(name.get(), element.put()));
            for (Index a = node.firstAttribute; a < node.firstAttribute + node.attributeCount; ++a) {
                const Attribute& attribute = m_attributes[a];
                unique_bstr attributeName = MakeBstr(m_pool.data() + attribute.name, attribute.nameLength);
                unique_variant value;
                V_VT(value.get()) = VT_BSTR;
                V_BSTR(value.get()) = SysAllocStringLen(m_pool.data() + attribute.value, static_cast<UINT>(attribute.valueLength));
                if (!attributeName || !V_BSTR(value.get())) return E_OUTOFMEMORY;
                element->setAttribute(attributeName.get(), *value.get());
            }
            RETURN_IF_FAILED(element.As(IID_IXMLDOMNode, &created));
            break;
        }
        case kText: {
            // One XML text node for a run of adjacent text nodes, none for an empty run: what
            // the parser makes of the XML text too.
            if (i > 0 && m_nodes[i - 1].kind == kText && m_nodes[i - 1].nextSibling == i) continue;
            std::wstring run;
            for (Index t = i; t != kNone && m_nodes[t].kind == kText; t = m_nodes[t].nextSibling) run += Value(t);
            if (run.empty()) continue;
            unique_bstr text = MakeBstr(run.data(), run.size());
            ComPtr<IXMLDOMText> made;
            if (!text) return E_OUTOFMEMORY;
            RETURN_IF_FAILED(document->createTextNode(text.get(), made.put()));
            RETURN_IF_FAILED(made.As(IID_IXMLDOMNode, &created));
            break;
        }
        case kComment: {
            const std::wstring bent = XmlCommentText(Value(i));
            unique_bstr text = MakeBstr(bent.data(), bent.size());
            ComPtr<IXMLDOMComment> made;
            if (!text) return E_OUTOFMEMORY;
            RETURN_IF_FAILED(document->createComment(text.get(), made.put()));
            RETURN_IF_FAILED(made.As(IID_IXMLDOMNode, &created));
            break;
        }
        case kLeftOut: {
            unique_bstr target(SysAllocString(kLeftOutNodeTarget)), data(SysAllocString(L""));
            ComPtr<IXMLDOMProcessingInstruction> made;
            if (!target || !data) return E_OUTOFMEMORY;
            RETURN_IF_FAILED(document->createProcessingInstruction(target.get(), data.get(), made.put()));
            RETURN_IF_FAILED(made.As(IID_IXMLDOMNode, &created));
            break;
        }
        }
        ComPtr<IXMLDOMNode> appended;
        RETURN_IF_FAILED(parents.back()->appendChild(created.get(), appended.put()));
        if (node.kind == kElement && node.firstChild != kNone) {
            open.push_back(i);
            parents.push_back(appended);
        }
    }
    return S_OK;
}
