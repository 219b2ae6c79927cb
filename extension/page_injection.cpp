#include "extension/page_injection.h"

#include "common/com_ptr.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "logging/log_writer.h"

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

namespace {

// AddExternalObject's steps (each that fails ends them with false); throws when memory runs out.
bool PublishAndRun(IWebBrowser2* browser, const wchar_t* name, VARIANT* value) {
    LogExt(L"CVelnorIEExt::AddExternalObject()");
    ComPtr<IDispatch> document;
    HRESULT hr = browser ? browser->get_Document(document.put()) : E_POINTER;
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

}  // namespace

bool AddExternalObject(IWebBrowser2* browser, const wchar_t* name, VARIANT* value) noexcept {
    try {
        return PublishAndRun(browser, name, value);
    } catch (...) {
        return false;   // out of memory: the next period tries again
    }
}
