#include "templates/patterns.h"

#include "common/com_ptr.h"
#include "common/unique_owner.h"

#include <windows.h>
#include <urlmon.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <utility>

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

namespace {

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return text;
}

std::wstring UriPart(IUri* uri, HRESULT (STDMETHODCALLTYPE IUri::*get)(BSTR*)) {
    BSTR text = nullptr;
    const HRESULT hr = (uri->*get)(&text);
    unique_bstr owned(text);
    if (FAILED(hr) || !text) return std::wstring();
    return std::wstring(text, SysStringLen(text));
}

ComPtr<IUri> ParseUri(const std::wstring& url) {
    ComPtr<IUri> uri;
    if (url.empty() || FAILED(CreateUri(url.c_str(), Uri_CREATE_CANONICALIZE, 0, uri.put()))) uri.reset();
    return uri;
}

bool OriginOf(IUri* uri, UrlOrigin& origin) {
    UrlOrigin parsed;
    parsed.scheme = LowerAscii(UriPart(uri, &IUri::GetSchemeName));
    parsed.host = LowerAscii(UriPart(uri, &IUri::GetHost));
    if (parsed.scheme.empty() || parsed.host.empty() || FAILED(uri->GetPort(&parsed.port))) return false;
    origin = std::move(parsed);
    return true;
}

// "scheme://authority/" at the start of `fixed`, the "/" that ends the authority included. A
// "?", "#" or "\" before it (where browsers end the authority too) gives none.
bool OriginHeldBy(const std::wstring& fixed, UrlOrigin& origin) {
    const size_t schemeEnd = fixed.find(L"://");
    if (schemeEnd == std::wstring::npos || schemeEnd == 0) return false;
    const size_t end = fixed.find_first_of(L"/?#\\", schemeEnd + 3);
    if (end == std::wstring::npos || fixed[end] != L'/' || end == schemeEnd + 3) return false;
    return ParseOrigin(fixed.substr(0, end + 1), origin);
}

bool IsSchemeCharacter(wchar_t c, bool first) {
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return true;
    return !first && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.');
}

}  // namespace

bool ParseOrigin(const std::wstring& url, UrlOrigin& origin) {
    try {
        const ComPtr<IUri> uri = ParseUri(url);
        return uri && OriginOf(uri.get(), origin);
    } catch (...) {
        return false;   // out of memory: no origin, so nothing is given or answered
    }
}

std::wstring OriginText(const UrlOrigin& origin) {
    std::wstring text = origin.scheme + L"://" + origin.host;
    const bool ownPort = (origin.scheme == L"http" && origin.port == 80) || (origin.scheme == L"https" && origin.port == 443);
    if (!ownPort && origin.port != 0) text += L":" + std::to_wstring(origin.port);
    return text;
}

std::wstring OriginOfUrl(const std::wstring& url) {
    UrlOrigin origin;
    return ParseOrigin(url, origin) ? OriginText(origin) : std::wstring();
}

bool FixedPartOrigin(const std::wstring& pattern, UrlOrigin& origin) {
    const size_t star = pattern.find(L'*');
    return OriginHeldBy(star == std::wstring::npos ? pattern : pattern.substr(0, star), origin);
}

bool ConfinedToOrigin(const std::wstring& pattern, const std::wstring& pageUrl) {
    if (pattern.find(L'*') == std::wstring::npos) return true;
    UrlOrigin fixed, page;
    return FixedPartOrigin(pattern, fixed) && ParseOrigin(pageUrl, page) && fixed == page;
}

bool IsolatedPatternReaches(const std::wstring& pattern, const std::wstring& pageUrl) {
    return MaskedPatternMatches(pattern, pageUrl) && ConfinedToOrigin(pattern, pageUrl);
}

bool BasicRecordAnswers(const std::wstring& pattern, const std::wstring& url) {
    if (!AuthPatternMatches(pattern, url)) return false;
    UrlOrigin held, navigation;
    if (!ParseOrigin(url, navigation)) return false;
    const bool prefix = !pattern.empty() && pattern.back() == L'*';
    const bool parsed = prefix ? OriginHeldBy(pattern.substr(0, pattern.size() - 1), held) : ParseOrigin(pattern, held);
    return parsed && held == navigation;
}

std::vector<UrlOrigin> TrustedPortalOrigins(const std::vector<std::wstring>& setting, std::vector<std::wstring>* refused) {
    std::vector<UrlOrigin> portals;
    for (const std::wstring& entry : setting) {
        UrlOrigin origin;
        const ComPtr<IUri> uri = ParseUri(entry);
        // A portal is a whole origin: any page of it can open or frame the portal's page and
        // read what it reads, so a path would only pretend to narrow the trust. Over http a
        // network attacker would be the portal.
        const std::wstring path = uri ? UriPart(uri.get(), &IUri::GetPath) : std::wstring();
        const bool whole = uri && OriginOf(uri.get(), origin) && origin.scheme == L"https" &&
                           (path.empty() || path == L"/") && UriPart(uri.get(), &IUri::GetQuery).empty() &&
                           UriPart(uri.get(), &IUri::GetFragment).empty() &&
                           UriPart(uri.get(), &IUri::GetUserInfo).empty();
        if (whole)
            portals.push_back(std::move(origin));
        else if (refused)
            refused->push_back(entry);
    }
    return portals;
}

bool IsTrustedPortal(const std::vector<UrlOrigin>& portals, const std::wstring& url) {
    if (portals.empty()) return false;
    UrlOrigin page;
    if (!ParseOrigin(url, page)) return false;
    return std::find(portals.begin(), portals.end(), page) != portals.end();
}

PatternReach ReachOf(const std::wstring& pattern) {
    if (pattern.empty() || iswspace(pattern[0])) return PatternReach::kNever;
    const size_t star = pattern.find(L'*');
    const std::wstring fixed = star == std::wstring::npos ? pattern : pattern.substr(0, star);
    // Every page address starts with its scheme: a fixed part that cannot begin one never matches.
    size_t i = 0;
    while (i < fixed.size() && IsSchemeCharacter(fixed[i], i == 0)) ++i;
    if (!fixed.empty() && (i == 0 || (i < fixed.size() && fixed[i] != L':'))) return PatternReach::kNever;
    if (star == std::wstring::npos) return PatternReach::kOneOrigin;
    UrlOrigin origin;
    return FixedPartOrigin(pattern, origin) ? PatternReach::kOneOrigin : PatternReach::kManySites;
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
