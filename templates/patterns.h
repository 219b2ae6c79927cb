// Pattern and origin verdicts: which pages a template's url pattern reaches, which navigations
// a credential record answers, which pages belong to a trusted portal, and which patterns reach
// beyond the page's own origin.
#pragma once

#include <string>
#include <vector>

// The content script's masked pattern rule: equal texts match; otherwise only the part of the
// pattern before its first "*" counts (empty: everything matches), case-sensitively.
bool MaskedPatternMatches(const std::wstring& pattern, const std::wstring& text);

// Basic authentication's rule: a pattern whose last character is "*" matches by prefix (ASCII
// letters without regard to case) when the URL is at least as long as the prefix; otherwise the
// whole pattern must equal the whole URL under the locale's case-insensitive comparison.
bool AuthPatternMatches(const std::wstring& pattern, const std::wstring& url);

// Whether a url pattern can match no page outside the page's own origin: no "*", or a fixed part
// that starts with the origin and the "/" after it. ("*" or "https://site*" also match other
// sites.)
bool ConfinedToOrigin(const std::wstring& pattern, const std::wstring& pageUrl);

// Whether `url` belongs to one of the trusted portals: each a URL prefix, compared by scheme,
// host and port exactly (letter case aside; default ports filled in), then by path prefix.
bool IsTrustedPortal(const std::vector<std::wstring>& portals, const std::wstring& url);

// A url pattern whose text before its first "*" ends inside the host part
// ("https://bank.example.com*" also matches "https://bank.example.com.evil.net/").
bool PatternEndsInsideHost(const std::wstring& pattern);
