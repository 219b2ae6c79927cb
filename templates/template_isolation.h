// Template isolation: with the setting TemplateIsolation on, a page reads and writes only the
// templates whose url matches the page's own address (the content script's masked pattern
// rule) and whose fixed part holds the page's whole origin (patterns.h), and Basic authentication answers from the store's own templates, not from what a
// page hands over. Pages of the trusted portals (TrustedPortals, patterns.h) keep the whole
// store. Shared by the extension object and the template store tool ("match" shows what a page
// would read).
#pragma once

#include "templates/credentials.h"
#include "templates/template_text.h"

#include <string>
#include <string_view>
#include <vector>

// The positions (from 0) of the templates a page at `pageUrl` reads, in store order.
std::vector<size_t> PageTemplateIndexes(const ParsedTemplates& parsed, const std::wstring& pageUrl);

// The JSON array of the templates a page at `pageUrl` reads, in store order, each as it stands
// in the store; empty for an empty store text. `records` (when given) receives their Basic
// records.
std::wstring TemplatesForPage(const ParsedTemplates& parsed, std::wstring_view text, const std::wstring& pageUrl,
                              std::vector<CredentialRecord>* records = nullptr);

// The share of the store a page's write may add under isolation: templates it was not given (its
// own, new or changed), in UTF-16 code units, about 3% of the store.
constexpr size_t kPageWriteAllowance = 16384;

// What the store holds after a page at `pageUrl` writes `written` under isolation: the stored
// templates for that page are replaced by the written ones for that page, at the place of the
// first of them (or at the end); every other template stays as it stands. A written template
// whose pattern could match another site's pages ("*", "https://site*") is dropped; so is a copy
// of a given template written back more than once, a launched one the store no longer holds, a given template whose run state moved away
// from done (retries up or to -1, the next step back), and what the page adds beyond
// kPageWriteAllowance. `*leftOut` counts the written entries that are dropped. False (nothing to write) when the store's text or the written text is not a JSON
// array.
bool MergePageWrite(const ParsedTemplates& stored, std::wstring_view storedText, std::wstring_view written,
                    const std::wstring& pageUrl, std::wstring& merged, size_t* leftOut);

// The Basic records of every template of the store, in store order.
std::vector<CredentialRecord> StoredBasicRecords(const ParsedTemplates& parsed);
