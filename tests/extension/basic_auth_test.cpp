// HTTP Basic authentication: the credentials text, the matching rules, and the answer the
// browser gets through QueryService and IAuthenticate.
#include "extension/extension_fixture.h"
#include "templates/credentials.h"
#include "templates/patterns.h"

#include <functional>
#include <utility>
#include <vector>

using namespace exttest;

namespace {

TEST(AuthPatternTest, TrailingStarIsAPrefixWithoutRegardToCase) {
    EXPECT_TRUE(AuthPatternMatches(L"site/app/*", L"SITE/APP/index"));
    EXPECT_TRUE(AuthPatternMatches(L"site/app/*", L"site/app/"));
    EXPECT_FALSE(AuthPatternMatches(L"site/app/*", L"site/ap")) << "shorter than the prefix";
    EXPECT_FALSE(AuthPatternMatches(L"site/*/login", L"site/x/login")) << "a star that is not last is plain";
    EXPECT_TRUE(AuthPatternMatches(L"site/*/login", L"SITE/*/LOGIN"));
    EXPECT_TRUE(AuthPatternMatches(L"*", L"anything"));
    EXPECT_TRUE(AuthPatternMatches(L"*", L""));
    EXPECT_TRUE(AuthPatternMatches(L"", L""));
    EXPECT_FALSE(AuthPatternMatches(L"", L"x"));
    EXPECT_TRUE(AuthPatternMatches(L"http://Site/Login", L"HTTP://SITE/LOGIN")) << "whole-string rule";
}

class AuthenticateTest : public testing::Test {
protected:
    void SetUp() override {
        object = CreateExtension();
        ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
        // The browser asks the service it was proffered, for any service, for IAuthenticate.
        ASSERT_NE(nullptr, browser.ProfferedProvider());
        ASSERT_EQ(S_OK, browser.ProfferedProvider()->QueryService(IID_IAuthenticate, IID_IAuthenticate,
                                                                  authenticate.put_void()));
    }
    void TearDown() override { site->SetSite(nullptr); }

    void HandOver(const std::wstring& credentials) {
        host::Value value(credentials);
        ASSERT_EQ(S_OK, PutByName(object.get(), L"AuthCreds", *value.get()));
    }

    struct Answer {
        bool answered;
        std::wstring user, password;
    };
    // A top-level navigation to `url` (none when empty) that draws a challenge, then ends.
    Answer Ask(const std::wstring& url) {
        if (!url.empty()) {
            EXPECT_EQ(S_OK, browser.FireBeforeNavigate2(url));
        }
        const Answer answer = Challenge();
        if (!url.empty()) {
            EXPECT_EQ(S_OK, browser.FireNavigateComplete2(url));
        }
        return answer;
    }
    // A challenge as the browser makes it: answered with credentials and no window, or left to
    // the browser's own prompt, owned by the browser's window.
    Answer Challenge() {
        HWND window = reinterpret_cast<HWND>(0x1);
        wchar_t untouched[] = L"untouched";
        LPWSTR user = untouched, password = untouched;
        EXPECT_EQ(S_OK, authenticate->Authenticate(&window, &user, &password));
        Answer answer{user != untouched || password != untouched, L"", L""};
        EXPECT_EQ(answer.answered ? nullptr : reinterpret_cast<HWND>(browser.window), window);
        if (user != untouched) {
            answer.user = user ? user : L"(null)";
            CoTaskMemFree(user);
        }
        if (password != untouched) {
            answer.password = password ? password : L"(null)";
            CoTaskMemFree(password);
        }
        return answer;
    }

