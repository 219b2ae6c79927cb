// XPath 1.0 evaluated on the page mirror itself, with the result MSXML gives on the mirror's
// XML form (page_mirror.h): the document node with the root element as its only child; runs of
// adjacent text nodes as one text node, empty runs as none; comments with their XML text;
// left-out nodes as processing instructions named kLeftOutNodeTarget; attributes in the
// mirror's order, after their element and before its children in document order; no namespace
// nodes. Reading the page costs about one walk of it, MSXML's parse of the XML text several, so
// MSXML evaluates only what this refuses.
//
// Refused, besides what xpath::Expression::Parse refuses: a type error (a step, predicate or
// union applied to something that is no node-set, count() or sum() of one); a number written
// as text that is no integer (number formatting differs between XPath processors); a string
// with a surrogate pair given to string-length(), substring() or translate() (characters or
// UTF-16 units); the following and preceding axes from an attribute; a left-out node in a node-set
// compared with = or != to another node-set (libxml2 takes its empty data for no string); a
// mirror whose root is no element. MSXML decides those, also whether they are errors.
#pragma once

#include "xpath/page_mirror.h"
#include "xpath/xpath_expression.h"

#include <vector>

class MirrorXPath {
public:
    enum class Outcome { kEvaluated, kRefused };

    // False when the expression is left to MSXML (xpath_expression.h).
    bool Parse(const wchar_t* expression, size_t length) { return m_expression.Parse(expression, length); }

    // kEvaluated: *element is the first node of the selection in document order when that is an
    // element, else PageMirror::kNone (nothing selected, a node of another kind, or a result
    // that is no node-set, which MSXML's selectSingleNode refuses too). kRefused: MSXML decides.
    Outcome SelectFirstElement(const PageMirror& mirror, PageMirror::Index* element) const;

    // The whole selection in document order: a mirror node (kNone for the document node; a
    // text node of the XML form by the first mirror node of its run), or an attribute of one by
    // its place in the mirror's attribute table. Empty for a result that is no node-set.
    struct SelectedNode {
        PageMirror::Index node;
        PageMirror::Index attribute;   // kNone: the node itself
        bool operator==(const SelectedNode& other) const { return node == other.node && attribute == other.attribute; }
    };
    Outcome Select(const PageMirror& mirror, std::vector<SelectedNode>* selection) const;

    const xpath::Expression& expression() const { return m_expression; }

private:
    xpath::Expression m_expression;
};
