// One write of a page to the session's template store, as an Internet Explorer page makes it:
// through an extension object of its own and its binding to a page at URL, which applies the
// write as a change to what the page read and stamps what the page adds with its origin. For the
// legacy-engine suite, whose pages (test doubles in the script host) have no browser to be bound
// to: the page's text is handed over in a file.
//   page_write URL FILE     FILE: the text the page writes (UTF-8)
// Exit code 0 when the store took it, 1 when it refused it, 3 when nothing could be written.
#include "common/com_ptr.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/velnor_ie_ext.h"
#include "helpers/page_identity.h"
#include "server/module.h"
#include "templates/patterns.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 3;
    std::ifstream file(std::filesystem::path(argv[2]), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    if (!file) return 3;
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 3;
    {
        ComPtr<IVelnorIEExt> extension, page;
        PageContext context;
        context.document.attach(new PageIdentity);
        context.url = argv[1];
        context.origin = OriginOfUrl(context.url);
        context.ordinal = 1;
        if (SUCCEEDED(CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, extension.put_void())) &&
            SUCCEEDED(CPageBinding::Create(static_cast<CVelnorIEExt*>(extension.get()), std::move(context), page.put()))) {
            // What the page read first: its write is a change to that.
            unique_bstr read;
            page->get_Templates(read.put());
            const std::wstring text = Utf8ToWide(bytes.str());
            unique_bstr written(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
            result = SUCCEEDED(page->put_Templates(written.get())) ? 0 : 1;
        }
    }
    CoUninitialize();
    return result;
}