    host::FakeBrowser browser;
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
    ComPtr<IAuthenticate> authenticate;
};

TEST_F(AuthenticateTest, ServiceIsTheObjectItselfForAnyServiceIdentifier) {
    ComPtr<IAuthenticate> direct;
    ASSERT_EQ(S_OK, object.As(IID_IAuthenticate, &direct));
    EXPECT_EQ(direct.get(), authenticate.get());
    ComPtr<IServiceProvider> provider;
    ASSERT_EQ(S_OK, object.As(IID_IServiceProvider, &provider));
    ComPtr<IUnknown> face;
    EXPECT_EQ(S_OK, provider->QueryService(GUID_NULL, IID_IVelnorIEExt, face.put_void()));
    EXPECT_EQ(static_cast<void*>(object.get()), static_cast<void*>(face.get()));
    EXPECT_EQ(E_NOINTERFACE, provider->QueryService(IID_IAuthenticate, IID_IClassFactory, face.put_void()));
}

TEST_F(AuthenticateTest, LastMatchingRecordOfTheLastNavigationWins) {
    HandOver(L"http://other/*\rnobody\rx\nhttp://site/*\rfirst\rpw1\nHTTP://SITE/APP/*\rsecond\rpw2");
    Answer answer = Ask(L"http://site/app/page");
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(L"second", answer.user);
    EXPECT_EQ(L"pw2", answer.password);
    answer = Ask(L"http://site/other");
    EXPECT_EQ(L"first", answer.user);
    EXPECT_FALSE(Ask(L"http://elsewhere/").answered);
}

TEST_F(AuthenticateTest, RecordsNeedThreeFieldsAndKeepAnEmptyPassword) {
    HandOver(L"\n\nhttp://a/*\ruser-a\r\n\nhttp://b/*\ruser-b\n\n");
    const Answer a = Ask(L"http://a/x");
    EXPECT_EQ(L"user-a", a.user);
    EXPECT_EQ(L"", a.password);
    EXPECT_FALSE(Ask(L"http://b/x").answered) << "two fields only";
}

TEST_F(AuthenticateTest, NothingMatchesWithoutCredentialsOrNavigation) {
    EXPECT_FALSE(Ask(L"").answered);
    HandOver(L"*\ranyone\rpw");
    // No navigation under way: nothing is answered, "*" included (it names no site).
    EXPECT_FALSE(Ask(L"").answered);
    EXPECT_FALSE(Ask(L"http://site/").answered) << "\"*\" holds no origin";
    HandOver(L"");
    EXPECT_FALSE(Ask(L"http://site/").answered);
}

TEST_F(AuthenticateTest, TheLogNeverHoldsUserNamesOrPasswords) {
    HandOver(L"http://site/*\rsecret-user\rsecret-password");
    testenv::LogCapture log;
    EXPECT_EQ(L"secret-user", Ask(L"http://site/login").user);
    const std::string text = log.Text();
    EXPECT_EQ(std::string::npos, text.find("secret")) << text;
    const auto messages = log.Messages();
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::Authenticate('http://site/login', 1)"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::Authenticate() -> 'http://site/*'"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::Authenticate() -> return creds , "));
}

// The browser reports no NavigateComplete2 for a navigation that ends in a download, is stopped
// or is answered "204 No Content": the credentials must not stay armed for whatever the page
// requests next (new Image().src = "https://elsewhere/401").
TEST_F(AuthenticateTest, CredentialsAreArmedOnlyWhileTheirNavigationIsUnderWay) {
    HandOver(L"https://intranet.example/*\rjdoe\rpw");
    const std::wstring url = L"https://intranet.example/files/x.zip";
    const std::vector<std::pair<const char*, std::function<void()>>> endings = {
        {"a file download", [&] { ASSERT_EQ(S_OK, browser.FireFileDownload(false)); }},
        {"a stopped navigation", [&] { browser.busy = false; ASSERT_EQ(S_OK, browser.FireDownloadComplete()); }},
        {"the document complete", [&] { ASSERT_EQ(S_OK, browser.FireDocumentComplete(url)); }},
        {"a minute passed", [&] { Impl(object)->BackdateNavigation(kBasicAuthWindowMs + 1); }},
    };
    for (const auto& [what, end] : endings) {
        ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(url));
        EXPECT_TRUE(Challenge().answered) << what;
        end();
        EXPECT_FALSE(Challenge().answered) << "after " << what;
    }
    // A document that is downloaded as a page, or an earlier download that ends while the browser
    // is still busy with the navigation, ends nothing.
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(url));
    ASSERT_EQ(S_OK, browser.FireFileDownload(true));
    browser.busy = true;
    ASSERT_EQ(S_OK, browser.FireDownloadComplete());
    EXPECT_EQ(L"jdoe", Challenge().user);
    ASSERT_EQ(S_OK, browser.FireNavigateComplete2(url));
}

}  // namespace
