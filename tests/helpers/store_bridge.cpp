// The template store of the session for the content-script suite, which runs pages in Chromium
// on the Linux side: it holds the store open (as a browser does) and reads and writes it through
// a real extension object, one request a line on standard input, one answer a line on standard
// output, both UTF-8:
//   get          -> the stored text as a JSON string
//   put "TEXT"   -> ok
//   quit
#include "common/com_ptr.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"
#include "server/module.h"
#include "templates/template_store.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <string>

int wmain() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const TemplateStore held(TemplateStore::Mode::kCreateOrOpen);
    ComPtr<IVelnorIEExt> object;
    if (!held.is_open() || FAILED(CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void()))) return 3;
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        if (line == "get") {
            unique_bstr text;
            object->get_Templates(text.put());
            const std::wstring wide = text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
            std::cout << nlohmann::json(WideToUtf8(wide)).dump() << std::endl;
        } else if (line.rfind("put ", 0) == 0) {
            const std::wstring wide = Utf8ToWide(nlohmann::json::parse(line.substr(4)).get<std::string>());
            unique_bstr value(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
            const HRESULT hr = object->put_Templates(value.get());
            std::cout << (SUCCEEDED(hr) ? "ok" : "refused") << std::endl;
        } else {
            std::cout << "unknown" << std::endl;
        }
    }
    object.reset();
    CoUninitialize();
    return 0;
}
