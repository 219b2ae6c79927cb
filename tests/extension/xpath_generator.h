// Random pages and random XPath 1.0 expressions over their names and values, for comparing the
// mirror's evaluator with MSXML: every axis and node test, positional and boolean predicates,
// filter expressions, unions, the core function library and comparisons of every pair of
// types, mostly in forms the evaluator takes; and expressions mutated character by character,
// most of them no XPath at all.
#pragma once

#include "host/browser_host.h"

#include <random>
#include <string>
#include <vector>

namespace xpathgen {

class Generator {
public:
    explicit Generator(uint32_t seed) : m_random(seed) {}

    size_t Pick(size_t n) { return static_cast<size_t>(m_random() % n); }
    bool Chance(size_t inN) { return Pick(inN) == 0; }
    template <size_t N>
    std::wstring Of(const wchar_t* const (&words)[N]) { return words[Pick(N)]; }

    // A page of `elements` elements under <body>, with attributes, text runs (empty, adjacent,
    // spaced, numbers), comments XML must bend, nodes the mirror leaves out, names XML refuses.
    void BuildPage(host::FakeDocument& document, int elements) {
        document.LoadMarkup(L"<html><body/></html>");
        std::vector<host::FakeNode*> parents{document.root->children[0].get()};
        static const wchar_t* const kElementNames[] = {L"DIV", L"FORM", L"INPUT", L"SPAN", L"LABEL", L"B", L"O:P"};
        for (int n = 0; n < elements * 2;) {
            host::FakeNode* parent = parents[Pick(parents.size())];
            switch (Pick(9)) {
            case 0: parent->Add(host::FakeNode::Text(Chance(2) ? L"" : Of(kTexts))); break;
            case 1:
                parent->Add(host::FakeNode::Text(Of(kTexts)));
                parent->Add(host::FakeNode::Text(Of(kTexts)));
                break;
            case 2: parent->Add(host::FakeNode::Comment(Of(kComments))); break;
            case 3:
                if (Chance(3)) parent->Add(std::make_unique<host::FakeNode>(99L, L"#other"));
                break;
            default: {
                std::vector<std::pair<std::wstring, std::wstring>> attributes;
                for (const wchar_t* name : kAttributeNames)
                    if (Chance(3)) attributes.emplace_back(name, Of(kValues));
                parents.push_back(parent->Add(host::FakeNode::Element(Of(kElementNames), attributes)));
                ++n;
                break;
            }
            }
            ++n;
        }
    }

    // A node-set expression for the top level (now and then one that is no node-set).
    std::wstring Selection(int depth = 3) {
        switch (Pick(24)) {
        case 0: return Path(depth, true) + L" | " + Path(depth, true);
        case 1: return L"(" + Path(depth, true) + L")[" + Position() + L"]";
        case 2: return L"(" + Path(depth, true) + L" | " + Path(depth, true) + L")[" + Predicate(depth - 1) + L"]";
        case 3: return L"(" + Path(depth, true) + L")/" + Step(depth - 1);
        case 4: return Chance(2) ? Number(depth - 1) : Boolean(depth - 1);   // no node-set
        default: return Path(depth, true);
        }
    }

