#include "storetool/store_edits.h"

#include "templates/store_records.h"
#include "templates/template_expiry.h"
#include "templates/template_text.h"

#include <windows.h>
#include <bcrypt.h>

#include <cwchar>
#include <vector>

std::wstring NewStoreId() {
    BYTE bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::wstring();
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring id;
    for (const BYTE b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 0xF];
    }
    SecureZeroMemory(bytes, sizeof(bytes));
    return id;
}

bool RewriteStore(const TemplateStore& store, const std::function<bool(std::wstring_view entry)>& leaveOut,
                  const SecretText* add, std::string* failure) {
    TemplateStore::View view = store.Access();
    if (!view || !view.locked()) {
        *failure = view ? "the store is busy (another program holds its lock)" : "the store could not be written";
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
