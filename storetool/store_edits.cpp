#include "storetool/store_edits.h"

#include "templates/store_records.h"
#include "templates/template_expiry.h"
#include "templates/template_text.h"

#include <windows.h>

#include <cwchar>
#include <vector>

std::wstring NewStoreId() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    wchar_t id[64];
    _snwprintf(id, ARRAYSIZE(id), L"%lx-%llx", GetCurrentProcessId(), static_cast<unsigned long long>(counter.QuadPart));
    id[ARRAYSIZE(id) - 1] = L'\0';
    return id;
}

bool RewriteStore(const TemplateStore& store, const std::function<bool(std::wstring_view entry)>& leaveOut,
                  const SecretText* add, std::string* failure) {
    TemplateStore::View view = store.Access();
    if (!view) {
        *failure = "the store could not be written";
        return false;
    }
    const std::wstring_view stored(view.Text(), view.TextLength());
    std::vector<size_t> dropped;
    const std::vector<std::pair<size_t, size_t>> spans = ArrayEntrySpans(stored);
    for (size_t i = 0; i < spans.size(); ++i)
        if (leaveOut(stored.substr(spans[i].first, spans[i].second))) dropped.push_back(i);
    std::vector<const SecretText*> appended;
    if (add) appended.push_back(add);
    SecretText updated;
    if (!EditStoreText(stored, dropped, appended, SecondsSince1970(), updated)) {
        *failure = "the store holds text that is no template array (see VelnorSSOStore get)";
        return false;
    }
    if (updated.size() > kMaxTemplateTextLength || !view.WriteText(updated.c_str())) {
        *failure = "the store has no room for it (at most " + std::to_string(kMaxTemplateTextLength) + " characters)";
        return false;
    }
    return true;
}

bool RemoveFromStore(const TemplateStore& store, const std::wstring& id) {
    const std::wstring quoted = L"\"" + id + L"\"";
    std::string failure;
    return RewriteStore(
        store, [&](std::wstring_view entry) { return entry.find(quoted) != std::wstring_view::npos; }, nullptr, &failure);
}
