#include "templates/patterns.h"

#include <windows.h>
#include <wchar.h>

bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text) {
    if (pattern == text) return true;
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return false;
    return star == 0 || text.compare(0, star, pattern, 0, star) == 0;
}

bool AuthPatternMatches(const std::wstring& pattern, const std::wstring& url) {
    if (!pattern.empty() && pattern.back() == L'*' && url.size() >= pattern.size() - 1) {
        const size_t prefix = pattern.size() - 1;
        return _wcsnicmp(pattern.c_str(), url.c_str(), prefix) == 0;
    }
    return lstrcmpiW(pattern.c_str(), url.c_str()) == 0;
}

bool ConfinedToOrigin(const std::wstring& pattern, const std::wstring& pageUrl) {
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return true;
    const size_t schemeEnd = pageUrl.find(L"://");
    if (schemeEnd == std::wstring::npos) return false;
    size_t originEnd = pageUrl.find_first_of(L"/?#", schemeEnd + 3);
    if (originEnd == std::wstring::npos) originEnd = pageUrl.size();
    const std::wstring origin = pageUrl.substr(0, originEnd) + L"/";
    return star >= origin.size() && pattern.compare(0, origin.size(), origin) == 0;
}

namespace {

struct UrlParts {
    std::wstring scheme, host, port, path;
};

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return text;
}

bool SplitUrl(const std::wstring& url, UrlParts& parts) {
    const size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring::npos || schemeEnd == 0) return false;
    parts.scheme = LowerAscii(url.substr(0, schemeEnd));
    const size_t authorityStart = schemeEnd + 3;
    size_t authorityEnd = url.find_first_of(L"/?#", authorityStart);
    if (authorityEnd == std::wstring::npos) authorityEnd = url.size();
    std::wstring authority = url.substr(authorityStart, authorityEnd - authorityStart);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    size_t colon = authority.rfind(L':');
    if (colon != std::wstring::npos && authority.find(L']', colon) != std::wstring::npos) colon = std::wstring::npos;
    parts.host = LowerAscii(authority.substr(0, colon));
    parts.port = colon == std::wstring::npos ? std::wstring() : authority.substr(colon + 1);
    if (parts.port.empty()) parts.port = parts.scheme == L"https" ? L"443" : parts.scheme == L"http" ? L"80" : L"";
    parts.path = url.substr(authorityEnd);
    if (parts.path.empty() || parts.path[0] != L'/') parts.path.insert(0, L"/");
    return !parts.host.empty();
}

}  // namespace

bool IsTrustedPortal(const std::vector<std::wstring>& portals, const std::wstring& url) {
    UrlParts page;
    if (!SplitUrl(url, page)) return false;
    for (const std::wstring& portal : portals) {
        UrlParts prefix;
        if (!SplitUrl(portal, prefix)) continue;
        if (prefix.scheme == page.scheme && prefix.host == page.host && prefix.port == page.port &&
            page.path.compare(0, prefix.path.size(), prefix.path) == 0)
            return true;
    }
    return false;
}

bool PatternEndsInsideHost(const std::wstring& pattern) {
    const size_t star = pattern.find(L'*');
    if (star == std::wstring::npos) return false;
    const std::wstring prefix = pattern.substr(0, star);
    const size_t schemeEnd = prefix.find(L"://");
    if (schemeEnd == std::wstring::npos) return false;
    const std::wstring authority = prefix.substr(schemeEnd + 3);
    return !authority.empty() && authority.find_first_of(L"/?#") == std::wstring::npos;
}
