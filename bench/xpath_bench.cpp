// XPath lookup cost on generated pages: milliseconds per GetElementByXPath call, against the
// bare walk of the same page (every node, attribute and child read through the same COM calls,
// without building the mirror). Each lookup follows a change of the page (one attribute that no
// expression reads), so nothing of an earlier lookup can be reused. Expressions of the forms
// templates recorded by tools use (an attribute test; "or"; a text and a sibling axis), and
// forms that only MSXML evaluated before the whole language was evaluated on the mirror: a
// position on a parenthesised path, an ancestor axis, a union with "@*", string functions and
// name(), count() with arithmetic and last(). Then an expression the evaluator leaves to MSXML
// (lang()): on a changed page (the XML form made and parsed), again on the same page (the kept
// selection) and another one on the same page (the kept MSXML document). The last column is
// the positional expression as it was evaluated before: by MSXML on an XML form made anew.
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"
#include "host/browser_host.h"
#include "xpath/page_mirror.h"
#include "xpath/xpath_lookup.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// A page of about `elements` elements: forms of labelled inputs in nested divs, with text and
// attributes like a real login page; the target is the last input.
void BuildPage(host::FakeDocument& document, int elements) {
    document.LoadMarkup(L"<html><head><title>bench</title></head><body/></html>");
    host::FakeNode* body = document.root->children[1].get();
    int made = 3;
    for (int block = 0; made < elements; ++block) {
        host::FakeNode* div = body->Append(std::make_unique<host::FakeNode>(1L, L"DIV"));
        div->attributes.emplace_back(L"class", host::Value(L"row"));
        div->attributes.emplace_back(L"id", host::Value(L"row" + std::to_wstring(block)));
        ++made;
        for (int i = 0; i < 4 && made < elements; ++i) {
            host::FakeNode* label = div->Append(std::make_unique<host::FakeNode>(1L, L"LABEL"));
            auto text = std::make_unique<host::FakeNode>(3L, L"#text");
            text->value = host::Value(L"Field " + std::to_wstring(made));
            label->Append(std::move(text));
            host::FakeNode* input = div->Append(std::make_unique<host::FakeNode>(1L, L"INPUT"));
            input->attributes.emplace_back(L"id", host::Value(L"f" + std::to_wstring(made)));
            input->attributes.emplace_back(L"name", host::Value(L"field" + std::to_wstring(made)));
            input->attributes.emplace_back(L"type", host::Value(L"text"));
            made += 2;
        }
    }
    host::FakeNode* target = body->Append(std::make_unique<host::FakeNode>(1L, L"INPUT"));
    target->attributes.emplace_back(L"id", host::Value(L"target"));
}

