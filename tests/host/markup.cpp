// Fake DOM trees from small XHTML fixtures: MSXML parses the markup, and each XML node becomes
// a fake HTML node, element names upper-cased as MSHTML reports them.
#include "common/com_ptr.h"
#include "common/unique_owner.h"
#include "host/browser_host.h"
#include "xpath/page_mirror.h"

#include <algorithm>
#include <stdexcept>

namespace host {

namespace {

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

std::unique_ptr<FakeNode> Convert(IXMLDOMNode* xml) {
    DOMNodeType type = NODE_INVALID;
    xml->get_nodeType(&type);
    unique_bstr name;
    xml->get_nodeName(name.put());
    unique_variant value;
    xml->get_nodeValue(value.get());

    switch (type) {
    case NODE_ELEMENT: {
        std::wstring upper = Text(name.get());
        std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return towupper(c); });
        auto node = std::make_unique<FakeNode>(1L, upper);
        ComPtr<IXMLDOMNamedNodeMap> attributes;
        xml->get_attributes(attributes.put());
        long count = 0;
        if (attributes) attributes->get_length(&count);
        for (long i = 0; i < count; ++i) {
            ComPtr<IXMLDOMNode> attribute;
            attributes->get_item(i, attribute.put());
            if (!attribute) continue;
            unique_bstr attributeName;
            unique_variant attributeValue;
            attribute->get_nodeName(attributeName.put());
            attribute->get_nodeValue(attributeValue.get());
            if (Text(attributeName.get()) == L"host-name")
                node->name = Value(*attributeValue.get()).text();
            else
                node->attributes.emplace_back(Text(attributeName.get()), Value(*attributeValue.get()));
        }
        ComPtr<IXMLDOMNode> child;
        xml->get_firstChild(child.put());
        while (child) {
            if (auto converted = Convert(child.get())) node->Append(std::move(converted));
            ComPtr<IXMLDOMNode> next;
            child->get_nextSibling(next.put());
            child = next;
        }
        return node;
    }
    case NODE_TEXT:
    case NODE_CDATA_SECTION:
    case NODE_COMMENT: {
        const long htmlType = type == NODE_TEXT ? 3 : type == NODE_CDATA_SECTION ? 4 : 8;
        auto node = std::make_unique<FakeNode>(htmlType, htmlType == 3 ? L"#text" : htmlType == 8 ? L"#comment" : L"#cdata-section");
        node->value = Value(*value.get());
        return node;
    }
    case NODE_PROCESSING_INSTRUCTION: {
        const std::wstring target = Text(name.get());
        const std::wstring data = Value(*value.get()).text();
        if (target == L"host-node") return std::make_unique<FakeNode>(_wtol(data.c_str()), L"#other");
        if (target == L"host-text-number") {
            auto node = std::make_unique<FakeNode>(3L, L"#text");
            node->value = Value(_wtol(data.c_str()));
            return node;
        }
        return nullptr;
    }
    default:
        return nullptr;
    }
}

}  // namespace

void FakeDocument::LoadMarkup(const std::wstring& xhtml) {
    ComPtr<IXMLDOMDocument> xml;
    if (FAILED(CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, xml.put_void())))
        throw std::runtime_error("MSXML is not available");
    xml->put_preserveWhiteSpace(VARIANT_TRUE);
    unique_bstr text(SysAllocString(xhtml.c_str()));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(xml->loadXML(text.get(), &loaded)) || !loaded) throw std::runtime_error("fixture markup is not well-formed");
    ComPtr<IXMLDOMElement> element;
    xml->get_documentElement(element.put());
    ComPtr<IXMLDOMNode> node;
    element.As(IID_IXMLDOMNode, &node);
    root = Convert(node.get());
}

}  // namespace host
