// Template isolation: with the setting TemplateIsolation on, a page reads and writes only the
// templates whose url matches the page's own address (the content script's masked pattern
// rule), and Basic authentication answers from the store's own templates, not from what a
// page hands over. Pages of the trusted portals (TrustedPortals) keep the whole store. Shared by
// the extension object and the template store tool ("match" shows what a page would read).
#pragma once

#include "extension/auth_credentials.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One template of a store text as it stands there.
struct StoredTemplate {
    size_t start = 0, length = 0;   // its text in the store text, byte for byte
    bool hasUrl = false;            // an object with a url (others never go to a page)
    std::wstring url;               // the url as the content script turns it into a string
    std::vector<CredentialRecord> basicRecords;   // its httpBasicAuth records, pattern = url
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

// The positions (from 0) of the templates a page at `pageUrl` reads, in store order.
std::vector<size_t> PageTemplateIndexes(const ParsedTemplates& parsed, const std::wstring& pageUrl);

// The JSON array of the templates a page at `pageUrl` reads, in store order, each as it stands
// in the store; empty for an empty store text. `records` (when given) receives their Basic
// records.
std::wstring TemplatesForPage(const ParsedTemplates& parsed, std::wstring_view text, const std::wstring& pageUrl,
                              std::vector<CredentialRecord>* records = nullptr);

// What the store holds after a page at `pageUrl` writes `written` under isolation: the stored
// templates for that page are replaced by the written ones for that page, at the place of the
// first of them (or at the end); every other template stays as it stands. A written template
// whose pattern could match another site's pages ("*", "https://site*") is kept only if the page
// was given it and changed nothing but its run state. `*leftOut` counts the written entries that
// are dropped. False (nothing to write) when the store's text or the written text is not a JSON
// array.
bool MergePageWrite(const ParsedTemplates& stored, std::wstring_view storedText, std::wstring_view written,
                    const std::wstring& pageUrl, std::wstring& merged, size_t* leftOut);

// The Basic records of every template of the store, in store order.
std::vector<CredentialRecord> StoredBasicRecords(const ParsedTemplates& parsed);

// Whether `url` belongs to one of the trusted portals: each a URL prefix, compared by scheme,
// host and port exactly (letter case aside; default ports filled in), then by path prefix.
bool IsTrustedPortal(const std::vector<std::wstring>& portals, const std::wstring& url);

// A url pattern whose text before its first "*" ends inside the host part
// ("https://bank.example.com*" also matches "https://bank.example.com.evil.net/").
bool PatternEndsInsideHost(const std::wstring& pattern);
