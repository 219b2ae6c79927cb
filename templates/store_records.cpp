#include "templates/store_records.h"

#include "common/text.h"
#include "templates/json_text.h"

#include <algorithm>

using nlohmann::json;

namespace {

bool IsStringField(const json& entry, const char* name) { return entry.contains(name) && entry[name].is_string(); }

std::string StringField(const json& entry, const char* name) {
    return IsStringField(entry, name) ? entry[name].get<std::string>() : std::string();
}

long long NumberField(const json& entry, const char* name) {
    return entry.contains(name) && entry[name].is_number() ? static_cast<long long>(entry[name].get<double>()) : 0;
}

// What a page makes of a record's time: a number, or none at all.
bool HasTime(const json& entry, const char* name) { return entry.contains(name) && entry[name].is_number(); }

constexpr std::wstring_view kElementsMember = L"\"elements\"";

}  // namespace

RecordKind RecordKindOf(const json& entry) {
    if (!entry.is_object() || entry.contains("elements")) return RecordKind::kNone;
    if (IsStringField(entry, "outcome")) return RecordKind::kOutcome;
    if (IsStringField(entry, "recorder")) return RecordKind::kRecorder;
    if (IsStringField(entry, "draft")) return RecordKind::kDraft;
    return RecordKind::kNone;
}

EntryStamp StampOf(const json& entry) {
    EntryStamp stamp;
    if (!entry.is_object() || !entry.contains("stamp") || !entry["stamp"].is_object()) return stamp;
    const json& value = entry["stamp"];
    if (!IsStringField(value, "origin") || !HasTime(value, "at")) return stamp;
    stamp.present = true;
    stamp.origin = StringField(value, "origin");
    stamp.at = NumberField(value, "at");
    stamp.tab = StringField(value, "tab");
    stamp.page = NumberField(value, "page");
    return stamp;
}

bool IsStaleRecord(const json& entry, long long now) {
    switch (RecordKindOf(entry)) {
        case RecordKind::kOutcome:
        case RecordKind::kDraft: {
            const EntryStamp stamp = StampOf(entry);
            if (stamp.present) return stamp.at + kRecordLifetime <= now;
            return !HasTime(entry, "at") || entry["at"].get<double>() + kRecordLifetime <= static_cast<double>(now);
        }
        case RecordKind::kRecorder:
            return !HasTime(entry, "expires") || entry["expires"].get<double>() <= static_cast<double>(now);
        default:
            return false;
    }
}

std::vector<StoreRecord> ReadStoreRecords(std::wstring_view text) {
    std::vector<StoreRecord> records;
    const std::vector<std::pair<size_t, size_t>> spans = ArrayEntrySpans(text);
    for (size_t i = 0; i < spans.size(); ++i) {
        const std::wstring_view entry = text.substr(spans[i].first, spans[i].second);
        if (entry.empty() || entry.front() != L'{' || entry.find(kElementsMember) != std::wstring_view::npos) continue;
        try {
            json value = ParseTemplateJson(entry);
            const RecordKind kind = RecordKindOf(value);
            if (kind != RecordKind::kNone) records.push_back({i, kind, std::move(value)});
        } catch (const json::exception&) {
            // Not an entry of its own (the text is no array): nothing to read.
        }
    }
    return records;
}

