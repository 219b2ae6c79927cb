#include "templates/template_isolation.h"

#include "templates/patterns.h"

#include <utility>

namespace {

// A page is given, and may write, only templates that can reach no page outside its origin: a
// "*" in a pattern is no glob, so "https://*.corp.example/*" or "http*" would reach every site.
bool MatchesPage(const StoredTemplate& entry, const std::wstring& pageUrl) {
    return entry.hasUrl && IsolatedPatternReaches(entry.url, pageUrl);
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
    std::vector<std::wstring_view> kept;
    for (const StoredTemplate& entry : writtenTemplates->templates) {
        const std::wstring_view text(written.data() + entry.start, entry.length);
        if (MatchesPage(entry, pageUrl))
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
