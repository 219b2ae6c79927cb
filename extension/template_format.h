// What the DLL and the template store tool share of the template format: the content script's
// masked pattern rule, JavaScript's way of turning a JSON value into a string, and UTF-8.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

// The content script's masked pattern rule: equal texts match; otherwise only the part of the
// pattern before its first "*" counts (empty: everything matches), case-sensitively.
bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text);

// A JSON value as JavaScript's "" + value turns it into a string.
std::wstring ScriptString(const nlohmann::json& value);
std::wstring ScriptString(const nlohmann::json& value, int depth);
// object[name] as "" + object[name] gives it: "undefined" when it is missing.
std::wstring ScriptField(const nlohmann::json& object, const char* name);

std::wstring Utf8ToWide(const std::string& utf8, bool* valid = nullptr);
std::string WideToUtf8(const std::wstring& wide);
