// The cost of reading Templates as a page does, from a store of 1,000 templates, with template
// isolation on (the page's own templates, found in the store text) and off (the whole text):
// microseconds per read, best of several rounds, both in the same run.
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/velnor_ie_ext.h"
#include "logging/settings.h"
#include "templates/template_store.h"

#include <cstdio>
#include <string>

namespace {

std::wstring Templates(int count) {
    std::wstring text = L"[";
    for (int i = 0; i < count; ++i) {
        const std::wstring n = std::to_wstring(i);
        text += (i ? L"," : L"") + std::wstring(L"{\"url\":\"https://site-") + n + L".example/login*\",\"title\":\"Sign in " + n +
                L"\",\"elements\":[{\"find\":{\"type\":\"id\",\"value\":\"f" + n +
                L"\"},\"actions\":[{\"type\":\"text\",\"value\":\"value " + n + L"\"}]},{\"find\":{\"type\":\"name\",\"value\":\"n" + n +
                L"\"},\"actions\":[{\"type\":\"text\",\"value\":\"other " + n + L"\"}]}]}";
    }
    return text + L"]";
}

void SetIsolation(DWORD on) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"TemplateIsolation", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof(on));
    RegCloseKey(key);
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Best time of one read through a page's binding.
double ReadCost(bool isolation, const std::wstring& text, size_t* length) {
    SetIsolation(isolation ? 1 : 0);
    ComPtr<IVelnorIEExt> object;
    CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void());
    {
        // Put there as a program of the session does: under isolation the object itself, bound
        // to no page, cannot write the store.
        const TemplateStore store(TemplateStore::Mode::kExistingOnly);
        TemplateStore::View view = store.Access();
        if (view) view.WriteText(text.c_str());
    }
    PageContext page;
    page.url = L"https://site-500.example/login?x=1";
    ComPtr<IVelnorIEExt> binding;
    CPageBinding::Create(static_cast<CVelnorIEExt*>(object.get()), page, binding.put());
    double best = 1e30;
    for (int round = 0; round < 200; ++round) {
        unique_bstr read;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        binding->get_Templates(read.put());
        QueryPerformanceCounter(&end);
        best = std::min(best, Microseconds(start, end));
        *length = SysStringLen(read.get());
    }
    return best;
}

}  // namespace

int main() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring text = Templates(1000);
    size_t whole = 0, own = 0;
    const double off = ReadCost(false, text, &whole);
    const double on = ReadCost(true, text, &own);
    SetIsolation(0);
    printf("store of 1000 templates, %u characters\n", static_cast<unsigned>(text.size()));
    printf("%-14s %12s %14s\n", "isolation", "us per read", "characters");
    printf("%-14s %12.1f %14u\n", "off", off, static_cast<unsigned>(whole));
    printf("%-14s %12.1f %14u\n", "on", on, static_cast<unsigned>(own));
    printf("ratio on/off: %.2f\n", on / off);
    CoUninitialize();
    return 0;
}
