// XPath lookup on fake HTML documents built from XHTML fixtures and node by node: the common
// subset evaluated on the mirror, everything else through Wine's MSXML, and both compared.
#include "extension/extension_fixture.h"
#include "extension/page_mirror.h"
#include "extension/xpath_lookup.h"

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

    // The element each way of evaluating finds; they must agree.
    host::FakeNode* FindBoth(const std::wstring& expression) {
        host::FakeNode* results[2] = {};
        int i = 0;
        for (XPathEvaluation evaluation : {XPathEvaluation::kSubsetFirst, XPathEvaluation::kMsxmlOnly}) {
            ComPtr<IHTMLDocument3> document3;
            EXPECT_EQ(S_OK, document.Interface()->QueryInterface(IID_IHTMLDocument3, document3.put_void()));
            unique_bstr text(SysAllocStringLen(expression.data(), static_cast<UINT>(expression.size())));
            ComPtr<IHTMLDOMNode> found;
            EXPECT_EQ(S_OK, LookUpXPath(document3.get(), text.get(), evaluation, mirror, found.put()));
            results[i++] = found ? document.NodeOf(found.get()) : nullptr;
            EXPECT_TRUE(!found || results[i - 1]) << "a node of this page";
        }
        EXPECT_EQ(results[0], results[1]) << testenv::Narrow(expression.c_str());
        return results[1];
    }

    host::FakeBrowser browser;
    host::FakeDocument document;
    PageMirror mirror;
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

TEST_F(XPathTest, TheSubsetAndMsxmlAgreeOnGeneratedPages) {
    // Pages of a few element names with attributes, text runs (empty and adjacent ones among
    // them), comments, left-out nodes and elements with names XML cannot take; expressions of
    // the subset, each evaluated on the mirror and by MSXML.
    std::mt19937 random(20261209);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const wchar_t* names[] = {L"DIV", L"FORM", L"INPUT", L"SPAN", L"O:P"};
    const wchar_t* lower[] = {L"div", L"form", L"input", L"span", L"*"};
    const wchar_t* attributes[] = {L"id", L"name", L"type", L"class"};
    const wchar_t* values[] = {L"a", L"b", L"text", L""};
    size_t found = 0, asked = 0;
    for (int page = 0; page < 30; ++page) {
        document.LoadMarkup(L"<html><body/></html>");
        std::vector<host::FakeNode*> elements{document.root->children[0].get()};
        for (int n = 0; n < 60; ++n) {
            host::FakeNode* parent = elements[pick(elements.size())];
            switch (pick(6)) {
            case 0: parent->Add(host::FakeNode::Text(pick(2) ? L"" : L"t")); break;
            case 1: parent->Add(host::FakeNode::Comment(L"c")); break;
            case 2: parent->Add(std::make_unique<host::FakeNode>(99L, L"#other")); break;
            default: {
                std::vector<std::pair<std::wstring, std::wstring>> list;
                for (const wchar_t* attribute : attributes)
                    if (pick(3) == 0) list.emplace_back(attribute, values[pick(4)]);
                elements.push_back(parent->Add(host::FakeNode::Element(names[pick(5)], list)));
            }
            }
        }
        for (int e = 0; e < 40; ++e) {
            std::wstring expression;
            for (size_t steps = 1 + pick(3); steps > 0; --steps) {
                expression += pick(2) ? L"//" : L"/";
                if (expression.size() <= 2 && expression == L"/") expression += L"html/";
                expression += lower[pick(5)];
                if (pick(2)) expression += L"[" + std::to_wstring(1 + pick(3)) + L"]";
                if (pick(2)) {
                    expression += L"[@" + std::wstring(attributes[pick(4)]);
                    if (pick(3)) expression += (pick(2) ? L"='" : L" != '") + std::wstring(values[pick(4)]) + L"'";
                    if (pick(3) == 0) expression += L" and @" + std::wstring(attributes[pick(4)]);
                    expression += L"]";
                }
            }
            ++asked;
            found += FindBoth(expression) != nullptr;
        }
    }
    EXPECT_GT(found, asked / 8) << "many expressions find something";
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

}  // namespace
