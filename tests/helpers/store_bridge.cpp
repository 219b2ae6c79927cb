// The template store of the session for the content-script suite, which runs pages in Chromium
// on the Linux side: it holds the store open (as a browser does) and lets each of the suite's
// tabs reach it as Internet Explorer's tabs do, through an extension object of its own and a
// binding to each page it shows. One request a line on standard input, one answer a line on
// standard output, both UTF-8:
//   page TAB URL        -> ok        the tab shows a new page at URL
//   get TAB             -> "TEXT"    Templates as that page reads it (a JSON string)
//   put TAB "TEXT"      -> ok | refused   Templates written by that page
//   get                 -> "TEXT"    the stored text, as a program of the session reads it
//   put "TEXT"          -> ok        the stored text replaced, as a program of the session writes it
//   quit
#include "common/com_ptr.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/velnor_ie_ext.h"
#include "helpers/page_identity.h"
#include "server/module.h"
#include "templates/patterns.h"
#include "templates/template_store.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

struct Tab {
    ComPtr<IVelnorIEExt> extension;
    ComPtr<IVelnorIEExt> page;
    long long pages = 0;
};

std::wstring Text(const std::string& jsonString) { return Utf8ToWide(nlohmann::json::parse(jsonString).get<std::string>()); }

std::string Answer(const std::wstring& text) { return nlohmann::json(WideToUtf8(text)).dump(); }

}  // namespace

int wmain() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const TemplateStore held(TemplateStore::Mode::kCreateOrOpen);
    if (!held.is_open()) return 3;
    std::map<std::string, Tab> tabs;
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string verb, tabName;
        words >> verb;
        if (verb == "quit") break;
        const bool forTab = line.size() > verb.size() + 1 && line[verb.size() + 1] != '"';
        if (forTab) words >> tabName;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (!forTab) {
            TemplateStore::View view = held.Access();
            if (verb == "get") std::cout << Answer(view ? view.ReadText() : std::wstring()) << std::endl;
            else if (verb == "put") std::cout << (view && view.WriteText(Text(rest).c_str()) ? "ok" : "refused") << std::endl;
            else std::cout << "unknown" << std::endl;
            continue;
        }
        Tab& tab = tabs[tabName];
        if (!tab.extension &&
            FAILED(CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, tab.extension.put_void())))
            return 3;
        if (verb == "page") {
            PageContext page;
            page.document.attach(new PageIdentity);
            page.url = Utf8ToWide(rest);
            page.origin = OriginOfUrl(page.url);
            page.ordinal = ++tab.pages;
            tab.page.reset();
            const HRESULT hr = CPageBinding::Create(static_cast<CVelnorIEExt*>(tab.extension.get()), std::move(page),
                                                    tab.page.put());
            std::cout << (SUCCEEDED(hr) ? "ok" : "refused") << std::endl;
        } else if (verb == "get" && tab.page) {
            unique_bstr text;
            tab.page->get_Templates(text.put());
            std::cout << Answer(text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring()) << std::endl;
        } else if (verb == "put" && tab.page) {
            const std::wstring wide = Text(rest);
            unique_bstr value(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
            std::cout << (SUCCEEDED(tab.page->put_Templates(value.get())) ? "ok" : "refused") << std::endl;
        } else {
            std::cout << "unknown" << std::endl;
        }
    }
    tabs.clear();
    CoUninitialize();
    return 0;
}
