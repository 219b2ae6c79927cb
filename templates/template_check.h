// The checker of template texts against the template format (content/template.schema.json),
// which the store tool runs before anything reaches the store.
#pragma once

#include <string>
#include <vector>

// One message per problem of a template text given as UTF-8; empty when the text is a valid
// template array that fits the store.
std::vector<std::string> CheckTemplateText(const std::string& utf8);

// Url patterns that reach more than one site ("*" is no glob: "https://*.corp.example/*",
// "http*", "https://bank.example.com*" all match other sites' pages), one message each. Under
// template isolation the store tool reports them as errors, otherwise as warnings.
std::vector<std::string> BroadPatternMessages(const std::string& utf8);

// Warnings that do not make the text invalid: url patterns that can never match a page (empty,
// a leading space, no scheme), and with `broadPatterns` the messages above.
std::vector<std::string> TemplateWarnings(const std::string& utf8, bool broadPatterns = true);

// The find types and action types the checker accepts, in the schema's order (the schema's
// "find" and "action" enums, which the content script implements).
const std::vector<std::string>& TemplateFindTypes();
const std::vector<std::string>& TemplateActionTypes();
// The find types of a verify block: those above and "text" (a shown element whose own text holds
// the value), the schema's "verifyFind" enum.
const std::vector<std::string>& VerifyFindTypes();

// The longest a sign-on's verify may wait for its outcome (its "within", seconds).
constexpr double kMaxVerifyWithin = 300;