    // One to three random edits of the text: characters dropped, doubled, swapped or put in.
    std::wstring Mutated(std::wstring text) {
        static const wchar_t kInserted[] = L"/[]()@:*.,|=!<>-+$'\" adx0";
        for (size_t edits = 1 + Pick(3); edits > 0 && !text.empty(); --edits) {
            const size_t at = Pick(text.size());
            switch (Pick(4)) {
            case 0: text.erase(at, 1); break;
            case 1: text.insert(at, 1, text[at]); break;
            case 2:
                if (at + 1 < text.size()) std::swap(text[at], text[at + 1]);
                break;
            default: text.insert(at, 1, kInserted[Pick(sizeof(kInserted) / sizeof(wchar_t) - 1)]); break;
            }
        }
        return text;
    }

private:
    static constexpr const wchar_t* kNames[] = {L"div", L"form", L"input", L"span", L"label", L"b", L"velnor-element", L"html", L"body"};
    static constexpr const wchar_t* kAttributeNames[] = {L"id", L"name", L"type", L"class", L"value"};
    static constexpr const wchar_t* kValues[] = {L"a", L"b", L"text", L"", L"a b", L"3", L" 12 ", L"-1.5", L"2.5", L"x-y", L"0"};
    static constexpr const wchar_t* kTexts[] = {L"t", L"Sign in", L"  Sign\n in ", L"a", L"42", L" 3 ", L"-0", L"\n", L"x y z"};
    static constexpr const wchar_t* kComments[] = {L"c", L"a--b-", L"-", L""};
    static constexpr const wchar_t* kLiterals[] = {L"'a'", L"'b'", L"'text'", L"''", L"'a b'", L"'Sign in'", L"'3'", L"' 12 '",
                                                   L"\"Sign\"", L"'42'", L"'x-y'", L"'-0'", L"'t'", L"'velnor-left-out'"};

    std::wstring Position() {
        switch (Pick(5)) {
        case 0: return L"last()";
        case 1: return L"last() - 1";
        default: return std::to_wstring(1 + Pick(3));
        }
    }

    std::wstring NodeTest(bool attributeAxis) {
        if (attributeAxis) return Chance(4) ? L"*" : Chance(6) ? L"node()" : Of(kAttributeNames);
        switch (Pick(12)) {
        case 0: return L"*";
        case 1: return L"node()";
        case 2: return L"text()";
        case 3: return L"comment()";
        case 4: return Chance(2) ? L"processing-instruction()" : L"processing-instruction('velnor-left-out')";
        default: return Of(kNames);
        }
    }

    std::wstring Step(int depth) {
        static const wchar_t* const kAxes[] = {
            L"child::", L"descendant::", L"descendant-or-self::", L"parent::", L"ancestor::", L"ancestor-or-self::",
            L"following-sibling::", L"preceding-sibling::", L"following::", L"preceding::", L"self::", L"attribute::"};
        std::wstring step;
        switch (Pick(10)) {
        case 0: return Chance(2) ? L"." : L"..";
        case 1: step = L"@" + NodeTest(true); break;
        case 2: case 3: case 4: {
            const std::wstring axis = Of(kAxes);
            step = axis + NodeTest(axis == L"attribute::");
            break;
        }
        default: step = NodeTest(false); break;
        }
        for (size_t n = Chance(2) ? Pick(3) : 0; n > 0 && depth > 0; --n) step += L"[" + Predicate(depth - 1) + L"]";
        return step;
    }

    std::wstring Path(int depth, bool absolute) {
        std::wstring path = absolute ? (Chance(3) ? L"/" : L"//") : (Chance(5) ? L".//" : L"");
        if (absolute && path == L"/" && Chance(3)) path += L"html/";
        for (size_t steps = 1 + Pick(absolute ? 3 : 2); steps > 0; --steps) {
            path += Step(depth);
            if (steps > 1) path += Chance(4) ? L"//" : L"/";
        }
        return path;
    }

    std::wstring Predicate(int depth) {
        switch (Pick(10)) {
        case 0: return Position();
        case 1: return L"position() " + Of(kRelations) + L" " + std::to_wstring(1 + Pick(3));
        case 2: return Number(depth);
        default: return Boolean(depth);
        }
    }

    static constexpr const wchar_t* kRelations[] = {L"=", L"!=", L"<", L"<=", L">", L">="};

