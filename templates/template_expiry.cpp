#include "templates/template_expiry.h"

#include <windows.h>

long long SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>((ticks - 116444736000000000ULL) / 10000000ULL);
}

double TemplateExpires(const nlohmann::json& value) {
    if (!value.is_object() || !value.contains("expires") || !value["expires"].is_number()) return 0;
    return value["expires"].get<double>();
}
