// Template text: a store text parsed into its templates, with each one's place in the text and
// what the extension and the store tool need to know of it without parsing it again.
#pragma once

#include "templates/credentials.h"
#include "templates/json_text.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One template of a store text as it stands there.
struct StoredTemplate {
    size_t start = 0, length = 0;   // its text in the store text, byte for byte
    bool hasUrl = false;            // an object with a url (others never go to a page)
    std::wstring url;               // the url as the content script turns it into a string
    std::vector<CredentialRecord> basicRecords;   // its httpBasicAuth records, pattern = url
    double expires = 0;             // its "expires" (template_expiry.h); 0: never
    bool recorder = false;          // the store tool's recorder record (store_records.h)
    bool launched = false;          // put by the store tool's launch ("launchId")
    std::wstring stampOrigin;       // the origin of the page that added or changed it (store_merge.h)
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
