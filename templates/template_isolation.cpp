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

}  // namespace

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

bool PageOwnsEntry(const json& entry, const std::wstring& pageUrl) {
    return entry.is_object() && entry.contains("url") && !entry["url"].is_null() &&
           IsolatedPatternReaches(ScriptString(entry["url"]), pageUrl);
}

std::vector<size_t> PageTemplateIndexes(const ParsedTemplates& parsed, const std::wstring& pageUrl) {
    std::vector<size_t> indexes;
    for (size_t i = 0; i < parsed.templates.size(); ++i)
        if (MatchesPage(parsed.templates[i], pageUrl)) indexes.push_back(i);
    return indexes;
}

namespace {

// The recorder record goes to every page while it lasts: it holds no secret, and every page that
// shows a login form is to draft it. Only the store tool writes it (store_merge.h).
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

std::vector<CredentialRecord> StoredBasicRecords(const ParsedTemplates& parsed) {
    std::vector<CredentialRecord> records;
    // Checked at each use: the parsed text is cached, and a template expires while it stands.
    const long long now = SecondsSince1970();
    for (const StoredTemplate& entry : parsed.templates)
        if (!HasExpired(entry.expires, now))
            records.insert(records.end(), entry.basicRecords.begin(), entry.basicRecords.end());
    return records;
}
