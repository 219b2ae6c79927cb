// The "expires" rule on the browser's side: a launched template whose time has passed answers no
// Basic authentication, also when its text was parsed (and cached) before it expired.
#include "templates/template_expiry.h"
#include "templates/template_isolation.h"
#include "templates/template_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

std::wstring BasicTemplate(const std::wstring& user, const std::wstring& expires) {
    return L"{\"url\":\"https://app.example/*\"," + expires +
           L"\"elements\":[{\"actions\":[{\"type\":\"httpBasicAuth\",\"username\":\"" + user +
           L"\",\"password\":\"p\"}]}]}";
}

TEST(TemplateExpiryTest, ExpiredTemplatesGiveNoBasicRecordsAndOthersKeepTheirs) {
    const long long now = SecondsSince1970();
    const std::wstring text = L"[" + BasicTemplate(L"expired", L"\"expires\":" + std::to_wstring(now - 1) + L",") + L"," +
                              BasicTemplate(L"fresh", L"\"expires\":" + std::to_wstring(now + 600) + L",") + L"," +
                              BasicTemplate(L"plain", L"") + L"," +
                              BasicTemplate(L"text", L"\"expires\":\"yesterday\",") + L"]";
    const std::vector<CredentialRecord> records = StoredBasicRecords(*ParseTemplates(text));
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(L"fresh", records[0].userName);
    EXPECT_EQ(L"plain", records[1].userName);
    EXPECT_EQ(L"text", records[2].userName) << "an expires that is no number never expires, as in the page";
}

TEST(TemplateExpiryTest, ATemplateExpiresWhileItsParsedTextIsCached) {
    const long long now = SecondsSince1970();
    const std::wstring text = L"[" + BasicTemplate(L"soon", L"\"expires\":" + std::to_wstring(now + 2) + L",") + L"]";
    EXPECT_EQ(1u, StoredBasicRecords(*ParseTemplatesCached(text)).size());
    Sleep(3000);
    EXPECT_EQ(0u, StoredBasicRecords(*ParseTemplatesCached(text)).size());
}

TEST(TemplateExpiryTest, OnlyANumberInThePastOrNowHasExpired) {
    EXPECT_TRUE(HasExpired(100, 100));
    EXPECT_TRUE(HasExpired(99.5, 100));
    EXPECT_FALSE(HasExpired(101, 100));
    EXPECT_FALSE(HasExpired(0, 100)) << "0 is what a template without expires reads as";
    EXPECT_EQ(0, TemplateExpires(nlohmann::json::parse(R"({"expires": "1"})")));
    EXPECT_EQ(1796000000.0, TemplateExpires(nlohmann::json::parse(R"({"expires": 1796000000})")));
}

}  // namespace
