// The part of XPath 1.0 that sign-on templates use nearly always, evaluated on the page mirror
// itself. Paths of steps on the child ("/", "child::"), descendant ("//"), following-sibling and
// preceding-sibling axes with element names or "*", each with predicates that are
//   a position                 [2]  [last()]
//   or a test of the element   [@id='user' or @name="user"]  [not(@disabled)]
//                              [contains(@class,'btn') and starts-with(@id, 'login')]
//                              [text()='Sign in']  [normalize-space()='Sign in']  [.='x']
// where a test reads an attribute (@name), the element's text children (text()), its string
// value (.) or one of these with normalize-space(), compares it with a literal (=, !=) or tests
// it alone (present, not empty), joined by "and", "or", "not()" and parentheses. For such an
// expression the mirror need not be written out and parsed by MSXML, which costs several times
// more than reading the page; every other expression goes to MSXML, and both give the same
// element.
#pragma once

#include "extension/page_mirror.h"

#include <string>
#include <vector>

class XPathSubset {
public:
    // False when the expression is outside the subset (or not XPath at all); MSXML decides then.
    bool Parse(const wchar_t* expression, size_t length);

    // The first element in document order that the expression selects, or PageMirror::kNone.
    PageMirror::Index FirstMatch(const PageMirror& mirror) const;

    // What a test reads of the element.
    struct Operand {
        enum Source { kAttribute, kText, kSelf } source = kAttribute;   // @name, text(), .
        std::wstring attribute;
        bool normalized = false;   // inside normalize-space(): one string, not a node-set
    };
    struct Condition {
        enum Kind { kOr, kAnd, kNot, kPresent, kEqual, kNotEqual, kContains, kStartsWith } kind = kPresent;
        Operand operand;
        std::wstring literal;
        std::vector<Condition> operands;   // kOr, kAnd, kNot
    };
    struct Predicate {
        enum Kind { kPosition, kLast, kCondition } kind = kCondition;
        long position = 0;       // kPosition
        Condition condition;     // kCondition
    };
    struct Step {
        enum Axis { kChild, kDescendant, kFollowingSibling, kPrecedingSibling } axis = kChild;
        std::wstring name;       // "*" for any element
        std::vector<Predicate> predicates;
        bool positional = false;   // a predicate counts positions
    };

private:
    std::vector<Step> m_steps;
};
