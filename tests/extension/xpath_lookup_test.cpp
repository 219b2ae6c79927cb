// XPath lookup through Wine's MSXML, on fake HTML documents built from XHTML fixtures.
#include "extension/extension_fixture.h"
#include "extension/xpath_lookup.h"

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

    host::FakeBrowser browser;
    host::FakeDocument document;
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
    // Before each target sits a node the mirror cannot hold: an unknown node type, a text
    // whose value is no string, an element with a name XML refuses, a node whose type cannot
    // be read. Positions must stay in step with the HTML document.
    document.LoadMarkup(
        L"<html><body>"
        L"<div id=\"a\"><?host-node 99?><input id=\"after-other\"/></div>"
        L"<div id=\"b\"><?host-text-number 5?><input id=\"after-number\"/></div>"
        L"<div id=\"c\"><span host-name=\"O:P\"><input id=\"hidden\"/></span><input id=\"after-prefixed\"/></div>"
        L"<div id=\"d\"><span id=\"unreadable\"/><input id=\"after-unreadable\"/></div>"
        L"</body></html>");
    ById(L"unreadable")->failNodeType = true;
    EXPECT_EQ(ById(L"after-other"), Find(L"//div[@id='a']/input"));
    EXPECT_EQ(ById(L"after-number"), Find(L"//div[@id='b']/input"));
    EXPECT_EQ(ById(L"after-prefixed"), Find(L"//div[@id='c']/input"));
    EXPECT_EQ(ById(L"after-unreadable"), Find(L"//input[@id='after-unreadable']"));
    // A left-out node is left out with its subtree.
    EXPECT_EQ(nullptr, Find(L"//input[@id='hidden']"));
    // node() counts the left-out node, as the HTML document does.
    EXPECT_EQ(ById(L"after-other"), Find(L"//div[@id='a']/node()[2]"));
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
    for (int depth = 0; depth < 2000; ++depth)
        parent = parent->Append(std::make_unique<host::FakeNode>(1L, L"DIV"));
    host::FakeNode* deepest = parent->Append(std::make_unique<host::FakeNode>(1L, L"INPUT"));
    deepest->attributes.emplace_back(L"id", host::Value(L"deep"));
    std::wstring xml;
    EXPECT_TRUE(SerializeHtmlMirror(document.root->Node(), xml));
    EXPECT_NE(std::wstring::npos, xml.find(L"<input id=\"deep\"></input>"));
    EXPECT_EQ(deepest, Find(L"//input[@id='deep']"));
}

}  // namespace