bool EditStoreText(std::wstring_view stored, const std::vector<size_t>& leaveOut,
                   const std::vector<const SecretText*>& append, long long now, SecretText& out) {
    std::vector<TextSpan> entries;
    if (ReadJsonShape(stored, &entries) != JsonShape::kArray) return false;
    std::vector<size_t> dropped = leaveOut;
    for (const StoreRecord& record : ReadStoreRecords(stored))
        if (IsStaleRecord(record.value, now)) dropped.push_back(record.index);
    std::vector<std::pair<size_t, size_t>> spans;
    for (const TextSpan& entry : entries) spans.emplace_back(entry.start, entry.length);
    if (spans.empty()) {
        // "", "[]" or "[ ]": the entries go before the closing bracket.
        const size_t close = stored.empty() ? 0 : stored.rfind(L']');
        out.Append(stored.data(), close);
        if (stored.empty()) out.Append(L'[');
        for (size_t i = 0; i < append.size(); ++i) {
            if (i) out.Append(L',');
            out.Append(append[i]->data(), append[i]->size());
        }
        if (stored.empty()) out.Append(L']');
        else out.Append(stored.data() + close, stored.size() - close);
        return true;
    }
    // The text as it stands, but for the entries left out: each kept entry keeps the separator
    // that followed it, so that what an administrator wrote (spacing and all) comes back as it was.
    out.Append(stored.data(), spans.front().first);
    bool any = false;
    size_t last = 0;
    for (size_t i = 0; i < spans.size(); ++i) {
        if (std::find(dropped.begin(), dropped.end(), i) != dropped.end()) continue;
        // The separator that followed the kept entry before, whatever was left out after it.
        if (any) out.Append(stored.data() + spans[last].first + spans[last].second,
                            spans[last + 1].first - spans[last].first - spans[last].second);
        out.Append(stored.data() + spans[i].first, spans[i].second);
        any = true;
        last = i;
    }
    for (const SecretText* entry : append) {
        if (any) out.Append(L',');
        out.Append(entry->data(), entry->size());
        any = true;
    }
    const size_t end = spans.back().first + spans.back().second;
    out.Append(stored.data() + end, stored.size() - end);
    return true;
}

std::vector<SignOnOutcome> OutcomesOf(const std::vector<StoreRecord>& records) {
    std::vector<SignOnOutcome> outcomes;
    for (const StoreRecord& record : records) {
        if (record.kind != RecordKind::kOutcome) continue;
        SignOnOutcome outcome;
        outcome.index = record.index;
        outcome.site = StringField(record.value, "url");
        if (outcome.site.size() >= 2 && outcome.site.compare(outcome.site.size() - 2, 2, "/*") == 0)
            outcome.site.resize(outcome.site.size() - 2);
        outcome.name = StringField(record.value, "name");
        outcome.credential = StringField(record.value, "credential");
        outcome.passwordChange = StringField(record.value, "kind") == "passwordChange";
        outcome.attempt = StringField(record.value, "attempt");
        outcome.outcome = StringField(record.value, "outcome");
        outcome.how = StringField(record.value, "how");
        outcome.sent = record.value.contains("sent") && record.value["sent"] == true;
        outcome.at = NumberField(record.value, "at");
        outcome.stamp = StampOf(record.value);
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

std::vector<std::wstring> OutcomeChanges(std::wstring_view before, std::wstring_view after) {
    std::vector<std::wstring> lines;
    if (after.find(L"\"outcome\"") == std::wstring_view::npos) return lines;
    const std::vector<SignOnOutcome> old = OutcomesOf(ReadStoreRecords(before));
    for (const SignOnOutcome& outcome : OutcomesOf(ReadStoreRecords(after))) {
        const bool known = std::any_of(old.begin(), old.end(), [&](const SignOnOutcome& o) {
            return o.attempt == outcome.attempt && o.outcome == outcome.outcome && o.site == outcome.site;
        });
        if (known) continue;
        std::string line = outcome.site;
        if (!outcome.name.empty()) line += " (" + outcome.name + ")";
        line += ": " + outcome.outcome;
        if (!outcome.how.empty()) line += ", " + outcome.how;
        lines.push_back(EscapeControls(Utf8ToWide(line)));
    }
    return lines;
}

bool SiteRefusedPassword(const SignOnOutcome& outcome) {
    return outcome.outcome == kOutcomeFailed && (outcome.how == kEvidenceSeen || outcome.sent);
}

std::wstring RecorderRecordText(const std::string& id, long long expires, const std::string& name) {
    json record = {{"recorder", id}, {"expires", expires}};
    if (!name.empty()) record["name"] = name;
    return Utf8ToWide(WriteTemplateJson(record, false));
}
