// Pattern and origin verdicts: the pattern rules on the cases the content script is tested on
// too, trusted portals, what a page is given, which navigation a Basic record answers, and
// patterns that reach beyond their host.
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

TEST(IsolationRulesTest, TrustedPortalsAreHttpsOriginsComparedAfterParsing) {
    std::vector<std::wstring> refused;
    const std::vector<UrlOrigin> portals =
        TrustedPortalOrigins({L"https://portal.example/", L"https://intranet:8443", L"http://plain.example/",
                              L"https://portal.example/sso", L"https://user@named.example/", L"not an address"},
                             &refused);
    EXPECT_EQ(2u, portals.size());
    EXPECT_EQ((std::vector<std::wstring>{L"http://plain.example/", L"https://portal.example/sso",
                                         L"https://user@named.example/", L"not an address"}),
              refused)
        << "over http a network attacker is the portal; a path would only pretend to narrow the trust";
    EXPECT_TRUE(IsTrustedPortal(portals, L"https://portal.example/sso/page"));
    EXPECT_TRUE(IsTrustedPortal(portals, L"HTTPS://Portal.Example:443/any?x"));
    EXPECT_TRUE(IsTrustedPortal(portals, L"https://intranet:8443/anything"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example.evil.net/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example:8443/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"http://portal.example/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://evil.net/?https://portal.example/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://portal.example@evil.net/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"https://intranet/"));
    EXPECT_FALSE(IsTrustedPortal(portals, L"about:blank"));
}

TEST(IsolationRulesTest, APageIsGivenAPatternOnlyWhenItsFixedPartHoldsThePagesWholeOrigin) {
    const std::wstring evil = L"https://evil.test/login";
    for (const wchar_t* broad : {L"*.corp.example/login*", L"https://*.corp.example/*", L"http*", L"*bank.example/login",
                                 L"*", L"https://evil.test*", L"https://evil.test?*"})
        EXPECT_FALSE(IsolatedPatternReaches(broad, evil)) << testing::PrintToString(std::wstring(broad));
    EXPECT_FALSE(IsolatedPatternReaches(L"https://bank.example*", L"https://bank.example.evil.test/"));
    EXPECT_TRUE(IsolatedPatternReaches(L"https://evil.test/*", evil));
    EXPECT_TRUE(IsolatedPatternReaches(L"https://evil.test/log*", evil));
    EXPECT_TRUE(IsolatedPatternReaches(evil, evil)) << "no \"*\": the page's own address";
    EXPECT_TRUE(IsolatedPatternReaches(L"https://evil.test:443/*", L"https://evil.test:443/x")) << "the default port written";

    EXPECT_EQ(PatternReach::kOneOrigin, ReachOf(L"https://bank.example/*"));
    EXPECT_EQ(PatternReach::kOneOrigin, ReachOf(L"https://bank.example/login"));
    EXPECT_EQ(PatternReach::kManySites, ReachOf(L"https://bank.example*"));
    EXPECT_EQ(PatternReach::kManySites, ReachOf(L"http*"));
    EXPECT_EQ(PatternReach::kManySites, ReachOf(L"*"));
    EXPECT_EQ(PatternReach::kNever, ReachOf(L""));
    EXPECT_EQ(PatternReach::kNever, ReachOf(L" https://bank.example/*"));
    EXPECT_EQ(PatternReach::kNever, ReachOf(L"bank.example/login*"));
}

TEST(IsolationRulesTest, ABasicRecordAnswersOnlyANavigationToTheOriginItsPatternHolds) {
    EXPECT_TRUE(BasicRecordAnswers(L"https://bank.example/*", L"https://BANK.example/statement"));
    EXPECT_TRUE(BasicRecordAnswers(L"https://bank.example/login", L"HTTPS://bank.example/login"));
    EXPECT_FALSE(BasicRecordAnswers(L"*", L"https://bank.example/"));
    EXPECT_FALSE(BasicRecordAnswers(L"https://bank*", L"https://bank.example/"));
    EXPECT_FALSE(BasicRecordAnswers(L"https://bank.example*", L"https://bank.example.evil.test/"));
    EXPECT_FALSE(BasicRecordAnswers(L"https://bank.example/*", L"https://evil.test/"));
    EXPECT_FALSE(BasicRecordAnswers(L"https://bank.example/*", L""));
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
