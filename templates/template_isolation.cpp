#include "templates/template_isolation.h"

#include "templates/patterns.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

// A page is given, and may write, only templates that can reach no page outside its origin: a
// "*" in a pattern is no glob, so "https://*.corp.example/*" or "http*" would reach every site.
bool MatchesPage(const StoredTemplate& entry, const std::wstring& pageUrl) {
    return entry.hasUrl && IsolatedPatternReaches(entry.url, pageUrl);
}

// A template as it is apart from the fields the content script keeps its run state in.
json WithoutRunState(const json& value) {
    json core = value;
    if (core.is_object())
        for (const char* field : {"ID", "maxRetries", "retryInterval", "startElement", "startAction"}) core.erase(field);
    return core;
}

// A run-state number as the content script reads it: absent or null is its default.
bool RunNumber(const json& value, const char* field, double fallback, double& number) {
    if (!value.is_object() || !value.contains(field) || value[field].is_null()) {
        number = fallback;
        return true;
    }
    if (!value[field].is_number()) return false;
    number = value[field].get<double>();
    return true;
}

// Whether `written` is `given` with its run state moved only toward done: retries counted down
// (never to "no limit", -1), or as many retries and the next step not moved back (a failed check
// starts again at the first step, but only with one retry less). A page that could reset or
// raise them would make its template run for ever; one given "no limit" runs for ever anyway.
bool MovesTowardDone(const json& given, const json& written) {
    double givenRetries, retries, givenElement, element, givenAction, action;
    if (!RunNumber(given, "maxRetries", 0, givenRetries) || !RunNumber(written, "maxRetries", 0, retries) ||
        !RunNumber(given, "startElement", 0, givenElement) || !RunNumber(written, "startElement", 0, element) ||
        !RunNumber(given, "startAction", 0, givenAction) || !RunNumber(written, "startAction", 0, action))
        return false;
    if (givenRetries == -1) return retries == -1 || retries >= 0;
    if (retries < 0 || retries > givenRetries) return false;
    if (retries < givenRetries) return true;
    return element > givenElement || (element == givenElement && action >= givenAction);
}

}  // namespace

std::vector<size_t> PageTemplateIndexes(const ParsedTemplates& parsed, const std::wstring& pageUrl) {
    std::vector<size_t> indexes;
    for (size_t i = 0; i < parsed.templates.size(); ++i)
        if (MatchesPage(parsed.templates[i], pageUrl)) indexes.push_back(i);
    return indexes;
}

namespace {

// The recorder record goes to every page while it lasts: it holds no secret, and every page that
// shows a login form is to draft it. Only the store tool writes it (MergePageWrite).
bool IsLiveRecorder(const StoredTemplate& entry, long long now) {
    return entry.recorder && entry.expires > 0 && !HasExpired(entry.expires, now);
}

}  // namespace

std::wstring TemplatesForPage(const ParsedTemplates& parsed, std::wstring_view text, const std::wstring& pageUrl,
                              std::vector<CredentialRecord>* records) {
    if (!parsed.valid) return L"[]";
    if (text.empty()) return std::wstring();
    const long long now = SecondsSince1970();
    std::wstring out = L"[";
    for (const StoredTemplate& entry : parsed.templates) {
        if (!MatchesPage(entry, pageUrl) && !IsLiveRecorder(entry, now)) continue;
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
    // What the page was given: each may come back once, its run state moved toward done.
    struct Given {
        json value, core;
        std::wstring_view text;
        bool returned = false;
    };
    std::vector<Given> given;
    for (const StoredTemplate& entry : stored.templates) {
        if (!MatchesPage(entry, pageUrl)) continue;
        const std::wstring_view text = storedText.substr(entry.start, entry.length);
        json value = ParseTemplateJson(text);
        json core = WithoutRunState(value);
        given.push_back({std::move(value), std::move(core), text});
    }
    std::vector<std::wstring> settledAttempts;   // of the outcome records the page writes
    std::vector<std::wstring_view> kept;
    size_t added = 0;   // code units of templates the page was not given
    for (const StoredTemplate& entry : writtenTemplates->templates) {
        const std::wstring_view text(written.data() + entry.start, entry.length);
        // A page cannot arm a recorder or change one: the stored ones stay where they are. The
        // one it was given and gives back unchanged is no template left out.
        if (entry.recorder) {
            if (!std::any_of(stored.templates.begin(), stored.templates.end(), [&](const StoredTemplate& s) {
                    return s.recorder && storedText.substr(s.start, s.length) == text;
                }))
                ++*leftOut;
            continue;
        }
        bool keep = MatchesPage(entry, pageUrl);
        if (keep) {
            const json value = ParseTemplateJson(text);
            const json core = WithoutRunState(value);
            auto same = [&](const Given& g) { return g.core == core; };
            auto unreturned = std::find_if(given.begin(), given.end(), [&](const Given& g) { return !g.returned && same(g); });
            if (unreturned != given.end()) {
                keep = MovesTowardDone(unreturned->value, value);
                unreturned->returned = true;
            } else if (std::any_of(given.begin(), given.end(), same)) {
                keep = false;   // a copy of one already written back
            } else if (entry.launched) {
                // Only the store tool launches; one the store no longer holds was used by another
                // page meanwhile, and this page's copy would type its password a second time.
                keep = false;
            } else {
                // The page's own new or changed template: within its share of the store.
                keep = added + entry.length <= kPageWriteAllowance;
                if (keep) added += entry.length;
            }
        }
        if (keep) {
            kept.push_back(text);
            const json value = ParseTemplateJson(text);
            if (RecordKindOf(value) == RecordKind::kOutcome) settledAttempts.push_back(ScriptField(value, "attempt"));
        } else {
            ++*leftOut;
        }
    }
    // A record another tab or the store tool wrote after this page read the store is not the
    // page's to drop: an outcome stays until the page writes that attempt's outcome itself, a
    // draft until the store tool takes it, each no longer than its time.
    const long long now = SecondsSince1970();
    for (const Given& g : given) {
        const RecordKind kind = RecordKindOf(g.value);
        if (g.returned || kind == RecordKind::kNone || IsStaleRecord(g.value, now)) continue;
        if (kind == RecordKind::kOutcome &&
            std::find(settledAttempts.begin(), settledAttempts.end(), ScriptField(g.value, "attempt")) != settledAttempts.end())
            continue;
        kept.push_back(g.text);
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
    // Checked at each use: the parsed text is cached, and a template expires while it stands.
    const long long now = SecondsSince1970();
    for (const StoredTemplate& entry : parsed.templates)
        if (!HasExpired(entry.expires, now))
            records.insert(records.end(), entry.basicRecords.begin(), entry.basicRecords.end());
    return records;
}
