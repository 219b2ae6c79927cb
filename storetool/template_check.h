// The rules of the template format (content/template.schema.json), for the template store tool.
#pragma once

#include "extension/template_format.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// One message per problem of a template text given as UTF-8; empty when the text is a valid
// template array that fits the store.
std::vector<std::string> CheckTemplateText(const std::string& utf8);

// Warnings that do not make the text invalid: url patterns whose fixed part ends inside the host
// name, and so also match other sites ("https://bank.example.com*" matches
// "https://bank.example.com.evil.net/").
std::vector<std::string> TemplateWarnings(const std::string& utf8);
