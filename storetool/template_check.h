// The rules of the template format (content/template.schema.json) and of the masked pattern,
// for the template store tool.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// One message per problem of a template text given as UTF-8; empty when the text is a valid
// template array that fits the store.
std::vector<std::string> CheckTemplateText(const std::string& utf8);

// The content script's masked pattern rule: equal texts match; otherwise only the part of the
// pattern before its first "*" counts (empty: everything matches), case-sensitively.
bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text);

// A JSON value as JavaScript's "" + value turns it into a string.
std::wstring ScriptString(const nlohmann::json& value);
std::wstring ScriptString(const nlohmann::json& value, int depth);

std::wstring Utf8ToWide(const std::string& utf8, bool* valid = nullptr);
std::string WideToUtf8(const std::wstring& wide);
