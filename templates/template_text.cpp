#include "templates/template_text.h"

#include "common/text.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

using nlohmann::json;

json ParseTemplateJson(const std::string& utf8) { return json::parse(utf8); }

json ParseTemplateJson(std::wstring_view text) { return ParseTemplateJson(WideToUtf8(std::wstring(text))); }

std::string WriteTemplateJson(const json& value, bool indented) { return indented ? value.dump(2) : value.dump(); }

std::wstring ScriptString(const json& value) { return ScriptString(value, 0); }

std::wstring ScriptField(const json& object, const char* name) {
    if (!object.is_object() || !object.contains(name)) return L"undefined";
    return ScriptString(object[name]);
}

std::wstring ScriptString(const json& value, int depth) {
    if (value.is_string()) return Utf8ToWide(value.get<std::string>());
    if (value.is_null()) return L"null";
    if (value.is_boolean()) return value.get<bool>() ? L"true" : L"false";
    if (value.is_number_integer()) return std::to_wstring(value.get<long long>());
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::floor(d) == d && std::fabs(d) < 1e15) return std::to_wstring(static_cast<long long>(d));
        return Utf8ToWide(value.dump());
    }
    if (value.is_array()) {
        std::wstring joined;
        // Nested arrays join as script joins them; past any sane depth, what is deeper is left
        // out rather than exhausting the stack.
        if (depth > 200) return joined;
        for (size_t i = 0; i < value.size(); ++i)
            joined += (i ? L"," : L"") + (value[i].is_null() ? L"" : ScriptString(value[i], depth + 1));
        return joined;
    }
    return L"[object Object]";
}

namespace {

template <typename Char>
bool IsJsonSpace(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Walks a text as JSON's structure sees it, without parsing: strings (with their escapes) are
// stepped over, and `visit(position, character, depth)` is called for every other character
// that is not white space, with the depth of brackets and braces open before it. Brackets that
// close more than were opened are passed over.
template <typename Char, typename Visit>
void ScanJsonStructure(std::basic_string_view<Char> text, Visit visit) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const Char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (IsJsonSpace(c)) continue;
        if ((c == ']' || c == '}')) {
            if (depth == 0) continue;
            --depth;
        }
        visit(i, c, depth);
        if (c == '"') inString = true;
        if (c == '[' || c == '{') ++depth;
    }
}

}  // namespace

size_t NestingDepth(std::string_view text) {
    size_t deepest = 0;
    ScanJsonStructure(text, [&](size_t, char c, size_t depth) {
        if (c == '[' || c == '{') deepest = std::max(deepest, depth + 1);
    });
    return deepest;
}

std::vector<std::pair<size_t, size_t>> ArrayEntrySpans(std::wstring_view text) {
    std::vector<std::pair<size_t, size_t>> spans;
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t start = kNone;
    auto close = [&](size_t end) {
        while (end > start && IsJsonSpace(text[end - 1])) --end;
        spans.emplace_back(start, end - start);
        start = kNone;
    };
    ScanJsonStructure(text, [&](size_t i, wchar_t c, size_t depth) {
        // `depth` is what is open before c (for a closing bracket: after it closes).
        if (c == L']' || c == L'}') {
            if (depth == 0 && start != kNone) close(i);
            return;
        }
        if (c == L',' && depth == 1) {
            close(i);
            return;
        }
        if (depth == 1 && start == kNone) start = i;
    });
    return spans;
}

std::shared_ptr<const ParsedTemplates> ParseTemplates(std::wstring_view text) {
    try {
        auto parsed = std::make_shared<ParsedTemplates>();
        if (text.empty()) {
            parsed->valid = true;
            return parsed;
        }
        const json document = ParseTemplateJson(text);
        if (!document.is_array()) return parsed;
        const std::vector<std::pair<size_t, size_t>> spans = ArrayEntrySpans(text);
        if (spans.size() != document.size()) return parsed;
        parsed->templates.resize(spans.size());
        for (size_t i = 0; i < spans.size(); ++i) {
            StoredTemplate& entry = parsed->templates[i];
            entry.start = spans[i].first;
            entry.length = spans[i].second;
            const json& value = document[i];
            if (RecordKindOf(value) == RecordKind::kRecorder) {
                entry.recorder = true;
                entry.expires = TemplateExpires(value);
                continue;
            }
            // What the content script passes over (no object, no url) never goes to a page.
            if (!value.is_object() || !value.contains("url") || value["url"].is_null()) continue;
            entry.hasUrl = true;
            entry.url = ScriptString(value["url"]);
            entry.basicRecords = BasicRecordsOf(value, entry.url);
            entry.expires = TemplateExpires(value);
            entry.launched = value.contains("launchId");
        }
        parsed->valid = true;
        return parsed;
    } catch (...) {
        // Not JSON, or out of memory: not a template array.
        return std::make_shared<ParsedTemplates>();
    }
}

namespace {

// The last text parsed in this process and what it gave; lives as long as the process.
struct ParseCache {
    SRWLOCK lock = SRWLOCK_INIT;
    std::wstring text;
    std::shared_ptr<const ParsedTemplates> parsed;
};

class SrwGuard {
public:
    SrwGuard(SRWLOCK* lock, bool exclusive) : m_lock(lock), m_exclusive(exclusive) {
        if (exclusive) AcquireSRWLockExclusive(lock);
        else AcquireSRWLockShared(lock);
    }
    ~SrwGuard() {
        if (m_exclusive) ReleaseSRWLockExclusive(m_lock);
        else ReleaseSRWLockShared(m_lock);
    }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

private:
    SRWLOCK* m_lock;
    bool m_exclusive;
};

}  // namespace

std::shared_ptr<const ParsedTemplates> ParseTemplatesCached(std::wstring_view text) {
    try {
        static ParseCache* const cache = new ParseCache;
        {
            SrwGuard guard(&cache->lock, false);
            if (cache->parsed && cache->text == text) return cache->parsed;
        }
        std::shared_ptr<const ParsedTemplates> parsed = ParseTemplates(text);
        SrwGuard guard(&cache->lock, true);
        cache->parsed.reset();
        cache->text.assign(text.data(), text.size());
        cache->parsed = parsed;
        return parsed;
    } catch (...) {
        return ParseTemplates(text);
    }
}
