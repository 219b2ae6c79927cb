// The "expires" rule of launched templates: seconds since 1970-01-01 UTC, a number so that a
// page's script compares it with its clock without a date parser (IE7 document mode has none
// that reads ISO dates). At or after that time a template is dropped unused: the content script
// runs nothing of it, and nothing here answers Basic authentication from it.
#pragma once

#include <nlohmann/json.hpp>

// Now, in whole seconds since 1970-01-01 00:00 UTC.
long long SecondsSince1970();

// The template's "expires" when it is a number; 0 (never) otherwise, as the content script
// treats any other value.
double TemplateExpires(const nlohmann::json& templateValue);

inline bool HasExpired(double expires, long long now) { return expires > 0 && expires <= static_cast<double>(now); }
