// Pattern and origin verdicts: the pattern rules on the cases the content script is tested on
// too, trusted portals, and patterns that reach beyond their host.
#include "templates/patterns.h"

#include "common/text.h"
#include "support/test_environment.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace {

nlohmann::json PatternCases() {
    std::wstring path = L"Z:" + testenv::Widen(VELNOR_SOURCE_DIR "/tests/fixtures/patterns.json");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return nlohmann::json::parse(testenv::ReadFileBytes(path));
}

TEST(StoreToolMatchTest, PatternRulesAgreeWithTheBrowsersOnTheSharedCases) {
    const nlohmann::json cases = PatternCases();
    for (const auto& c : cases["masked"])
        EXPECT_EQ(c[2].get<bool>(), MaskedPatternMatches(Utf8ToWide(c[0]), Utf8ToWide(c[1]))) << c.dump();
    for (const auto& c : cases["auth"])
        EXPECT_EQ(c[2].get<bool>(), AuthPatternMatches(Utf8ToWide(c[0]), Utf8ToWide(c[1]))) << c.dump();
}

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
