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

// Whether an entry is a page's own under isolation: an object whose url reaches the page and
// no page outside its origin.
bool PageOwnsEntry(const nlohmann::json& entry, const std::wstring& pageUrl);

// Whether `written` is `given` with its run state moved only toward done: retries counted down
// (never to "no limit", -1), or as many retries and the next step not moved back (a failed check
// starts again at the first step, but only with one retry less). A page that could reset or
// raise them would make its template run for ever; one given "no limit" runs for ever anyway.
bool MovesTowardDone(const nlohmann::json& given, const nlohmann::json& written);

// The Basic records of every template of the store, in store order.
std::vector<CredentialRecord> StoredBasicRecords(const ParsedTemplates& parsed);