// Reads everything the mirror reads, and nothing more.
size_t BareWalk(IHTMLDOMNode* node) {
    size_t visited = 0;
    std::vector<ComPtr<IHTMLDOMNode>> stack{ComPtr<IHTMLDOMNode>(node)};
    while (!stack.empty()) {
        ComPtr<IHTMLDOMNode> current = stack.back();
        stack.pop_back();
        ++visited;
        long type = 0;
        current->get_nodeType(&type);
        unique_bstr name;
        current->get_nodeName(name.put());
        if (type != 1) {
            unique_variant value;
            current->get_nodeValue(value.get());
        } else {
            ComPtr<IDispatch> collectionDispatch;
            ComPtr<IHTMLAttributeCollection> collection;
            current->get_attributes(collectionDispatch.put());
            if (collectionDispatch && SUCCEEDED(collectionDispatch.As(IID_IHTMLAttributeCollection, &collection))) {
                long length = 0;
                collection->get_length(&length);
                for (long i = 0; i < length; ++i) {
                    unique_variant index;
                    V_VT(index.get()) = VT_I4;
                    V_I4(index.get()) = i;
                    ComPtr<IDispatch> item;
                    ComPtr<IHTMLDOMAttribute> attribute;
                    collection->item(index.get(), item.put());
                    if (!item || FAILED(item.As(IID_IHTMLDOMAttribute, &attribute))) continue;
                    unique_bstr attributeName;
                    unique_variant attributeValue;
                    attribute->get_nodeName(attributeName.put());
                    attribute->get_nodeValue(attributeValue.get());
                }
            }
        }
        ComPtr<IHTMLDOMNode> sibling;
        if (current.get() != node) current->get_nextSibling(sibling.put());
        if (sibling) stack.push_back(sibling);
        ComPtr<IHTMLDOMNode> child;
        current->get_firstChild(child.put());
        if (child) stack.push_back(child);
    }
    return visited;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int main() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const wchar_t* expressions[] = {
        L"//input[@id='target']",
        L"//input[@id='target' or @id='none']",
        L"//label[normalize-space(text())='Field 6']/following-sibling::input[1]",
        L"(//input[@id='target'])[1]",
        L"(//input[@id='target'])[1]/ancestor-or-self::*[1]",
        L"//input[@*='target'] | //form[@id='none']",
        L"//input[string-length(@id) = 6 and translate(@id, 'TARGET', 'target') = 'target' and name() = 'input']",
        L"//input[count(@*) * 2 - 1 = 1][last()]",
        L"//input[@id='target' or lang('x')]",   // left to MSXML: first, then again,
        nullptr,                                  // then another one on the same page
        nullptr,
    };
    const char* columns[] = {"attribute", "or", "text+sibling", "(path)[1]", "ancestor", "union @*",
                             "strings", "count", "MSXML first", "MSXML again", "MSXML other", "before (path)[1]"};
    constexpr int kLookups = sizeof(expressions) / sizeof(expressions[0]);
    constexpr int kColumns = kLookups + 1;
    printf("%-9s %8s %9s", "elements", "nodes", "walk ms");
    for (const char* column : columns) printf(" %16s %5s", column, "ratio");
    printf("\n");
    for (int elements : {1000, 2000, 10000, 50000}) {
        host::FakeDocument document;
        BuildPage(document, elements);
        host::FakeBrowser browser;
        browser.document = &document;
        ComPtr<IVelnorIEExt> object;
        CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void());
        ComPtr<IObjectWithSite> site;
        object.As(IID_IObjectWithSite, &site);
        site->SetSite(browser.Site());
        // An attribute that no expression reads, changed to make the page another one.
        host::Value& changing = document.root->children[1]->children[0]->attributes[0].second;
        int changes = 0;
        auto change = [&] { changing = host::Value(++changes % 2 ? L"row" : L"row "); };

        const int rounds = elements >= 50000 ? 3 : elements >= 10000 ? 5 : 20;
        LARGE_INTEGER start, end;
        size_t nodes = 0;
        double walk = 1e30, lookup[kColumns];
        std::fill(std::begin(lookup), std::end(lookup), 1e30);
        ComPtr<IHTMLDocument3> document3;
        document.Interface()->QueryInterface(IID_IHTMLDocument3, document3.put_void());
        PageMirror mirror;
        auto lookUp = [&](const std::wstring& text, XPathEvaluation evaluation) {
            unique_bstr expression(SysAllocString(text.c_str()));
            ComPtr<IDispatch> found;
            ComPtr<IHTMLDOMNode> node;
            QueryPerformanceCounter(&start);
            if (evaluation == XPathEvaluation::kMirrorFirst)
                object->GetElementByXPath(expression.get(), found.put());
            else
                LookUpXPath(document3.get(), expression.get(), evaluation, mirror, node.put());
            QueryPerformanceCounter(&end);
            if (!found && !node) printf("lookup failed: %S\n", expression.get());
            return Milliseconds(start, end);
        };
        // Each kind in rounds of its own, each round on a changed page after a walk (and, for the
        // kept MSXML selection and document, the lookup that makes them), so that every figure is
        // measured in the same state of the process.
        for (int kind = 0; kind < kColumns; ++kind) {
            for (int round = 0; round < rounds; ++round) {
                change();
                QueryPerformanceCounter(&start);
                nodes = BareWalk(document.root->Node());
                QueryPerformanceCounter(&end);
                walk = std::min(walk, Milliseconds(start, end));
                const std::wstring other = L"//input[@id='target' or lang('n" + std::to_wstring(round) + L"')]";
                double ms;
                if (kind == kLookups) {
                    ms = lookUp(expressions[3], XPathEvaluation::kMsxmlOnly);
                } else if (kind == 9 || kind == 10) {
                    lookUp(expressions[8], XPathEvaluation::kMirrorFirst);
                    ms = lookUp(kind == 9 ? expressions[8] : other, XPathEvaluation::kMirrorFirst);
                } else {
                    ms = lookUp(expressions[kind], XPathEvaluation::kMirrorFirst);
                }
                lookup[kind] = std::min(lookup[kind], ms);
            }
        }
        printf("%-9d %8u %9.2f", elements, static_cast<unsigned>(nodes), walk);
        for (double ms : lookup) printf(" %16.2f %5.2f", ms, ms / walk);
        printf("\n");
        site->SetSite(nullptr);
    }
    CoUninitialize();
    return 0;
}
