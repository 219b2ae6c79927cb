#include "templates/template_isolation.h"

#include "templates/patterns.h"
#include "templates/template_expiry.h"

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

bool MatchesPage(const StoredTemplate& entry, const std::wstring& pageUrl) {
    return entry.hasUrl && MaskedPatternMatches(entry.url, pageUrl);
}

// A template as it is apart from the fields the content script keeps its run state in.
json WithoutRunState(std::wstring_view text) {
    json value = ParseTemplateJson(text);
    if (value.is_object())
        for (const char* field : {"ID", "maxRetries", "retryInterval", "startElement", "startAction"}) value.erase(field);
    return value;
}

}  // namespace

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
    // Checked at each use: the parsed text is cached, and a template expires while it stands.
    const long long now = SecondsSince1970();
    for (const StoredTemplate& entry : parsed.templates)
        if (!HasExpired(entry.expires, now))
            records.insert(records.end(), entry.basicRecords.begin(), entry.basicRecords.end());
    return records;
}
