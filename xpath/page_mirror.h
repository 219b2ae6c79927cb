// The page mirror: the HTML document's root element and everything below it, read once through
// the DOM interfaces into one flat table in document order. XPath is evaluated on the mirror,
// and each mirrored element keeps a reference to its page element, so a selected element is
// handed back as it is, never found again by counting positions.
//
// What the mirror holds of each HTML node:
//   element      its name in lower case (ASCII letters), its attributes, its children. An element
//                whose name XML cannot take as it is (a prefix such as o:p, a non-ASCII name) is
//                mirrored under kPlaceholderElementName, with its attributes and children.
//   text, CDATA  a text node with its value.
//   comment      a comment with its value.
//   anything else, a node whose type cannot be read or whose value is not text: a left-out
//                node (without children), which stands in the XML form as the processing
//                instruction kLeftOutNodeTarget, so that node() still counts it.
// Text values and attribute values hold only characters XML can carry (others become U+FFFD).
#pragma once

#include "common/com_ptr.h"

#include <windows.h>
#include <mshtml.h>
#include <msxml2.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern const wchar_t kLeftOutNodeTarget[];        // "velnor-left-out"
extern const wchar_t kPlaceholderElementName[];   // "velnor-element"

// A comment's text as the XML form holds it: a space after each "-" that another "-" or the
// end follows (XML comments cannot hold "--" nor end in "-").
std::wstring XmlCommentText(std::wstring_view text);

// MSXML's DOMDocument, {F6D90F11-9C73-11D3-B32E-00C04F990BB4}.
extern const CLSID kMsxmlDomDocument;

//
// A mirror is kept and reused by its owner: reading a large page into fresh memory costs about
// as much as reading the page itself, reading it into memory already at hand does not. Release()
// gives the page's elements back after each lookup and keeps the memory (up to a limit).
//
// The mirror also remembers what the previous read gave (its tables, without the page's
// elements), so that a lookup can tell whether the page's XML form is still the same and reuse
// the MSXML document made of it: MSXML's parse costs several times more than reading the page.
class PageMirror {
public:
    enum Kind : unsigned char { kElement, kText, kComment, kLeftOut };
    using Index = uint32_t;   // a node, an attribute or a place in the text pool
    static constexpr Index kNone = 0xFFFFFFFF;

    struct Node {
        Kind kind;
        Index parent;        // kNone for the root element
        Index nextSibling;   // kNone for the last child
        Index firstChild;    // kNone without children
        Index subtreeEnd;    // one past the last node of the subtree (nodes are in document order)
        Index name, nameLength;     // elements: in the text pool
        Index text, textLength;     // text and comments
        Index firstAttribute, attributeCount;
    };
    struct Attribute {
        Index name, nameLength, value, valueLength;
    };

    // Reads the document's root element and its subtree. False (and an empty mirror) when
    // there is no root element, or when the page is too large to count (over 4 billion nodes).
    bool Read(IHTMLDocument3* document);
    bool Read(IHTMLDOMNode* root);
    // Releases the page's elements; keeps the memory and what the read gave, unless it is large.
    void Release();

    // True when the last Read gave exactly what the read before it gave: the same nodes in the
    // same order with the same names, attributes and texts, so the same XML form. Element
    // identities do not count: a lookup always hands back the elements of the last read.
    bool SameAsPreviousRead() const { return m_sameAsPrevious; }

    // The MSXML document of the XML form and the selections made on it (an expression and the
    // child positions of what it selected, empty for nothing), as a lookup left them. Read
    // empties it unless SameAsPreviousRead(), so it always belongs to the page as last read.
    struct XmlForm {
        ComPtr<IXMLDOMDocument> document;
        std::vector<std::pair<std::wstring, std::vector<LONG>>> selections;
    };
    XmlForm& KeptXmlForm() { return m_xmlForm; }

    bool empty() const { return m_nodes.empty(); }
    Index size() const { return static_cast<Index>(m_nodes.size()); }
    const Node& node(Index index) const { return m_nodes[index]; }
    std::wstring_view Name(Index index) const { return Text(m_nodes[index].name, m_nodes[index].nameLength); }
    std::wstring_view Value(Index index) const { return Text(m_nodes[index].text, m_nodes[index].textLength); }
    // The value of the element's attribute of that name, or false.
    bool AttributeValue(Index index, std::wstring_view name, std::wstring_view* value) const;
    std::wstring_view Text(Index at, Index length) const { return std::wstring_view(m_pool.data() + at, length); }
    // An attribute by its place in the table (an element's are node.firstAttribute onwards).
    const Attribute& attribute(Index index) const { return m_attributes[index]; }

    // The page element of a mirrored element (null for other nodes, and after Release).
    IHTMLDOMNode* PageNode(Index index) const { return index < m_pageNodes.size() ? m_pageNodes[index].get() : nullptr; }

    // The node that the XML form of the mirror has at child position `position` of `parent`:
    // the XML form merges adjacent text nodes into one and has no empty text, so the positions
    // of the page's children and of the XML children differ. kNone when there is none.
    Index ChildAtXmlPosition(Index parent, long position) const;

    // The mirror as XML text (the root element and its subtree).
    void WriteXml(std::wstring& xml) const;
    // The mirror built node by node in an MSXML document, with the same nodes as the XML text
    // gives (for pages nested deeper than MSXML's parser takes).
    HRESULT BuildXmlDocument(IXMLDOMDocument* document) const;

private:
    Index AddNode(Kind kind, Index parent);
    Index AddText(const wchar_t* text, size_t length);
    void ReadElement(IHTMLDOMNode* node, BSTR name, Index index);
    void ReadAttributes(IHTMLDOMNode* node, Node& element);
    bool ReadTables(IHTMLDOMNode* root);
    void KeepTables();
    bool TablesEqualKept() const;

    std::vector<Node> m_nodes;
    std::vector<Attribute> m_attributes;
    std::vector<ComPtr<IHTMLDOMNode>> m_pageNodes;   // per node; set for elements only
    std::wstring m_pool;

    // The tables of the read before (the memory of the one before that is reused).
    bool m_holdsRead = false;   // m_nodes and the rest hold a read not yet kept
    bool m_hasKept = false;
    bool m_sameAsPrevious = false;
    std::vector<Node> m_keptNodes;
    std::vector<Attribute> m_keptAttributes;
    std::wstring m_keptPool;
    XmlForm m_xmlForm;
};
