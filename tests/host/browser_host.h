// The test browser host: fake Internet Explorer objects that the extension object is driven
// through exactly as the browser drives it (QueryInterface, SetSite, events by DISPID, page
// script through IDispatch). It stands in for IE and MSHTML, which do not exist here, and for
// nothing else: COM, OLE Automation, MSXML and the registry stay Wine's own.
//
// Each fake is a plain C++ object holding what the extension did to it and how it should
// answer; its COM face is built in the host's implementation files. Members the extension is
// not expected to call stop the test run (see fake_com.h); IWebBrowser2's answer E_NOTIMPL
// and are recorded in unexpectedCalls.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <exdisp.h>
#include <mshtml.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

// An owned copy of a VARIANT.
class Value {
public:
    Value() { VariantInit(&m_value); }
    Value(const VARIANT& value);
    Value(const wchar_t* text);
    Value(const std::wstring& text) : Value(text.c_str()) {}
    Value(long number);
    Value(IDispatch* object);
    Value(const Value& other) : Value(other.m_value) {}
    Value& operator=(const Value& other);
    ~Value() { VariantClear(&m_value); }

    VARIANT* get() { return &m_value; }
    const VARIANT* get() const { return &m_value; }
    VARTYPE type() const { return V_VT(&m_value); }
    std::wstring text() const;   // a VT_BSTR's text, else empty

private:
    VARIANT m_value;
};

struct ExecutedScript {
    std::wstring code;
    std::wstring language;
};

// A page window: IHTMLWindow2::execScript and IDispatchEx over its properties.
class FakeWindow {
public:
    FakeWindow();
    ~FakeWindow();
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

    IHTMLWindow2* Interface();

    // Every script handed to execScript, in order (unless keepScripts is off: benchmarks time
    // the extension's side of execScript, not the host's copy of a 40 KB script).
    std::vector<ExecutedScript> scripts;
    bool keepScripts = true;
    // The page's script engine: an answered script writes a VT_EMPTY result (as a statement
    // does); the first `unansweredScripts` calls leave the result untouched (not ready yet).
    bool answerScripts = true;
    int unansweredScripts = 0;
    std::vector<bool> answerPlan;   // when not empty, decides each call in turn (true: answer)
    HRESULT execScriptResult = S_OK;

    bool offerDispatchEx = true;
    HRESULT getDispIdResult = S_OK;
    HRESULT invokeResult = S_OK;
    // Window properties created through IDispatchEx (DISPID = 1000 + index of the name).
    std::vector<std::wstring> propertyNames;
    std::map<std::wstring, Value> properties;
    std::vector<DWORD> getDispIdFlags;
    // Every IDispatch::Invoke on the window's IDispatchEx, as it was called.
    struct InvokeCall {
        DISPID id;
        bool nullInterfaceId;
        LCID locale;
        WORD flags;
        UINT arguments;
        UINT namedArguments;
        bool noResult, noException, noArgumentError;
    };
    std::vector<InvokeCall> invokes;

    struct Object;

private:
    Object* m_object;
};

// A node of the fake HTML DOM. Element names are upper case, as MSHTML reports them.
class FakeNode {
public:
    FakeNode(long type, std::wstring name);
    ~FakeNode();
    FakeNode(const FakeNode&) = delete;
    FakeNode& operator=(const FakeNode&) = delete;

    long type;
    std::wstring name;                                   // nodeName
    Value value;                                         // nodeValue
    std::vector<std::pair<std::wstring, Value>> attributes;
    std::vector<std::unique_ptr<FakeNode>> children;
    FakeNode* parent = nullptr;
    bool failNodeType = false;                           // get_nodeType fails

    FakeNode* Append(std::unique_ptr<FakeNode> child);
    const Value* Attribute(const std::wstring& attributeName) const;

    // Pages built node by node, as script builds them: what markup can never hold (adjacent
    // text nodes, empty text nodes) included. Element names are given as MSHTML reports them.
    static std::unique_ptr<FakeNode> Element(const std::wstring& name,
                                             std::vector<std::pair<std::wstring, std::wstring>> attributes = {});
    static std::unique_ptr<FakeNode> Text(const std::wstring& text);
    static std::unique_ptr<FakeNode> Comment(const std::wstring& text);
    // Appends and returns the new child, for chains such as
    // body->Add(FakeNode::Element(L"FORM"))->Add(FakeNode::Text(L""))
    FakeNode* Add(std::unique_ptr<FakeNode> child) { return Append(std::move(child)); }

