// The checker of template texts against the template format (content/template.schema.json),
// which the store tool runs before anything reaches the store.
#pragma once

#include <string>
#include <vector>

// One message per problem of a template text given as UTF-8; empty when the text is a valid
// template array that fits the store.
std::vector<std::string> CheckTemplateText(const std::string& utf8);

// Warnings that do not make the text invalid: url patterns whose fixed part ends inside the host
// name, and so also match other sites ("https://bank.example.com*" matches
// "https://bank.example.com.evil.net/").
std::vector<std::string> TemplateWarnings(const std::string& utf8);

// The find types and action types the checker accepts, in the schema's order (the schema's
// "find" and "action" enums, which the content script implements).
const std::vector<std::string>& TemplateFindTypes();
const std::vector<std::string>& TemplateActionTypes();
