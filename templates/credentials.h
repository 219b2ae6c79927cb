// Credential records for HTTP Basic authentication: the text the content script hands over
// (records joined by LF, each "URL pattern CR user name CR password"), and the one builder of
// records from a template (its httpBasicAuth actions), which Basic authentication under template
// isolation and the store tool's "match" both use.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct CredentialRecord {
    std::wstring pattern;
    std::wstring userName;
    std::wstring password;

    bool operator==(const CredentialRecord& other) const {
        return pattern == other.pattern && userName == other.userName && password == other.password;
    }
};

// The records of a credentials text that have the three fields, in order (further fields are
// ignored). *recordCount, when given, receives the number of non-empty records of any size.
std::vector<CredentialRecord> ParseCredentials(const std::wstring& text, size_t* recordCount = nullptr);

// The records the content script makes of a template whose url the script turns into `url`:
// one (url, username, password) for each httpBasicAuth action, in order; a field that is
// missing reads "undefined", as in script.
std::vector<CredentialRecord> BasicRecordsOf(const nlohmann::json& templateValue, const std::wstring& url);