    // The node's COM identity (its IHTMLDOMNode; elements also answer IHTMLElement).
    IUnknown* Interface();
    IHTMLDOMNode* Node();

    struct Object;

private:
    Object* m_object = nullptr;
};

// A page: IHTMLDocument2 (title, URL, parent window) and IHTMLDocument3 (root element).
class FakeDocument {
public:
    FakeDocument();
    ~FakeDocument();
    FakeDocument(const FakeDocument&) = delete;
    FakeDocument& operator=(const FakeDocument&) = delete;

    IDispatch* Interface();

    std::wstring title;
    std::wstring url = L"about:blank";
    bool nullTitle = false;                // get_title gives a null string
    HRESULT titleResult = S_OK;
    HRESULT urlResult = S_OK;
    bool offerDocument2 = true;            // a non-HTML document offers neither
    bool offerDocument3 = true;
    bool offerWindow = true;
    FakeWindow window;

    // The DOM: built from XHTML markup parsed by MSXML and mirrored into fake nodes, with
    // element names upper-cased. Conventions for nodes that markup cannot express:
    //   <?host-node N?>          a node of type N (for example 10, or 99)
    //   <?host-text-number N?>   a text node whose value is the number N, not a string
    //   host-name="X" on an element gives it the node name X
    void LoadMarkup(const std::wstring& xhtml);
    std::unique_ptr<FakeNode> root;

    FakeNode* ElementById(const std::wstring& id);
    // The fake node whose COM object is `object`, or null.
    FakeNode* NodeOf(IUnknown* object);

    struct Object;

private:
    Object* m_object;
};

// A browser window or tab: IWebBrowser2 with its properties, the DWebBrowserEvents2
// connection point, and the service provider that hands out IProfferService.
class FakeBrowser {
public:
    FakeBrowser();
    ~FakeBrowser();
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    IUnknown* Site();
    IWebBrowser2* Browser();

    // How the browser answers.
    READYSTATE readyState = READYSTATE_COMPLETE;
    HRESULT readyStateResult = S_OK;
    bool offerConnectionPoints = true;
    HRESULT adviseResult = S_OK;
    bool offerServiceProvider = true;
    HRESULT profferResult = S_OK;           // a failing proffer still scribbles over the cookie
    FakeDocument* document = nullptr;       // what get_Document gives (null: none)
    SHANDLE_PTR window = 0x4242;            // what get_HWND gives: the owner of the browser's own prompts
    bool busy = false;                      // what get_Busy gives: a navigation or download under way
    std::map<std::wstring, Value> properties;

    // What the extension did, in order ("Advise", "Unadvise 7", "ProfferService",
    // "RevokeService 3", "PutProperty VelnorIEExtStatus", ...).
    std::vector<std::string> calls;
    std::vector<std::string> unexpectedCalls;
    DWORD lastCookie = 0;
    IDispatch* Sink();                      // the advised event sink, or null
    IServiceProvider* ProfferedProvider();  // what ProfferService was given, or null
    GUID profferedService = GUID_NULL;

    // Events, delivered to the sink through IDispatch::Invoke as the browser does: arguments
    // in reverse order, URLs as VT_VARIANT | VT_BYREF.
    HRESULT Fire(DISPID id, std::vector<Value> arguments);
    HRESULT FireBeforeNavigate2(const std::wstring& url, IDispatch* frame = nullptr);
    HRESULT FireNavigateComplete2(const std::wstring& url, IDispatch* frame = nullptr);
    HRESULT FireNavigateError(const std::wstring& url, IDispatch* frame = nullptr);
    HRESULT FireDocumentComplete(const std::wstring& url, IDispatch* frame = nullptr);
    HRESULT FireFileDownload(bool activeDocument);
    HRESULT FireDownloadComplete();
    HRESULT FirePropertyChange(const std::wstring& name);

    struct Object;

private:
    Object* m_object;
};

}  // namespace host
