// A browser tab of its own that keeps writing the session's store, as a page's script does: it is
// given the extension object's binding through the test browser host, then round after round reads
// Templates, adds a template of its own site or drops one it added, and writes the array back.
//   page_writer ORIGIN ROUNDS OUT
// OUT receives a line per write that the store took: "added OWNER" or "removed OWNER".
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"
#include "host/browser_host.h"
#include "support/test_environment.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>

using nlohmann::ordered_json;

namespace {

DISPID IdOf(IDispatch* object, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

std::wstring Read(IDispatch* page) {
    DISPPARAMS none = {};
    unique_variant value;
    page->Invoke(IdOf(page, L"Templates"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.get(),
                 nullptr, nullptr);
    return V_VT(value.get()) == VT_BSTR && V_BSTR(value.get()) ? V_BSTR(value.get()) : L"";
}

HRESULT Write(IDispatch* page, const std::wstring& text) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    const HRESULT hr = page->Invoke(IdOf(page, L"Templates"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                    &params, nullptr, nullptr, nullptr);
    VariantClear(&value);
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring origin = argv[1];
    const int rounds = _wtoi(argv[2]);
    std::ofstream out(argv[3]);
    int status = 0;
    {
        ComPtr<IVelnorIEExt> object;
        if (FAILED(CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void()))) return 3;
        ComPtr<IObjectWithSite> site;
        object.As(IID_IObjectWithSite, &site);
        host::FakeBrowser browser;
        host::FakeDocument document;
        document.url = origin + L"/login";
        browser.document = &document;
        site->SetSite(browser.Site());
        browser.FireDocumentComplete(document.url);
        testenv::PumpUntil([&] { return document.window.properties.count(L"VelnorIEExt") != 0; }, 30000);
        const host::Value& published = document.window.properties[L"VelnorIEExt"];
        IDispatch* page = V_VT(published.get()) == VT_DISPATCH ? V_DISPATCH(published.get()) : nullptr;
        if (!page) return 4;
        const std::string site8 = WideToUtf8(origin);
        int next = 0;
        for (int round = 0; round < rounds; ++round) {
            ordered_json templates = ordered_json::array();
            const std::wstring text = Read(page);
            if (!text.empty()) templates = ordered_json::parse(WideToUtf8(text));
            std::string line;
            // Every third round drops the oldest template it added that it still reads.
            if (round % 3 == 2) {
                for (auto entry = templates.begin(); entry != templates.end(); ++entry) {
                    if (!entry->is_object() || entry->value("owner", std::string()).rfind(site8 + "#", 0) != 0) continue;
                    line = "removed " + entry->value("owner", std::string());
                    templates.erase(entry);
                    break;
                }
            }
            if (line.empty()) {
                const std::string owner = site8 + "#" + std::to_string(next);
                templates.push_back({{"url", site8 + "/*"}, {"elements", ordered_json::array()}, {"owner", owner}});
                line = "added " + owner;
            }
            if (SUCCEEDED(Write(page, Utf8ToWide(templates.dump())))) {
                out << line << "\n";
                if (line.rfind("added ", 0) == 0) ++next;
            }
            out.flush();
        }
        site->SetSite(nullptr);
    }
    CoUninitialize();
    return status;
}
