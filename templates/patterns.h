// Pattern and origin verdicts: which pages a template's url pattern reaches, which navigations
// a credential record answers, which pages belong to a trusted portal, and which patterns reach
// beyond the page's own origin. Origins are read by the system's URL parser (CreateUri), the
// same one the browser reads addresses with, never by hand.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The content script's masked pattern rule: equal texts match; otherwise only the part of the
// pattern before its first "*" counts (empty: everything matches), case-sensitively.
bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text);

// Basic authentication's rule: a pattern whose last character is "*" matches by prefix (ASCII
// letters without regard to case) when the URL is at least as long as the prefix; otherwise the
// whole pattern must equal the whole URL under the locale's case-insensitive comparison.
bool AuthPatternMatches(const std::wstring& pattern, const std::wstring& url);

// scheme://host:port as CreateUri reads it: scheme and host in lower case, the port written or
// the scheme's default.
struct UrlOrigin {
    std::wstring scheme, host;
    DWORD port = 0;
    bool operator==(const UrlOrigin& other) const {
        return scheme == other.scheme && host == other.host && port == other.port;
    }
};

// False (origin unchanged) when CreateUri refuses the text or it names no host.
bool ParseOrigin(const std::wstring& url, UrlOrigin& origin);

// An origin as the web writes it: "scheme://host", with ":port" where it is not the scheme's own.
std::wstring OriginText(const UrlOrigin& origin);
// The origin of an address as OriginText writes it; empty when it has none.
std::wstring OriginOfUrl(const std::wstring& url);

// The origin a pattern's fixed part holds whole: the text before its first "*" starts with
// "scheme://authority/" (the "/" that ends the authority included). False when it ends sooner
// ("https://bank.example*", "http*", "*...") or the authority cannot be parsed.
bool FixedPartOrigin(const std::wstring& pattern, UrlOrigin& origin);

// Whether a url pattern can match no page outside the page's own origin: no "*" (it matches its
// own text only), or a fixed part that holds the page's whole origin.
bool ConfinedToOrigin(const std::wstring& pattern, const std::wstring& pageUrl);

// What a page at `pageUrl` is given under template isolation: the pattern matches under the
// content script's rule and is confined to the page's origin.
bool IsolatedPatternReaches(const std::wstring& pattern, const std::wstring& pageUrl);

// Whether a Basic record answers a top-level navigation to `url`: its pattern matches under the
// Basic rule, and the pattern's fixed part (all but a last "*") holds the navigation's whole
// origin, so that "*" or "https://bank*" never answer.
bool BasicRecordAnswers(const std::wstring& pattern, const std::wstring& url);

// The trusted portals of the setting: each an https origin ("https://sso.example/"), with no
// path, query, fragment or user name. Entries that are not (an http:// portal, a path) are
// left out and given in *refused, for the caller's log.
std::vector<UrlOrigin> TrustedPortalOrigins(const std::vector<std::wstring>& setting,
                                            std::vector<std::wstring>* refused = nullptr);

// Whether `url` is a page of one of the trusted portals' origins.
bool IsTrustedPortal(const std::vector<UrlOrigin>& portals, const std::wstring& url);

// A url pattern whose text before its first "*" ends inside the host part
// ("https://bank.example.com*" also matches "https://bank.example.com.evil.net/").
bool PatternEndsInsideHost(const std::wstring& pattern);

// How far a url pattern reaches, for the store tool and the checker.
enum class PatternReach {
    kOneOrigin,     // its fixed part holds one whole origin (or it has no "*")
    kManySites,     // "*" is no glob here: every address that starts with the fixed part
    kNever,         // can match no page: empty, a leading space, no scheme
};
PatternReach ReachOf(const std::wstring& pattern);
