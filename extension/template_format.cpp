#include "extension/template_format.h"

#include <windows.h>

#include <cmath>

using nlohmann::json;

std::wstring Utf8ToWide(const std::string& utf8, bool* valid) {
    if (valid) *valid = true;
    if (utf8.empty()) return std::wstring();
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (units <= 0) {
        if (valid) *valid = false;
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text) {
    if (pattern == text) return true;
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return false;
    return star == 0 || text.compare(0, star, pattern, 0, star) == 0;
}

std::wstring ScriptString(const json& value) { return ScriptString(value, 0); }

std::wstring ScriptField(const json& object, const char* name) {
    if (!object.is_object() || !object.contains(name)) return L"undefined";
    return ScriptString(object[name]);
}

std::wstring ScriptString(const json& value, int depth) {
    if (value.is_string()) return Utf8ToWide(value.get<std::string>());
    if (value.is_null()) return L"null";
    if (value.is_boolean()) return value.get<bool>() ? L"true" : L"false";
    if (value.is_number_integer()) return std::to_wstring(value.get<long long>());
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::floor(d) == d && std::fabs(d) < 1e15) return std::to_wstring(static_cast<long long>(d));
        return Utf8ToWide(value.dump());
    }
    if (value.is_array()) {
        std::wstring joined;
        // Nested arrays join as script joins them; past any sane depth, what is deeper is left
        // out rather than exhausting the stack.
        if (depth > 200) return joined;
        for (size_t i = 0; i < value.size(); ++i)
            joined += (i ? L"," : L"") + (value[i].is_null() ? L"" : ScriptString(value[i], depth + 1));
        return joined;
    }
    return L"[object Object]";
}
