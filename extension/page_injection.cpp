// Page injection: each firing of a page timer probes the page's script engine, publishes the
// object bound to that page as window.VelnorIEExt and runs the content script there. (The timers
// are started by OnDocumentComplete, velnor_ie_ext.cpp; the debug timer shares their callback.)
#include "extension/page_injection.h"

#include "common/hresult.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/timer_map.h"
#include "extension/velnor_ie_ext.h"
#include "logging/log_writer.h"
#include "templates/patterns.h"

#include <dispex.h>
#include <mshtml.h>

#include <cstring>

const wchar_t kContentScriptType[] = L"SCRIPT";

namespace {

constexpr VARTYPE kNoResult = 0xFFFF;   // VT_ILLEGAL: no script result ever has this type

const wchar_t kProbeScript[] = L"var testvar = 0;";
const wchar_t kScriptLanguage[] = L"javascript";

// NULL string → empty.
std::wstring TextOf(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

// The resource's bytes in the module's image, up to its size or its first zero byte; null when the
// resource is missing or empty.
const char* ScriptResourceBytes(HMODULE module, const wchar_t* type, WORD id, size_t* length) {
    *length = 0;
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) return nullptr;
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded || size == 0) return nullptr;
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (!bytes) return nullptr;
    const void* zero = memchr(bytes, '\0', size);
    *length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size;
    return bytes;
}

}  // namespace

// Every page pays this: under Wine each large block is mapped anew and faulted in page by page,
// and a narrow copy, its buffer and a wide copy before the BSTR cost the attempt more than
// everything else it does.
unique_bstr LoadScriptText(HMODULE module) {
    size_t length = 0;
    const char* bytes = ScriptResourceBytes(module, kContentScriptType, kContentScriptId, &length);
    if (!bytes || length == 0) return unique_bstr(SysAllocStringLen(L"", 0));
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (units <= 0) return unique_bstr(SysAllocStringLen(L"", 0));
    unique_bstr text(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
    if (text) MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(length), text.get(), units);
    return text;
}

bool LoadScriptResource(HMODULE module, const wchar_t* type, WORD id, std::string& text) {
    size_t length = 0;
    const char* bytes = ScriptResourceBytes(module, type, id, &length);
    if (!bytes) return false;
    text.append(bytes, length);
    return true;
}

bool ReadDocumentInfo(IWebBrowser2* browser, std::wstring& title, std::wstring& url) {
    ComPtr<IDispatch> document;
    if (!browser || FAILED(browser->get_Document(document.put())) || !document) return false;
    ComPtr<IHTMLDocument2> html;
    if (FAILED(document.As(IID_IHTMLDocument2, &html)) || !html) return false;
    unique_bstr text;
    title = SUCCEEDED(html->get_title(text.put())) ? TextOf(text.get()) : std::wstring();
    url = SUCCEEDED(html->get_URL(text.put())) ? TextOf(text.get()) : std::wstring();
    return true;
}

void CALLBACK CVelnorIEExt::OnUpdate(HWND window, UINT, UINT_PTR timerId, DWORD) {
    LogExt(L"CVelnorIEExt::OnUpdate()");
    CVelnorIEExt* object = TimerMapLookup(timerId);
    if (!object) return;

    if (timerId == object->m_debugTimerId) {
        object->EndDebugPeriod(window, timerId);
        return;
    }

    // The page may release the object while its script runs; keep it alive until done.
    ComPtr<IVelnorIEExt> keepAlive(static_cast<IVelnorIEExt*>(object));
    bool done = false;
    try {
        // The page gets the object bound to its own document.
        unique_variant value;
        V_VT(value.get()) = VT_DISPATCH;
        IVelnorIEExt* binding = nullptr;
        if (FAILED(object->CreatePageBinding(&binding))) return;   // out of memory: the next period tries again
        V_DISPATCH(value.get()) = binding;
        done = object->AddExternalObject(L"VelnorIEExt", value.get());
    } catch (...) {
        // A timer callback is the boundary: nothing may unwind into the system's timer dispatch.
        done = false;   // out of memory: the next period tries again
    }
    if (!done) return;
    LogExt(L"CVelnorIEExt::OnUpdate() -> kill object");
    KillTimer(window, timerId);
    TimerMapRemove(timerId);
    object->ForgetTimer(timerId);
    LogExt(L"CVelnorIEExt::OnUpdate() -> finished");
}

namespace {

// The COM identity of the browser's top-level document, or null.
ComPtr<IUnknown> DocumentIdentity(IWebBrowser2* browser, ComPtr<IDispatch>* document) {
    ComPtr<IUnknown> identity;
    if (browser && SUCCEEDED(browser->get_Document(document->put())) && *document) document->As(IID_IUnknown, &identity);
    return identity;
}

}  // namespace

