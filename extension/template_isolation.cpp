#include "extension/template_isolation.h"

#include "extension/template_format.h"

#include <windows.h>

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

bool IsJsonSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

// The text ranges of the entries of a top-level JSON array (the text is known to be one), so
// that each can be copied as it stands.
std::vector<std::pair<size_t, size_t>> EntrySpans(std::wstring_view text) {
    std::vector<std::pair<size_t, size_t>> spans;
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t depth = 0, start = kNone;
    bool inString = false;
    auto close = [&](size_t end) {
        while (end > start && IsJsonSpace(text[end - 1])) --end;
        spans.emplace_back(start, end - start);
        start = kNone;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (inString) {
            if (c == L'\\') ++i;
            else if (c == L'"') inString = false;
            continue;
        }
        if (IsJsonSpace(c)) continue;
        if (c == L']' || c == L'}') {
            if (--depth == 0 && start != kNone) close(i);
            continue;
        }
        if (c == L',' && depth == 1) {
            close(i);
            continue;
        }
        if (depth == 1 && start == kNone) start = i;
        if (c == L'"') inString = true;
        if (c == L'[' || c == L'{') ++depth;
    }
    return spans;
}

// The httpBasicAuth records the content script makes of a template: "url CR username CR
// password" for each such action of a well-formed template.
void BasicRecordsOf(const json& value, const std::wstring& url, std::vector<CredentialRecord>& records) {
    if (!value.contains("elements") || !value["elements"].is_array()) return;
    for (const json& step : value["elements"]) {
        if (!step.is_object() || !step.contains("actions") || !step["actions"].is_array()) continue;
        for (const json& action : step["actions"])
            if (action.is_object() && action.contains("type") && action["type"] == "httpBasicAuth")
                records.push_back({url, ScriptField(action, "username"), ScriptField(action, "password")});
    }
}

bool MatchesPage(const StoredTemplate& entry, const std::wstring& pageUrl) {
    return entry.hasUrl && MaskedPatternMatches(entry.url, pageUrl);
}

// Whether a url pattern can match no page outside the page's own origin: no "*", or a fixed part
// that starts with the origin and the "/" after it. ("*" or "https://site*" also match other
// sites.)
bool ConfinedToOrigin(const std::wstring& pattern, const std::wstring& pageUrl) {
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return true;
    const size_t schemeEnd = pageUrl.find(L"://");
    if (schemeEnd == std::wstring::npos) return false;
    size_t originEnd = pageUrl.find_first_of(L"/?#", schemeEnd + 3);
    if (originEnd == std::wstring::npos) originEnd = pageUrl.size();
    const std::wstring origin = pageUrl.substr(0, originEnd) + L"/";
    return star >= origin.size() && pattern.compare(0, origin.size(), origin) == 0;
}

// A template as it is apart from the fields the content script keeps its run state in.
json WithoutRunState(std::wstring_view text) {
    json value = json::parse(WideToUtf8(std::wstring(text)));
    if (value.is_object())
        for (const char* field : {"ID", "maxRetries", "retryInterval", "startElement", "startAction"}) value.erase(field);
    return value;
}

struct UrlParts {
    std::wstring scheme, host, port, path;
};

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return text;
}

bool SplitUrl(const std::wstring& url, UrlParts& parts) {
    const size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring::npos || schemeEnd == 0) return false;
    parts.scheme = LowerAscii(url.substr(0, schemeEnd));
    const size_t authorityStart = schemeEnd + 3;
    size_t authorityEnd = url.find_first_of(L"/?#", authorityStart);
    if (authorityEnd == std::wstring::npos) authorityEnd = url.size();
    std::wstring authority = url.substr(authorityStart, authorityEnd - authorityStart);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    size_t colon = authority.rfind(L':');
    if (colon != std::wstring::npos && authority.find(L']', colon) != std::wstring::npos) colon = std::wstring::npos;
    parts.host = LowerAscii(authority.substr(0, colon));
    parts.port = colon == std::wstring::npos ? std::wstring() : authority.substr(colon + 1);
    if (parts.port.empty()) parts.port = parts.scheme == L"https" ? L"443" : parts.scheme == L"http" ? L"80" : L"";
    parts.path = url.substr(authorityEnd);
    if (parts.path.empty() || parts.path[0] != L'/') parts.path.insert(0, L"/");
    return !parts.host.empty();
}

}  // namespace

