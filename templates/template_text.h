// Template text: the one way the DLL and the store tool read and write the JSON of the template
// format, JavaScript's way of turning a JSON value into a string (as the content script sees
// the fields), the structure of a text scanned without parsing it, and a store text parsed
// into its templates with each one's place in the text.
#pragma once

#include "templates/credentials.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Parses JSON text; throws nlohmann::json::parse_error (with the byte where it stopped) when it
// is none, and what the string and container types throw.
nlohmann::json ParseTemplateJson(const std::string& utf8);
nlohmann::json ParseTemplateJson(std::wstring_view text);
// The text of a value: compact, or indented by two (the caller keeps the nesting within
// kMaxWriteDepth: writing recurses).
std::string WriteTemplateJson(const nlohmann::json& value, bool indented);
constexpr size_t kMaxWriteDepth = 200;

// A JSON value as JavaScript's "" + value turns it into a string.
std::wstring ScriptString(const nlohmann::json& value);
std::wstring ScriptString(const nlohmann::json& value, int depth);
// object[name] as "" + object[name] gives it: "undefined" when it is missing.
std::wstring ScriptField(const nlohmann::json& object, const char* name);

// The deepest nesting of arrays and objects in a text (strings skipped), whether or not it is
// valid JSON; counted without recursion.
size_t NestingDepth(std::string_view text);

// The text ranges (start, length) of the entries of a top-level JSON array, each without the
// white space around it, so that an entry can be copied as it stands. Meant for a text known to
// be an array.
std::vector<std::pair<size_t, size_t>> ArrayEntrySpans(std::wstring_view text);

// One template of a store text as it stands there.
struct StoredTemplate {
    size_t start = 0, length = 0;   // its text in the store text, byte for byte
    bool hasUrl = false;            // an object with a url (others never go to a page)
    std::wstring url;               // the url as the content script turns it into a string
    std::vector<CredentialRecord> basicRecords;   // its httpBasicAuth records, pattern = url
    double expires = 0;             // its "expires" (template_expiry.h); 0: never
    bool recorder = false;          // the store tool's recorder record (store_records.h)
    bool launched = false;          // put by the store tool's launch ("launchId")
};

struct ParsedTemplates {
    bool valid = false;             // a JSON array (an empty text counts as an empty array)
    std::vector<StoredTemplate> templates;
};

// Parses a store text. A text that is not a JSON array is not valid (a page under isolation then
// reads an empty array and cannot write). Never throws.
std::shared_ptr<const ParsedTemplates> ParseTemplates(std::wstring_view text);

// The same, remembered for the last text parsed in this process: the store rarely changes, and
// every page that loads reads it. Never throws.
std::shared_ptr<const ParsedTemplates> ParseTemplatesCached(std::wstring_view text);
