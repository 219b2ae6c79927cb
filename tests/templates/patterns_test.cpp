// Pattern and origin verdicts: trusted portals and patterns that reach beyond their host.
#include "templates/patterns.h"

#include <gtest/gtest.h>

namespace {

TEST(IsolationRulesTest, TrustedPortalsAreComparedByOriginThenPathPrefix) {
    const std::vector<std::wstring> portals = {L"https://portal.example/sso", L"http://intranet:8080/"};
    EXPECT_TRUE(IsTrustedPortal(portals, L"https://portal.example/sso/page"));
    EXPECT_TRUE(IsTrustedPortal(portals, L"HTTPS://Portal.Example:443/sso?x"));
    EXPECT_TRUE(IsTrustedPortal(portals, L"http://intranet:8080/anything"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example.evil.net/sso/page"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example:8443/sso/page"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"http://portal.example/sso/page"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example/SSO/page")) << "paths keep their case";
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://evil.net/?https://portal.example/sso"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"http://intranet/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"about:blank"));
}

TEST(IsolationRulesTest, PatternsWhoseFixedPartEndsInTheHostAreFound) {
    EXPECT_TRUE(PatternEndsInsideHost(L"https://bank.example.com*"));
    EXPECT_TRUE(PatternEndsInsideHost(L"https://bank.example.com:44*"));
    EXPECT_FALSE(PatternEndsInsideHost(L"https://bank.example.com/*"));
    EXPECT_FALSE(PatternEndsInsideHost(L"https://bank.example.com/login"));
    EXPECT_FALSE(PatternEndsInsideHost(L"*"));
    EXPECT_FALSE(PatternEndsInsideHost(L"https://*"));
}

}  // namespace