HRESULT CVelnorIEExt::CreatePageBinding(IVelnorIEExt** binding) {
    *binding = nullptr;
    try {
        PageContext page;
        ComPtr<IDispatch> document;
        page.document = DocumentIdentity(m_webBrowser.get(), &document);
        ComPtr<IHTMLDocument2> html;
        unique_bstr url;
        if (document && SUCCEEDED(document.As(IID_IHTMLDocument2, &html)) && SUCCEEDED(html->get_URL(url.put())))
            page.url = TextOf(url.get());
        page.origin = OriginOfUrl(page.url);
        // Every page timer of a document (one for each frame that completed) publishes into the
        // same page: the tab's pages are counted by document.
        if (!page.document || page.document.get() != m_lastPageDocument.get()) {
            ++m_pageOrdinal;
            m_lastPageDocument = page.document;
        }
        page.ordinal = m_pageOrdinal;
        return CPageBinding::Create(this, std::move(page), binding);
    } catch (...) {
        return ResultFromCaughtException();
    }
}

bool CVelnorIEExt::ShowsDocument(IUnknown* identity) {
    ComPtr<IDispatch> document;
    return identity && DocumentIdentity(m_webBrowser.get(), &document).get() == identity;
}

bool CVelnorIEExt::AddExternalObject(const wchar_t* name, VARIANT* value) noexcept {
    try {
        return PublishAndRun(name, value);
    } catch (...) {
        return false;   // out of memory: the next period tries again
    }
}

bool CVelnorIEExt::PublishAndRun(const wchar_t* name, VARIANT* value) {
    LogExt(L"CVelnorIEExt::AddExternalObject()");
    ComPtr<IDispatch> document;
    HRESULT hr = m_webBrowser ? m_webBrowser->get_Document(document.put()) : E_POINTER;
    LogExt(L"CVelnorIEExt::AddExternalObject() -> get_Document: %X", static_cast<unsigned>(hr));

    ComPtr<IHTMLDocument2> html;
    if (document) document.As(IID_IHTMLDocument2, &html);
    LogExt(L"CVelnorIEExt::AddExternalObject() -> IHTMLDocument2: %d", html ? 1 : 0);
    if (!html) return false;

    ComPtr<IHTMLWindow2> window;
    hr = html->get_parentWindow(window.put());
    LogExt(L"CVelnorIEExt::AddExternalObject() -> get_parentWindow: %X", static_cast<unsigned>(hr));
    if (!window) return false;

    // The probe: the result variant tells whether the page's script engine ran it, whatever
    // execScript returns. (Left untouched, the variant keeps kNoResult, an invalid type that
    // VariantClear refuses and leaves alone.)
    unique_bstr probe(SysAllocString(kProbeScript));
    unique_bstr language(SysAllocString(kScriptLanguage));
    if (!probe || !language) return false;
    unique_variant result;
    V_VT(result.get()) = kNoResult;
    LogExt(L"CVelnorIEExt::WindowEventAdvise() -> execScript: %X", static_cast<unsigned>(hr));
    hr = window->execScript(probe.get(), language.get(), result.get());
    LogExt(L"CVelnorIEExt::WindowEventAdvise() -> execScript: %X, %d", static_cast<unsigned>(hr),
           static_cast<int>(static_cast<unsigned short>(V_VT(result.get()))));
    if (V_VT(result.get()) == kNoResult) return false;

    ComPtr<IDispatchEx> windowEx;
    window.As(IID_IDispatchEx, &windowEx);
    LogExt(L"CVelnorIEExt::AddExternalObject() -> IDispatchEx: %d", windowEx ? 1 : 0);
    if (!windowEx) return false;

    unique_bstr propertyName(SysAllocString(name));
    if (!propertyName) return false;
    DISPID id = DISPID_UNKNOWN;
    hr = windowEx->GetDispID(propertyName.get(), fdexNameEnsure, &id);
    LogExt(L"CVelnorIEExt::AddExternalObject() -> GetDispID: %X", static_cast<unsigned>(hr));
    if (FAILED(hr)) return false;

    DISPPARAMS params = {};
    params.rgvarg = value;
    params.cArgs = 1;
    params.rgdispidNamedArgs = nullptr;
    params.cNamedArgs = 0;
    hr = windowEx->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                          nullptr);
    LogExt(L"CVelnorIEExt::AddExternalObject() -> Invoke: %X", static_cast<unsigned>(hr));
    if (FAILED(hr)) return false;

    unique_bstr script = LoadScriptText(g_moduleInstance);
    V_VT(result.put()) = kNoResult;
    LogExt(L"CVelnorIEExt::WindowEventAdvise() -> execScript: %X", static_cast<unsigned>(hr));
    if (!script) return false;
    hr = window->execScript(script.get(), language.get(), result.get());
    LogExt(L"CVelnorIEExt::WindowEventAdvise() -> execScript: %X, %d", static_cast<unsigned>(hr),
           static_cast<int>(static_cast<unsigned short>(V_VT(result.get()))));
    return V_VT(result.get()) != kNoResult;
}
