// The cost of a page's write to the store, applied as a change to what the page read, against the
// plain write of the same text (the section's lock taken, the text area cleared and the text
// copied, as every write did before), at 100 and 1,000 templates: microseconds per write, best of
// the rounds, both in the same rounds.
//
// The page's write is the content script's usual one: it read the store, ran one template and
// dropped it, and writes back every other template with its run state filled in (the number the
// load pass gave it, the defaults), which no stored template had yet; "again" is the next such
// write, when the stored templates already carry their run state. "others wrote" has another tab
// add a template between the page's read and its write, so the change is applied to a store that
// is no longer what the page read.
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/velnor_ie_ext.h"
#include "templates/patterns.h"
#include "templates/store_merge.h"
#include "templates/template_store.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::wstring Template(int i, bool runState, int id) {
    const std::wstring n = std::to_wstring(i);
    std::wstring text = L"{\"url\":\"https://site-" + n + L".example/login*\",\"title\":\"Sign in " + n +
                        L"\",\"elements\":[{\"find\":{\"type\":\"id\",\"value\":\"f" + n +
                        L"\"},\"actions\":[{\"type\":\"text\",\"value\":\"value " + n + L"\"}]},{\"find\":{\"type\":\"name\","
                        L"\"value\":\"n" + n + L"\"},\"actions\":[{\"type\":\"text\",\"value\":\"other " + n + L"\"}]}]";
    if (runState)
        text += L",\"ID\":" + std::to_wstring(id) + L",\"maxRetries\":0,\"retryInterval\":1,\"startElement\":0,\"startAction\":0";
    return text + L"}";
}

// Templates 0..count-1 but `dropped`, with or without their run state as the load pass sets it.
std::wstring Store(int count, int dropped, bool runState) {
    std::wstring text = L"[";
    int id = 0;
    for (int i = 0; i < count; ++i) {
        if (i == dropped) continue;
        text += (text.size() > 1 ? L"," : L"") + Template(i, runState, ++id);
    }
    return text + L"]";
}

void SetStore(const std::wstring& text) {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    TemplateStore::View view = store.Access();
    if (view) view.WriteText(text.c_str());
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Figures {
    double plain = 1e30, merged = 1e30, mergeAlone = 1e30;
};

// Best of the rounds: the page reads `stored`, someone else may write `between`, the page writes
// `written`; the plain write of the same text is timed in the same round.
Figures Measure(IVelnorIEExt* page, const std::wstring& stored, const std::wstring& between, const std::wstring& written) {
    Figures figures;
    unique_bstr text(SysAllocStringLen(written.data(), static_cast<UINT>(written.size())));
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    for (int round = 0; round < 60; ++round) {
        SetStore(stored);
        unique_bstr read;
        page->get_Templates(read.put());
        if (!between.empty()) SetStore(between);
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        page->put_Templates(text.get());
        QueryPerformanceCounter(&end);
        figures.merged = std::min(figures.merged, Microseconds(start, end));

        SetStore(stored);
        QueryPerformanceCounter(&start);
        {
            TemplateStore::View view = store.Access();
            view.WriteText(text.get());
        }
        QueryPerformanceCounter(&end);
        figures.plain = std::min(figures.plain, Microseconds(start, end));

        // The merge of the texts alone, without the store's lock, view and copies.
        PageWrite write;
        write.base = stored;
        write.written = written;
        write.stamp = {L"https://site-3.example", 1800000000, L"tab", 1};
        MergeResult result;
        const std::wstring current = between.empty() ? stored : between;
        QueryPerformanceCounter(&start);
        MergePageWrite(write, current, nullptr, &result);
        QueryPerformanceCounter(&end);
        figures.mergeAlone = std::min(figures.mergeAlone, Microseconds(start, end));
    }
    return figures;
}

}  // namespace

int main() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComPtr<IVelnorIEExt> object;
    CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void());
    PageContext context;
    context.url = L"https://site-3.example/login";
    context.origin = OriginOfUrl(context.url);
    context.ordinal = 1;
    ComPtr<IVelnorIEExt> page;
    CPageBinding::Create(static_cast<CVelnorIEExt*>(object.get()), context, page.put());

    printf("%-10s %-14s %12s %12s %8s %14s %12s\n", "templates", "write", "plain us", "merged us", "ratio", "merge alone us",
           "characters");
    for (const int count : {100, 1000}) {
        struct Case {
            const char* name;
            std::wstring stored, between, written;
        };
        const std::wstring first = Store(count, -1, false);
        const std::wstring again = Store(count, -1, true);
        const Case cases[] = {
            {"first", first, L"", Store(count, 3, true)},
            {"again", again, L"", Store(count, 3, true)},
            {"others wrote", first, first.substr(0, first.size() - 1) + L"," + Template(count, false, 0) + L"]",
             Store(count, 3, true)},
        };
        for (const Case& c : cases) {
            const Figures figures = Measure(page.get(), c.stored, c.between, c.written);
            printf("%-10d %-14s %12.1f %12.1f %8.2f %14.1f %12u\n", count, c.name, figures.plain, figures.merged,
                   figures.merged / figures.plain, figures.mergeAlone, static_cast<unsigned>(c.written.size()));
        }
    }
    SetStore(L"");
    CoUninitialize();
    return 0;
}
