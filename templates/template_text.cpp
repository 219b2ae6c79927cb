#include "templates/template_text.h"

#include "common/text.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

using nlohmann::json;

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
            const EntryStamp stamp = StampOf(value);
            if (stamp.present) entry.stampOrigin = Utf8ToWide(stamp.origin);
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
