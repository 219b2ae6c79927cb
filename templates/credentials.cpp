#include "templates/credentials.h"

#include "common/text.h"
#include "templates/json_text.h"

using nlohmann::json;

std::vector<CredentialRecord> ParseCredentials(const std::wstring& text, size_t* recordCount) {
    const std::vector<std::wstring> records = SplitString(text, L'\n', true);
    if (recordCount) *recordCount = records.size();
    std::vector<CredentialRecord> parsed;
    for (const std::wstring& record : records) {
        std::vector<std::wstring> fields = SplitString(record, L'\r', false);
        if (fields.size() < 3) continue;
        parsed.push_back({std::move(fields[0]), std::move(fields[1]), std::move(fields[2])});
    }
    return parsed;
}

std::vector<CredentialRecord> BasicRecordsOf(const json& value, const std::wstring& url) {
    std::vector<CredentialRecord> records;
    if (!value.is_object() || !value.contains("elements") || !value["elements"].is_array()) return records;
    for (const json& step : value["elements"]) {
        if (!step.is_object() || !step.contains("actions") || !step["actions"].is_array()) continue;
        for (const json& action : step["actions"])
            if (action.is_object() && action.contains("type") && action["type"] == "httpBasicAuth")
                records.push_back({url, ScriptField(action, "username"), ScriptField(action, "password")});
    }
    return records;
}
