// The part of XPath 1.0 that sign-on templates use nearly always, evaluated on the page mirror
// itself: paths of child ("/") and descendant ("//") steps with element names or "*", each
// with predicates that are a position ([2]) or tests of attributes joined by "and"
// ([@id='user'], [@type="text" and @name!='q'], [@disabled]). For such an expression the
// mirror need not be written out and parsed by MSXML, which costs several times more than
// reading the page; every other expression goes to MSXML, and both give the same element.
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

private:
    struct Test {
        std::wstring attribute;
        enum Comparison { kPresent, kEqual, kNotEqual } comparison = kPresent;
        std::wstring literal;
    };
    struct Predicate {
        long position = 0;          // [N]; 0 when the predicate is a list of attribute tests
        std::vector<Test> tests;    // all must hold
    };
    struct Step {
        bool descendant = false;    // after "//"
        std::wstring name;          // "*" for any element
        std::vector<Predicate> predicates;
    };

    bool Matches(const PageMirror& mirror, PageMirror::Index element, const Predicate& predicate) const;

    std::vector<Step> m_steps;
};