    std::wstring Boolean(int depth) {
        if (depth <= 0) return Chance(2) ? L"@" + Of(kAttributeNames) : L"text()";
        switch (Pick(16)) {
        case 0: return Boolean(depth - 1) + L" and " + Boolean(depth - 1);
        case 1: return Boolean(depth - 1) + L" or " + Boolean(depth - 1);
        case 2: return L"not(" + Boolean(depth - 1) + L")";
        case 3: return L"contains(" + String(depth - 1) + L", " + Of(kLiterals) + L")";
        case 4: return L"starts-with(" + String(depth - 1) + L", " + Of(kLiterals) + L")";
        case 5: return Path(depth - 1, false);
        case 6: return L"boolean(" + Path(depth - 1, false) + L")";
        case 7: return Number(depth - 1) + L" " + Of(kRelations) + L" " + Number(depth - 1);
        case 8: return Path(depth - 1, false) + L" " + Of(kRelations) + L" " + Path(depth - 1, false);
        case 9: return Path(depth - 1, false) + L" " + Of(kRelations) + L" " + Of(kLiterals);
        case 10: return Path(depth - 1, false) + L" " + Of(kRelations) + L" " + Number(depth - 1);
        case 11: return Path(depth - 1, false) + L" = " + (Chance(2) ? L"true()" : L"false()");
        case 12: return String(depth - 1) + L" = " + Of(kLiterals);
        case 13: return String(depth - 1) + L" != " + String(depth - 1);
        case 14: return Of(kLiterals) + L" " + Of(kRelations) + L" " + Number(depth - 1);
        default: return L"@" + Of(kAttributeNames) + L" = " + Of(kLiterals);
        }
    }

    std::wstring String(int depth) {
        if (depth <= 0) return Chance(2) ? L"." : L"@" + Of(kAttributeNames);
        switch (Pick(16)) {
        case 0: return Of(kLiterals);
        case 1: return L"text()";
        case 2: return Chance(2) ? L"name()" : L"local-name(" + Path(depth - 1, false) + L")";
        case 3: return L"namespace-uri()";
        case 4: return L"concat(" + String(depth - 1) + L", " + String(depth - 1) + L")";
        case 5: return L"substring(" + String(depth - 1) + L", " + Number(depth - 1) + L")";
        case 6: return L"substring(" + String(depth - 1) + L", " + Number(depth - 1) + L", " + Number(depth - 1) + L")";
        case 7: return L"substring-before(" + String(depth - 1) + L", " + Of(kLiterals) + L")";
        case 8: return L"substring-after(" + String(depth - 1) + L", " + Of(kLiterals) + L")";
        case 9: return L"normalize-space(" + String(depth - 1) + L")";
        case 10: return L"translate(" + String(depth - 1) + L", 'abS ', 'AB-')";
        case 11: return L"string(" + Path(depth - 1, false) + L")";
        case 12: return L"string(" + std::to_wstring(Pick(5)) + L")";
        case 13: return Path(depth - 1, false);
        case 14: return L"normalize-space()";
        default: return L"@" + Of(kAttributeNames);
        }
    }

    std::wstring Number(int depth) {
        static const wchar_t* const kNumbers[] = {L"0", L"1", L"2", L"3", L"12", L"0.5", L"2.5", L"-1", L"1.5", L".5"};
        if (depth <= 0) return Of(kNumbers);
        switch (Pick(18)) {
        case 0: return L"count(" + Path(depth - 1, false) + L")";
        case 1: return L"string-length(" + String(depth - 1) + L")";
        case 2: return L"number(" + String(depth - 1) + L")";
        case 3: return L"sum(" + Path(depth - 1, false) + L")";
        case 4: return L"floor(" + Number(depth - 1) + L")";
        case 5: return L"ceiling(" + Number(depth - 1) + L")";
        case 6: return L"round(" + Number(depth - 1) + L")";
        case 7: return Number(depth - 1) + L" + " + Number(depth - 1);
        case 8: return Number(depth - 1) + L" - " + Number(depth - 1);
        case 9: return Number(depth - 1) + L" * " + Number(depth - 1);
        case 10: return Number(depth - 1) + L" div " + Number(depth - 1);
        case 11: return Number(depth - 1) + L" mod " + Number(depth - 1);
        case 12: return L"-" + Number(depth - 1);
        case 13: return L"position()";
        case 14: return L"last()";
        case 15: return L"number(" + Path(depth - 1, false) + L")";
        default: return Of(kNumbers);
        }
    }

    std::mt19937 m_random;
};

}  // namespace xpathgen
