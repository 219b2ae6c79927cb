// XPath lookup on fake HTML documents built from XHTML fixtures and node by node: evaluated on
// the mirror, what the evaluator refuses through Wine's MSXML (on the XML form kept while the
// page reads the same), and each compared with MSXML on an XML form made anew.
#include "extension/extension_fixture.h"
#include "extension/xpath_generator.h"
#include "xpath/page_mirror.h"
#include "xpath/xpath_evaluator.h"
#include "xpath/xpath_lookup.h"

#include <random>

using namespace exttest;

namespace {

class XPathTest : public testing::Test {
protected:
    void SetUp() override {
        browser.document = &document;
        object = CreateExtension();
        ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    }
    void TearDown() override { site->SetSite(nullptr); }

    // The fake node GetElementByXPath returned, or null; the call always succeeds.
    host::FakeNode* Find(const wchar_t* expression) {
        unique_bstr text(expression ? SysAllocString(expression) : nullptr);
        ComPtr<IDispatch> element;
        EXPECT_EQ(S_OK, object->GetElementByXPath(text.get(), element.put()));
        if (!element) return nullptr;
        ComPtr<IHTMLElement> html;
        EXPECT_EQ(S_OK, element.As(IID_IHTMLElement, &html)) << "the page element itself";
        host::FakeNode* node = document.NodeOf(element.get());
        EXPECT_NE(nullptr, node);
        return node;
    }
    host::FakeNode* ById(const wchar_t* id) { return document.ElementById(id); }

    // The element each way of evaluating finds; they must agree. Each way has its own mirror,
    // kept from one call to the next as the extension object keeps its own, so that a kept XML
    // form that no longer belongs to the page gives another element than the one made anew.
    host::FakeNode* FindBoth(const std::wstring& expression) {
        host::FakeNode* results[3] = {};
        PageMirror* mirrors[3] = {&mirror, &keptMirror, &freshMirror};
        int i = 0;
        for (XPathEvaluation evaluation :
             {XPathEvaluation::kMirrorFirst, XPathEvaluation::kMsxmlKept, XPathEvaluation::kMsxmlOnly}) {
            ComPtr<IHTMLDocument3> document3;
            EXPECT_EQ(S_OK, document.Interface()->QueryInterface(IID_IHTMLDocument3, document3.put_void()));
            unique_bstr text(SysAllocStringLen(expression.data(), static_cast<UINT>(expression.size())));
            ComPtr<IHTMLDOMNode> found;
            EXPECT_EQ(S_OK, LookUpXPath(document3.get(), text.get(), evaluation, *mirrors[i], found.put()));
            results[i++] = found ? document.NodeOf(found.get()) : nullptr;
            EXPECT_TRUE(!found || results[i - 1]) << "a node of this page";
        }
        keptReads += keptMirror.SameAsPreviousRead();
        EXPECT_EQ(results[2], results[0]) << "on the mirror: " << testenv::Narrow(expression.c_str());
        EXPECT_EQ(results[2], results[1]) << "kept XML form: " << testenv::Narrow(expression.c_str());
        return results[2];
    }

    // Looks each expression up all three ways (FindBoth) and counts what was found and, after
    // the first round, what another element than in the round before.
    struct Tally {
        size_t asked = 0, found = 0, moved = 0;
    };
    void LookUpEach(const std::vector<std::wstring>& expressions, int round, std::vector<host::FakeNode*>& before,
                    Tally& tally) {
        for (size_t e = 0; e < expressions.size(); ++e) {
            host::FakeNode* result = FindBoth(expressions[e]);
            ++tally.asked;
            tally.found += result != nullptr;
            if (round > 0) tally.moved += result != before[e];
            before[e] = result;
        }
    }