std::shared_ptr<const ParsedTemplates> ParseTemplates(std::wstring_view text) {
    try {
        auto parsed = std::make_shared<ParsedTemplates>();
        if (text.empty()) {
            parsed->valid = true;
            return parsed;
        }
        const json document = json::parse(WideToUtf8(std::wstring(text)));
        if (!document.is_array()) return parsed;
        const std::vector<std::pair<size_t, size_t>> spans = EntrySpans(text);
        if (spans.size() != document.size()) return parsed;
        parsed->templates.resize(spans.size());
        for (size_t i = 0; i < spans.size(); ++i) {
            StoredTemplate& entry = parsed->templates[i];
            entry.start = spans[i].first;
            entry.length = spans[i].second;
            const json& value = document[i];
            // What the content script passes over (no object, no url) never goes to a page.
            if (!value.is_object() || !value.contains("url") || value["url"].is_null()) continue;
            entry.hasUrl = true;
            entry.url = ScriptString(value["url"]);
            BasicRecordsOf(value, entry.url, entry.basicRecords);
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

std::vector<size_t> PageTemplateIndexes(const ParsedTemplates& parsed, const std::wstring& pageUrl) {
    std::vector<size_t> indexes;
    for (size_t i = 0; i < parsed.templates.size(); ++i)
        if (MatchesPage(parsed.templates[i], pageUrl)) indexes.push_back(i);
    return indexes;
}

std::wstring TemplatesForPage(const ParsedTemplates& parsed, std::wstring_view text, const std::wstring& pageUrl,
                              std::vector<CredentialRecord>* records) {
    if (!parsed.valid) return L"[]";
    if (text.empty()) return std::wstring();
    std::wstring out = L"[";
    for (const StoredTemplate& entry : parsed.templates) {
        if (!MatchesPage(entry, pageUrl)) continue;
        if (out.size() > 1) out += L',';
        out.append(text.data() + entry.start, entry.length);
        if (records) records->insert(records->end(), entry.basicRecords.begin(), entry.basicRecords.end());
    }
    out += L']';
    return out;
}

bool MergePageWrite(const ParsedTemplates& stored, std::wstring_view storedText, std::wstring_view written,
                    const std::wstring& pageUrl, std::wstring& merged, size_t* leftOut) {
    *leftOut = 0;
    try {
    const std::shared_ptr<const ParsedTemplates> writtenTemplates = ParseTemplates(written);
    if (!stored.valid || !writtenTemplates->valid) return false;
    // A written template is kept when it is for this page and can reach no other site; one that
    // could (a "*" pattern a page was given) is kept only as it was given, apart from its run
    // state: a page can drop such a template, as running it does, but never change it.
    std::vector<json> broadGiven;
    for (const StoredTemplate& entry : stored.templates)
        if (MatchesPage(entry, pageUrl) && !ConfinedToOrigin(entry.url, pageUrl))
            broadGiven.push_back(WithoutRunState(storedText.substr(entry.start, entry.length)));
    std::vector<std::wstring_view> kept;
    for (const StoredTemplate& entry : writtenTemplates->templates) {
        const std::wstring_view text(written.data() + entry.start, entry.length);
        bool keep = MatchesPage(entry, pageUrl);
        if (keep && !ConfinedToOrigin(entry.url, pageUrl)) {
            const json value = WithoutRunState(text);
            keep = std::find(broadGiven.begin(), broadGiven.end(), value) != broadGiven.end();
        }
        if (keep)
            kept.push_back(text);
        else
            ++*leftOut;
    }
    merged = L"[";
    auto append = [&](std::wstring_view entry) {
        if (merged.size() > 1) merged += L',';
        merged.append(entry.data(), entry.size());
    };
    bool placed = false;
    for (const StoredTemplate& entry : stored.templates) {
        if (MatchesPage(entry, pageUrl)) {
            if (!placed) {
                for (std::wstring_view text : kept) append(text);
                placed = true;
            }
            continue;
        }
        append(storedText.substr(entry.start, entry.length));
    }
    if (!placed)
        for (std::wstring_view text : kept) append(text);
    merged += L']';
    return true;
    } catch (...) {
        return false;   // out of memory
    }
}

std::vector<CredentialRecord> StoredBasicRecords(const ParsedTemplates& parsed) {
    std::vector<CredentialRecord> records;
    for (const StoredTemplate& entry : parsed.templates)
        records.insert(records.end(), entry.basicRecords.begin(), entry.basicRecords.end());
    return records;
}

bool IsTrustedPortal(const std::vector<std::wstring>& portals, const std::wstring& url) {
    UrlParts page;
    if (!SplitUrl(url, page)) return false;
    for (const std::wstring& portal : portals) {
        UrlParts prefix;
        if (!SplitUrl(portal, prefix)) continue;
        if (prefix.scheme == page.scheme && prefix.host == page.host && prefix.port == page.port &&
            page.path.compare(0, prefix.path.size(), prefix.path) == 0)
            return true;
    }
    return false;
}

bool PatternEndsInsideHost(const std::wstring& pattern) {
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return false;
    const std::wstring prefix = pattern.substr(0, star);
    const size_t schemeEnd = prefix.find(L"://");
    if (schemeEnd == std::wstring::npos) return false;
    const std::wstring authority = prefix.substr(schemeEnd + 3);
    return !authority.empty() && authority.find_first_of(L"/?#") == std::wstring::npos;
}