    host::FakeBrowser browser;
    host::FakeDocument document;
    PageMirror mirror, keptMirror, freshMirror;
    size_t keptReads = 0;   // lookups of the kept way on a page that read as before
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
};

const wchar_t kLoginPage[] =
    L"<html>\n"
    L"  <head><title>Sign in</title></head>\n"
    L"  <body>\n"
    L"    <!-- the form -->\n"
    L"    <form id=\"login\" action=\"/session\">\n"
    L"      <p>Name <input id=\"user\" name=\"user\" type=\"text\"/></p>\n"
    L"      <p>Password <input id=\"pass\" name=\"pass\" type=\"password\"/></p>\n"
    L"      <input id=\"go\" type=\"submit\" value=\"Sign in\"/>\n"
    L"    </form>\n"
    L"  </body>\n"
    L"</html>\n";

TEST_F(XPathTest, FindsTheFirstMatchingElementInDocumentOrder) {
    document.LoadMarkup(kLoginPage);
    EXPECT_EQ(ById(L"user"), Find(L"//input[@id='user']"));
    EXPECT_EQ(ById(L"user"), Find(L"//input"));
    EXPECT_EQ(ById(L"pass"), Find(L"//p[2]/input"));
    EXPECT_EQ(ById(L"go"), Find(L"//form/input[@type='submit']"));
    EXPECT_EQ(ById(L"login"), Find(L"//*[@action='/session']"));
    EXPECT_EQ(nullptr, Find(L"//input[@id='nobody']"));
}

TEST_F(XPathTest, NamesAreLowerCaseInTheMirror) {
    document.LoadMarkup(kLoginPage);
    EXPECT_EQ(nullptr, Find(L"//INPUT"));
    EXPECT_EQ(ById(L"user"), Find(L"//input"));
}

TEST_F(XPathTest, RootDocumentAttributesAndTextAreNoElements) {
    document.LoadMarkup(kLoginPage);
    EXPECT_EQ(document.root.get(), Find(L"/html"));
    EXPECT_EQ(nullptr, Find(L"/"));
    EXPECT_EQ(nullptr, Find(L"//input/@name"));
    EXPECT_EQ(nullptr, Find(L"//p/text()"));
    EXPECT_EQ(nullptr, Find(L"//comment()"));
}

TEST_F(XPathTest, BadExpressionsAndMissingDocumentsGiveNothing) {
    document.LoadMarkup(kLoginPage);
    EXPECT_EQ(nullptr, Find(L"//input[@id='user'"));
    EXPECT_EQ(nullptr, Find(nullptr));
    document.offerDocument3 = false;
    EXPECT_EQ(nullptr, Find(L"//input"));
    document.offerDocument3 = true;
    browser.document = nullptr;
    EXPECT_EQ(nullptr, Find(L"//input"));
}

TEST_F(XPathTest, OnlyTheTopLevelDocumentIsSearched) {
    document.LoadMarkup(L"<html><body><iframe id=\"frame\" src=\"inner.html\"/></body></html>");
    host::FakeDocument frame;
    frame.LoadMarkup(L"<html><body><input id=\"inside\"/></body></html>");
    EXPECT_EQ(nullptr, Find(L"//input[@id='inside']"));
}

TEST_F(XPathTest, ElementsAfterLeftOutSiblingsAreFoundExactly) {
    // Before each target sits a node the mirror cannot hold as it is: an unknown node type, a
    // text whose value is no string, an element with a name XML refuses, a node whose type
    // cannot be read. Positions must stay in step with the HTML document.
    document.LoadMarkup(
        L"<html><body>"
        L"<div id=\"a\"><?host-node 99?><input id=\"after-other\"/></div>"
        L"<div id=\"b\"><?host-text-number 5?><input id=\"after-number\"/></div>"
        L"<div id=\"c\"><span id=\"op\" host-name=\"O:P\"><input id=\"inside-prefixed\"/></span><input id=\"after-prefixed\"/></div>"
        L"<div id=\"d\"><span id=\"unreadable\"/><input id=\"after-unreadable\"/></div>"
        L"<div id=\"e\"><span id=\"wide\" host-name=\"CAF\u00c9\"><b><input id=\"inside-wide\"/></b></span><input id=\"after-wide\"/></div>"
        L"</body></html>");
    ById(L"unreadable")->failNodeType = true;
    EXPECT_EQ(ById(L"after-other"), FindBoth(L"//div[@id='a']/input"));
    EXPECT_EQ(ById(L"after-number"), FindBoth(L"//div[@id='b']/input"));
    EXPECT_EQ(ById(L"after-prefixed"), FindBoth(L"//div[@id='c']/input"));
    EXPECT_EQ(ById(L"after-unreadable"), FindBoth(L"//input[@id='after-unreadable']"));
    EXPECT_EQ(ById(L"after-wide"), FindBoth(L"//div[@id='e']/input"));
    // An element whose name XML cannot take keeps its attributes and its subtree.
    EXPECT_EQ(ById(L"inside-prefixed"), FindBoth(L"//input[@id='inside-prefixed']"));
    EXPECT_EQ(ById(L"inside-wide"), FindBoth(L"//div[@id='e']/*/b/input"));
    EXPECT_EQ(ById(L"op"), FindBoth(L"//*[@id='op']"));
    EXPECT_EQ(ById(L"after-prefixed"), FindBoth(L"//div[@id='c']/*[2]"));
    // A node of an unknown type is left out, and node() counts it as the HTML document does.
    EXPECT_EQ(ById(L"after-other"), FindBoth(L"//div[@id='a']/node()[2]"));
}

TEST_F(XPathTest, TextNodesMadeByScriptDoNotMoveTheElementsAfterThem) {
    // Adjacent text nodes ("Hello " "world", as frameworks render "Hello {name}"), empty ones
    // (placeholders) and whitespace-only ones, with comments between: the XML form merges
    // adjacent text and has no empty text, the page has them all.
    struct Case {
        const wchar_t* name;
        std::vector<std::unique_ptr<host::FakeNode>> (*before)();
    };
    using host::FakeNode;
    const Case cases[] = {
        {L"adjacent", [] { std::vector<std::unique_ptr<FakeNode>> v; v.push_back(FakeNode::Text(L"Hello ")); v.push_back(FakeNode::Text(L"world")); return v; }},
        {L"empty", [] { std::vector<std::unique_ptr<FakeNode>> v; v.push_back(FakeNode::Text(L"")); return v; }},
        {L"empty runs", [] { std::vector<std::unique_ptr<FakeNode>> v; v.push_back(FakeNode::Text(L"")); v.push_back(FakeNode::Text(L"")); v.push_back(FakeNode::Comment(L"c")); v.push_back(FakeNode::Text(L"")); return v; }},
        {L"whitespace", [] { std::vector<std::unique_ptr<FakeNode>> v; v.push_back(FakeNode::Text(L"\n  ")); v.push_back(FakeNode::Text(L" ")); return v; }},
        {L"mixed", [] { std::vector<std::unique_ptr<FakeNode>> v; v.push_back(FakeNode::Text(L"x")); v.push_back(FakeNode::Comment(L"")); v.push_back(FakeNode::Text(L"")); v.push_back(FakeNode::Text(L"y")); v.push_back(FakeNode::Text(L"")); return v; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testenv::Narrow(c.name));
        document.LoadMarkup(L"<html><body/></html>");
        FakeNode* form = document.root->children[0]->Add(FakeNode::Element(L"FORM", {{L"id", L"f"}}));
        for (auto& node : c.before()) form->Add(std::move(node));
        FakeNode* a = form->Add(FakeNode::Element(L"INPUT", {{L"id", L"a"}}));
        form->Add(FakeNode::Text(L""));
        form->Add(FakeNode::Text(L""));
        FakeNode* b = form->Add(FakeNode::Element(L"INPUT", {{L"id", L"b"}}));
        form->Add(FakeNode::Text(L"tail"));
        form->Add(FakeNode::Text(L""));
        FakeNode* last = form->Add(FakeNode::Element(L"SPAN"));
        EXPECT_EQ(a, FindBoth(L"//form/input[1]"));
        EXPECT_EQ(b, FindBoth(L"//form/input[2]"));
        EXPECT_EQ(b, FindBoth(L"//form/input[position()=2]"));
        EXPECT_EQ(b, FindBoth(L"//input[@id='b']"));
        EXPECT_EQ(last, FindBoth(L"//form/*[last()]"));
        EXPECT_EQ(b, FindBoth(L"//form/text()[last()]/preceding-sibling::*[1]"));
        EXPECT_EQ(a, FindBoth(L"//input[following-sibling::input]"));
    }
}

// Every element and text node of the page under `node`, in document order.
void CollectNodes(host::FakeNode* node, std::vector<host::FakeNode*>* elements, std::vector<host::FakeNode*>* texts) {
    if (node->type == 1) elements->push_back(node);
    if (node->type == 3) texts->push_back(node);
    for (auto& child : node->children) CollectNodes(child.get(), elements, texts);
}

// Puts a new element with the same name, attributes and children in the place of `old`, as
// script does when a framework renders a form again; `old` is gone afterwards.
host::FakeNode* ReplaceByEqualLooking(host::FakeNode* old) {
    auto copy = std::make_unique<host::FakeNode>(old->type, old->name);
    copy->value = old->value;
    copy->attributes = old->attributes;
    copy->children = std::move(old->children);
    for (auto& child : copy->children) child->parent = copy.get();
    copy->parent = old->parent;
    host::FakeNode* made = copy.get();
    for (auto& slot : old->parent->children)
        if (slot.get() == old) slot = std::move(copy);
    return made;
}

// Another text of the same length where there is a character to change: only the characters
// tell the two apart, not where the texts lie in the mirror.
std::wstring Changed(std::wstring text) {
    if (text.empty()) return L"a";
    text[0] = text[0] == L'a' ? L'b' : L'a';
    return text;
}

// Changes the page as script changes it, one of five kinds: an attribute value (mostly of the
// same length, so that nothing but the characters differ), a text, an element replaced by an
// equal-looking one (preferably one in `selected`), the children of an element reordered, an
// element added or taken away.
void ChangePage(host::FakeDocument& document, std::mt19937& random, int kind, const std::vector<host::FakeNode*>& selected) {
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const wchar_t* names[] = {L"DIV", L"FORM", L"INPUT", L"SPAN", L"O:P"};
    const wchar_t* attributes[] = {L"id", L"name", L"type", L"class"};
    const wchar_t* values[] = {L"a", L"b", L"text", L"", L"a b"};
    std::vector<host::FakeNode*> all, textNodes;
    CollectNodes(document.root.get(), &all, &textNodes);
    host::FakeNode* element = all[1 + pick(all.size() - 1)];   // not the root element
    switch (kind) {
    case 0:
        if (element->attributes.empty()) element->attributes.emplace_back(attributes[pick(4)], host::Value(L""));
        {
            host::Value& changed = element->attributes[pick(element->attributes.size())].second;
            changed = host::Value(Changed(changed.text()));
        }
        break;
    case 1:
        if (textNodes.empty()) textNodes.push_back(element->Add(host::FakeNode::Text(L"")));
        {
            host::FakeNode* changed = textNodes[pick(textNodes.size())];
            changed->value = host::Value(Changed(changed->value.text()));
        }
        break;
    case 2: {
        std::vector<host::FakeNode*> candidates;
        for (host::FakeNode* result : selected)
            if (result && result->parent) candidates.push_back(result);
        ReplaceByEqualLooking(candidates.empty() ? element : candidates[pick(candidates.size())]);
        break;
    }
    case 3: {
        host::FakeNode* parent = element->parent;
        std::rotate(parent->children.begin(), parent->children.begin() + 1, parent->children.end());
        if (parent->children.size() < 2) parent->Add(host::FakeNode::Element(L"INPUT"));
        break;
    }
    default:
        if (pick(2) || element->parent == document.root.get())
            element->Add(host::FakeNode::Element(names[pick(5)], {{attributes[pick(4)], values[pick(5)]}}));
        else
            element->parent->children.erase(std::find_if(
                element->parent->children.begin(), element->parent->children.end(),
                [&](const std::unique_ptr<host::FakeNode>& child) { return child.get() == element; }));
        break;
    }
}

TEST_F(XPathTest, CommonExpressionsAgreeWithMsxmlOnChangingPages) {
    // Pages of a few element names with attributes, text runs (empty, adjacent and spaced ones
    // among them), comments, left-out nodes and elements with names XML cannot take; expressions
    // of the forms templates use, each evaluated on the mirror, by MSXML on the kept XML form and
    // by MSXML on one made anew. Between rounds the page changes as script changes it
    // (ChangePage). A kept XML form or selection used after such a change gives another element.
    std::mt19937 random(20261209);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const wchar_t* names[] = {L"DIV", L"FORM", L"INPUT", L"SPAN", L"O:P"};
    const wchar_t* lower[] = {L"div", L"form", L"input", L"span", L"*"};
    const wchar_t* attributes[] = {L"id", L"name", L"type", L"class"};
    const wchar_t* values[] = {L"a", L"b", L"text", L"", L"a b"};
    const wchar_t* texts[] = {L"", L"t", L"Sign in", L"  Sign\n in ", L"a"};
    auto attribute = [&] { return std::wstring(attributes[pick(4)]); };
    auto value = [&] { return std::wstring(values[pick(5)]); };
    auto text = [&] { return std::wstring(texts[pick(5)]); };
    auto test = [&]() -> std::wstring {
        switch (pick(15)) {
        case 0: return L"@" + attribute();
        case 1: return L"@" + attribute() + L"='" + value() + L"'";
        case 2: return L"@" + attribute() + L" != '" + value() + L"'";
        case 3: return L"not(@" + attribute() + L")";
        case 4: return L"contains(@" + attribute() + L",'" + value() + L"')";
        case 5: return L"starts-with(@" + attribute() + L", '" + value() + L"')";
        case 6: return L"text()";
        case 7: return L"text()='" + text() + L"'";
        case 8: return L"normalize-space()='Sign in'";
        case 9: return L"normalize-space(text())='" + text() + L"'";
        case 10: return L".='" + text() + L"'";
        case 11: return L"contains(., 'Sign')";
        case 12: return L"normalize-space(@" + attribute() + L")='" + value() + L"'";
        case 13: return L"starts-with(normalize-space(.),'Sign')";
        default: return L"text() != '" + text() + L"'";
        }
    };
    auto condition = [&]() -> std::wstring {
        switch (pick(6)) {
        case 0: return test() + L" and " + test();
        case 1: return test() + L" or " + test();
        case 2: return L"(" + test() + L" or " + test() + L") and " + test();
        case 3: return L"not(" + test() + L" and " + test() + L")";
        default: return test();
        }
    };
    Tally tally;
    size_t ofSubset = 0;
    for (int page = 0; page < 30; ++page) {
        SCOPED_TRACE(page);
        document.LoadMarkup(L"<html><body/></html>");
        std::vector<host::FakeNode*> elements{document.root->children[0].get()};
        for (int n = 0; n < 60; ++n) {
            host::FakeNode* parent = elements[pick(elements.size())];
            switch (pick(6)) {
            case 0: parent->Add(host::FakeNode::Text(pick(2) ? L"" : text())); break;
            case 1: parent->Add(host::FakeNode::Comment(L"c")); break;
            case 2: parent->Add(std::make_unique<host::FakeNode>(99L, L"#other")); break;
            default: {
                std::vector<std::pair<std::wstring, std::wstring>> list;
                for (const wchar_t* name : attributes)
                    if (pick(3) == 0) list.emplace_back(name, value());
                elements.push_back(parent->Add(host::FakeNode::Element(names[pick(5)], list)));
            }
            }
        }
        std::vector<std::wstring> expressions;
        for (int e = 0; e < 40; ++e) {
            std::wstring expression;
            for (size_t steps = 1 + pick(3); steps > 0; --steps) {
                if (expression.empty()) {
                    expression += pick(2) ? L"//" : L"/html/";
                } else {
                    const wchar_t* axes[] = {L"/", L"//", L"/following-sibling::", L"/preceding-sibling::"};
                    expression += axes[pick(4)];
                }
                expression += lower[pick(5)];
                switch (pick(4)) {
                case 0: expression += L"[" + std::to_wstring(1 + pick(3)) + L"]"; break;
                case 1: expression += L"[last()]"; break;
                default: break;
                }
                if (pick(3)) expression += L"[" + condition() + L"]";
            }
            expressions.push_back(expression);
            MirrorXPath onMirror;
            ofSubset += onMirror.Parse(expression.data(), expression.size());
        }
        std::vector<host::FakeNode*> before(expressions.size());
        for (int round = 0; round < 5; ++round) {
            LookUpEach(expressions, round, before, tally);
            // The change for the next round; each page goes through every kind.
            ChangePage(document, random, (page + round) % 5, before);
        }
    }
    EXPECT_GT(tally.found, tally.asked / 8) << "many expressions find something";
    EXPECT_GT(ofSubset, 30u * 40u * 9 / 10) << "the expressions are evaluated on the mirror";
    EXPECT_GT(keptReads, tally.asked * 3 / 4) << "most lookups find the page as it was";
    EXPECT_GT(tally.moved, tally.asked / 200) << "the changes move what expressions select";
}

TEST_F(XPathTest, TheWholeLanguageAgreesWithMsxmlOnChangingPages) {
    // Generated expressions of the whole language on generated pages that change between
    // rounds: the lookup (on the mirror, MSXML for what the evaluator refuses) and MSXML on the
    // kept XML form must hand back what MSXML gives on an XML form made anew, never an element
    // of the page as it was.
    xpathgen::Generator generate(20261211);
    std::mt19937 random(5);
    Tally tally;
    size_t onMirror = 0;
    for (int page = 0; page < 20; ++page) {
        SCOPED_TRACE(page);
        generate.BuildPage(document, 40);
        std::vector<std::wstring> expressions;
        for (int e = 0; e < 40; ++e) expressions.push_back(generate.Selection());
        std::vector<host::FakeNode*> before(expressions.size());
        for (int round = 0; round < 5; ++round) {
            ASSERT_TRUE(mirror.Read(document.root->Node()));
            for (size_t e = 0; e < expressions.size(); ++e) {
                MirrorXPath evaluator;
                PageMirror::Index element;
                onMirror += evaluator.Parse(expressions[e].data(), expressions[e].size()) &&
                            evaluator.SelectFirstElement(mirror, &element) == MirrorXPath::Outcome::kEvaluated;
            }
            mirror.Release();
            LookUpEach(expressions, round, before, tally);
            if (HasFailure()) return;
            ChangePage(document, random, (page + round) % 5, before);
        }
    }
    EXPECT_GT(onMirror, tally.asked * 9 / 10) << "evaluated on the mirror";
    EXPECT_GT(tally.found, tally.asked / 8) << "many expressions find something";
    EXPECT_GT(tally.moved, tally.asked / 400) << "the changes move what expressions select";
}

TEST_F(XPathTest, TextThatXmlCannotCarryKeepsItsPlace) {
    document.LoadMarkup(
        L"<html><body><!-- comment -->"
        L"<p id=\"t\">x</p><input id=\"target\" title=\"a&quot;b&lt;c\"/></body></html>");
    // A comment that XML could not hold as it is.
    document.root->children[0]->children[0]->value = host::Value(L"a -- b -");
    // Characters XML 1.0 forbids, a bare ampersand and a line break in an attribute.
    host::FakeNode* text = ById(L"t")->children[0].get();
    text->value = host::Value(L"\x01\x02 & <tag> \xFFFE");
    ById(L"target")->attributes.emplace_back(L"data-x", host::Value(L"line\r\nnext\t&"));
    EXPECT_EQ(ById(L"target"), Find(L"//input[@id='target']"));
    EXPECT_EQ(ById(L"target"), Find(L"//input[@title='a\"b<c']"));
    EXPECT_EQ(ById(L"target"), Find(L"//input[@data-x='line\r\nnext\t&']"));
    EXPECT_EQ(ById(L"target"), Find(L"//body/node()[3]"));
}

TEST_F(XPathTest, NamespaceDeclarationsDoNotHideTheElements) {
    // MSHTML lists the declarations among the root element's attributes.
    document.LoadMarkup(L"<html><body><input id=\"user\"/></body></html>");
    document.root->attributes.emplace_back(L"xmlns", host::Value(L"http://www.w3.org/1999/xhtml"));
    document.root->attributes.emplace_back(L"xmlns:o", host::Value(L"urn:o"));
    EXPECT_EQ(ById(L"user"), Find(L"//input"));
}

TEST_F(XPathTest, AttributeValuesThatAreNotTextAreConverted) {
    document.LoadMarkup(L"<html><body><input id=\"n\"/><input id=\"m\"/></body></html>");
    ById(L"n")->attributes.emplace_back(L"tabindex", host::Value(3L));
    ById(L"m")->attributes.emplace_back(L"onclick", host::Value());   // VT_EMPTY: skipped
    EXPECT_EQ(ById(L"n"), Find(L"//input[@tabindex='3']"));
    EXPECT_EQ(nullptr, Find(L"//input[@onclick]"));
}

TEST_F(XPathTest, DeeplyNestedPagesAreMirroredWithoutRecursion) {
    document.LoadMarkup(L"<html><body/></html>");
    host::FakeNode* parent = document.root->children[0].get();
    for (int depth = 0; depth < 2000; ++depth) {
        parent = parent->Append(std::make_unique<host::FakeNode>(1L, L"DIV"));
        parent->Add(host::FakeNode::Text(L""));
        parent->Add(host::FakeNode::Text(L"x"));
    }
    host::FakeNode* deepest = parent->Append(std::make_unique<host::FakeNode>(1L, L"INPUT"));
    deepest->attributes.emplace_back(L"id", host::Value(L"deep"));
    ASSERT_TRUE(mirror.Read(document.root->Node()));
    std::wstring xml;
    mirror.WriteXml(xml);
    mirror.Release();
    EXPECT_NE(std::wstring::npos, xml.find(L"<input id=\"deep\"></input>"));
    // Deeper than MSXML's parser takes: the XML form is built node by node.
    EXPECT_EQ(deepest, FindBoth(L"//input[@id='deep']"));
    // Each empty and following text node make one text node of the XML form.
    EXPECT_EQ(deepest, FindBoth(L"//div/node()[2][@id='deep']"));
}

TEST_F(XPathTest, TextsAndSiblingsAreTestedAsXPathTestsThem) {
    // What recorded templates ask: the input after a label of some text, a button by its words,
    // one of several ids. Each is evaluated on the mirror and compared with MSXML.
    document.LoadMarkup(
        L"<html><body><form id=\"f\">"
        L"<label id=\"l1\">User name</label><input id=\"user\" name=\"u\" class=\"field wide\"/>"
        L"<label id=\"l2\">  Pass<!-- c -->word\n</label><input id=\"pass\" type=\"password\"/>"
        L"<span id=\"s\">Sign <b>in</b> now</span>"
        L"<button id=\"go\" class=\"btn primary\">Sign in</button>"
        L"</form></body></html>");
    host::FakeNode* empty = ById(L"l1")->Add(host::FakeNode::Text(L""));
    (void)empty;
    ById(L"l1")->Add(host::FakeNode::Text(L" now"));   // "User name" and " now" are one text node in XML
    struct Case {
        const wchar_t* expression;
        const wchar_t* id;   // null: nothing
    };
    const Case cases[] = {
        {L"//label[text()='User name now']/following-sibling::input[1]", L"user"},
        {L"//label[text()='User name']", nullptr},
        {L"//label[starts-with(text(), 'User')]/following-sibling::*[1]", L"user"},
        {L"//label[normalize-space(.)='Password']/following-sibling::input", L"pass"},
        {L"//label[normalize-space()='Password']", L"l2"},   // the string value leaves the comment out
        {L"//label[text()='Password']", nullptr},             // but it splits the text: "  Pass" and "word\n"
        {L"//label[normalize-space(text())='Pass']", L"l2"},
        {L"//label[text()='word\n']", L"l2"},
        {L"//input[@id='pass']/preceding-sibling::input[1]", L"user"},
        {L"//input[@id='pass']/preceding-sibling::*[1]", L"l2"},
        {L"//input[@id='pass']/preceding-sibling::label[last()]", L"l1"},
        {L"//input[@id='user']/following-sibling::*[last()]", L"go"},
        {L"//input[@id='user']/following-sibling::label/following-sibling::input", L"pass"},
        {L"//label/following-sibling::input[2]", L"pass"},
        {L"//input[@id='nobody' or @name='u']", L"user"},
        {L"//input[@id='nobody' or @id='pass' and @type='password']", L"pass"},
        {L"//input[(@id='nobody' or @id='user') and @type='password']", nullptr},
        {L"//input[not(@type)]", L"user"},
        {L"//input[not(@type) and not(@name='u')]", nullptr},
        {L"//input[contains(@class, 'wide')]", L"user"},
        {L"//input[contains(@type, '')]", L"user"},   // contains('', '') holds
        {L"//*[starts-with(@class,'btn')]", L"go"},
        {L"//button[.='Sign in']", L"go"},
        {L"//span[.='Sign in now']", L"s"},
        {L"//span[text()='Sign ']", L"s"},
        {L"//*[contains(., 'Sign in')][1]", L"html"},
        {L"//form/*[contains(., 'Sign in')][1]", L"s"},
        {L"//form/*[text()='Sign in']", L"go"},
        {L"//form/*[text() != 'Sign in'][last()]", L"s"},
        {L"//form/*[text()][2]", L"l2"},
        {L"/html/body/form/child::input[2]", L"pass"},
        {L"//form[1]/following-sibling::*", nullptr},
        {L"/html/preceding-sibling::*", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testenv::Narrow(c.expression));
        MirrorXPath onMirror;
        EXPECT_TRUE(onMirror.Parse(c.expression, wcslen(c.expression))) << "evaluated on the mirror";
        host::FakeNode* expected = !c.id ? nullptr : std::wstring(c.id) == L"html" ? document.root.get() : ById(c.id);
        EXPECT_EQ(expected, FindBoth(c.expression));
    }
    // What only MSXML evaluated before the whole language was evaluated on the mirror.
    const wchar_t* others[] = {L"//input[position()=2]", L"//label[following-sibling::input]", L"//input[@id=\"user\"]/..",
                               L"//*[name()='input']", L"//label//following-sibling::input", L"//input[@tabindex=3]",
                               L"//input[((((((((((((((((((@id='user'))))))))))))))))))]"};
    for (const wchar_t* expression : others) {
        MirrorXPath onMirror;
        EXPECT_TRUE(onMirror.Parse(expression, wcslen(expression))) << testenv::Narrow(expression);
    }
    EXPECT_EQ(ById(L"pass"), FindBoth(L"//input[position()=2]"));
    EXPECT_EQ(ById(L"user"), FindBoth(L"//input[((((((((((((((((((@id='user'))))))))))))))))))]"));
}

TEST_F(XPathTest, AReadTellsWhetherThePageReadsAsBefore) {
    document.LoadMarkup(kLoginPage);
    auto read = [&] {
        EXPECT_TRUE(mirror.Read(document.root->Node()));
        const bool same = mirror.SameAsPreviousRead();
        mirror.Release();
        return same;
    };
    EXPECT_FALSE(read()) << "nothing read before";
    EXPECT_TRUE(read());
    ById(L"user")->attributes[1].second = host::Value(L"login");
    EXPECT_FALSE(read()) << "an attribute value";
    EXPECT_TRUE(read());
    ById(L"user")->attributes[1].second = host::Value(L"logon");
    EXPECT_FALSE(read()) << "an attribute value of the same length";
    ById(L"user")->parent->children[0]->value = host::Value(L"Nane ");
    EXPECT_FALSE(read()) << "a text of the same length";
    ById(L"user")->attributes.emplace_back(L"class", host::Value(L""));
    EXPECT_FALSE(read()) << "an attribute more";
    ById(L"pass")->parent->children[0]->value = host::Value(L"Pass");
    EXPECT_FALSE(read()) << "a text";
    ById(L"pass")->parent->Add(host::FakeNode::Text(L""));
    EXPECT_FALSE(read()) << "an empty text node: the mirror's positions differ";
    std::swap(ById(L"login")->children[1], ById(L"login")->children[3]);
    EXPECT_FALSE(read()) << "elements reordered";
    EXPECT_TRUE(read());
    // An equal-looking element in the place of another gives the same XML form; the mirror
    // then holds the new element.
    host::FakeNode* made = ReplaceByEqualLooking(ById(L"login"));
    EXPECT_TRUE(mirror.Read(document.root->Node()));
    EXPECT_TRUE(mirror.SameAsPreviousRead());
    bool holdsNew = false;
    for (PageMirror::Index i = 0; i < mirror.size(); ++i)
        holdsNew = holdsNew || (mirror.PageNode(i) == made->Node());
    EXPECT_TRUE(holdsNew);
    mirror.Release();
    EXPECT_EQ(nullptr, mirror.PageNode(0)) << "no page element is held between lookups";
}

TEST_F(XPathTest, TheKeptXmlFormBelongsToThePageAsLastRead) {
    document.LoadMarkup(kLoginPage);
    ComPtr<IHTMLDocument3> document3;
    ASSERT_EQ(S_OK, document.Interface()->QueryInterface(IID_IHTMLDocument3, document3.put_void()));
    auto lookUp = [&](const wchar_t* expression) {
        unique_bstr text(SysAllocString(expression));
        ComPtr<IHTMLDOMNode> found;
        EXPECT_EQ(S_OK, LookUpXPath(document3.get(), text.get(), XPathEvaluation::kMsxmlKept, mirror, found.put()));
        return found ? document.NodeOf(found.get()) : nullptr;
    };
    EXPECT_EQ(ById(L"user"), lookUp(L"//input[@id='user']"));
    ASSERT_TRUE(mirror.KeptXmlForm().document);
    EXPECT_EQ(1u, mirror.KeptXmlForm().selections.size());
    EXPECT_EQ(ById(L"user"), lookUp(L"//input[@id='user']"));
    EXPECT_EQ(ById(L"pass"), lookUp(L"//p[2]/input"));
    EXPECT_EQ(2u, mirror.KeptXmlForm().selections.size()) << "one document for both";
    // The same expression on a changed page is asked anew.
    ById(L"user")->attributes[0].second = host::Value(L"someone");
    EXPECT_EQ(nullptr, lookUp(L"//input[@id='user']"));
    EXPECT_EQ(ById(L"someone"), lookUp(L"//input[@id='someone']"));
    // A page that cannot be read leaves no XML form behind, and a page read afterwards that
    // looks like the last one read in full is asked anew all the same.
    std::unique_ptr<host::FakeNode> root = std::move(document.root);
    EXPECT_EQ(nullptr, lookUp(L"//input[@id='someone']"));
    EXPECT_FALSE(mirror.KeptXmlForm().document);
    document.root = std::move(root);
    EXPECT_EQ(ById(L"someone"), lookUp(L"//input[@id='someone']"));
    // Selections are kept up to a limit; past it the lookups still answer.
    for (int i = 0; i < 100; ++i) {
        const std::wstring expression = L"//input[@id='user" + std::to_wstring(i) + L"']";
        EXPECT_EQ(nullptr, lookUp(expression.c_str()));
    }
    EXPECT_LE(mirror.KeptXmlForm().selections.size(), 64u);
    EXPECT_EQ(ById(L"pass"), lookUp(L"//p[2]/input"));
}

TEST_F(XPathTest, AnElementPutInThePlaceOfAnEqualLookingOneIsHandedBack) {
    // Through the object, with expressions only MSXML evaluates: a kept selection leads to the
    // element the page holds now, never to the one it held.
    document.LoadMarkup(kLoginPage);
    const wchar_t* expressions[] = {L"//input[position()=1][@id='user']", L"//p[input[@id='user']]"};
    EXPECT_EQ(ById(L"user"), Find(expressions[0]));
    EXPECT_EQ(ById(L"user")->parent, Find(expressions[1]));
    host::FakeNode* user = ReplaceByEqualLooking(ById(L"user"));
    host::FakeNode* paragraph = ReplaceByEqualLooking(user->parent);
    EXPECT_EQ(ById(L"user"), Find(expressions[0]));
    EXPECT_EQ(paragraph, Find(expressions[1]));
    ById(L"user")->attributes[0].second = host::Value(L"gone");
    EXPECT_EQ(nullptr, Find(expressions[0]));
    EXPECT_EQ(nullptr, Find(expressions[1]));
}

}  // namespace
