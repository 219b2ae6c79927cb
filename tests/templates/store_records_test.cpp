// Records beside the templates in the store: what the store tool writes around them, the
// outcomes the log is told of, and the catalog entry a recorder's drafts make.
#include "storetool/issued_launches.h"
#include "storetool/password_maker.h"
#include "templates/catalog.h"
#include "templates/recorded_entry.h"
#include "templates/store_records.h"
#include "templates/template_check.h"
#include "templates/template_expiry.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

using nlohmann::json;

namespace {

std::wstring Text(const SecretText& text) { return std::wstring(text.data(), text.size()); }

TEST(StoreRecordsTest, EditsKeepTemplatesByteForByteAndLeaveStaleRecordsOut) {
    const long long now = SecondsSince1970();
    const std::wstring site = L"{ \"url\" : \"https://a/*\", \"elements\":[{\"actions\":[{\"type\":\"text\",\"value\":\"pw \\u00e9\"}]}] }";
    const std::wstring fresh = L"{\"url\":\"https://a/*\",\"outcome\":\"failed\",\"at\":" + std::to_wstring(now - 5) + L"}";
    const std::wstring old = L"{\"url\":\"https://b/*\",\"outcome\":\"succeeded\",\"at\":" +
                             std::to_wstring(now - kRecordLifetime - 1) + L"}";
    const std::wstring spent = L"{\"recorder\":\"r\",\"expires\":" + std::to_wstring(now - 1) + L"}";
    const std::wstring timeless = L"{\"draft\":\"r\",\"url\":\"https://a/*\"}";
    const std::wstring other = L"{\"url\":\"https://c/*\",\"elements\":[]}";
    const std::wstring stored = L"[ " + site + L" ,\n" + fresh + L"," + old + L"," + spent + L"," + timeless + L"," + other + L"]";

    SecretText added, out;
    added.Append(L"{\"url\":\"https://d/*\",\"elements\":[]}", 33);
    ASSERT_TRUE(EditStoreText(stored, {5}, {&added}, now, out));
    EXPECT_EQ(L"[ " + site + L" ,\n" + fresh + L"," + Text(added) + L"]", Text(out));

    const std::vector<StoreRecord> records = ReadStoreRecords(stored);
    ASSERT_EQ(4u, records.size()) << "the templates are not read at all";
    const std::vector<SignOnOutcome> outcomes = OutcomesOf(records);
    ASSERT_EQ(2u, outcomes.size());
    EXPECT_EQ("https://a", outcomes[0].site);
    EXPECT_EQ(kOutcomeFailed, outcomes[0].outcome);

    SecretText untouched;
    EXPECT_FALSE(EditStoreText(L"[{\"url\":", {}, {}, now, untouched));
    EXPECT_TRUE(untouched.empty());
}

TEST(StoreRecordsTest, WhatAPageWroteReachesTheLogOnOneLineItCannotForge) {
    const std::wstring forged = L"[{\"url\":\"https://a/*\",\"name\":\"x\\r\\n01.01.26 [IEXPLORE.EXE] https://intranet.example.com"
                                L" (intranet): failed\\u202e\",\"outcome\":\"submitted\",\"attempt\":\"1\"}]";
    const std::vector<std::wstring> lines = OutcomeChanges(L"[]", forged);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(std::wstring::npos, lines[0].find_first_of(L"\r\n\u202e"));
    EXPECT_EQ(L"https://a (x\\r\\n01.01.26 [IEXPLORE.EXE] https://intranet.example.com (intranet): failed\\u202e): submitted",
              lines[0]);
}

// Only a record of one of the tool's own launches, stamped by that launch's own site, counts.
TEST(StoreRecordsTest, TheToolTrustsOnlyItsOwnLaunchesToldByTheirOwnSites) {
    const long long now = SecondsSince1970();
    IssuedLaunch launch;
    launch.id = L"0123abcd";
    launch.credential = L"Velnor:intranet";
    launch.sites = {L"https://intranet.example.com"};
    launch.issued = now - 30;
    auto record = [&](const std::string& attempt, const std::string& origin, long long at) {
        SignOnOutcome outcome;
        outcome.attempt = attempt;
        outcome.outcome = kOutcomeFailed;
        outcome.stamp = {true, origin, at, "tab", 1};
        return outcome;
    };
    const std::vector<SignOnOutcome> records = {
        record("0123abcd", "https://intranet.example.com", now),           // its own site: counts
        record("0123abcd", "https://evil.test", now),                      // another site
        record("0123abcd", "https://intranet.example.com", now + 3600),     // dated ahead
        record("0123abcd", "https://intranet.example.com", now - 3600),     // before the launch
        record("ffff", "https://intranet.example.com", now),               // not launched here
    };
    const std::vector<TrustedOutcome> trusted = TrustedOutcomes(records, {launch}, now);
    ASSERT_EQ(1u, trusted.size());
    EXPECT_EQ("https://intranet.example.com", trusted[0].record.stamp.origin);
    EXPECT_EQ(now, trusted[0].record.stamp.at);
    SignOnOutcome unstamped = record("0123abcd", "", now);
    unstamped.stamp.present = false;
    EXPECT_TRUE(TrustedOutcomes({unstamped}, {launch}, now).empty());
}

TEST(StoreRecordsTest, TheLogHearsOfEachOutcomeSetOnceWithoutWhoSignedOn) {
    const std::wstring submitted = L"[{\"url\":\"https://a/*\",\"name\":\"intranet\",\"outcome\":\"submitted\",\"attempt\":\"1\","
                                   L"\"credential\":\"Velnor:intranet#jdoe\",\"at\":1}]";
    const std::wstring failed = L"[{\"url\":\"https://a/*\",\"name\":\"intranet\",\"outcome\":\"failed\",\"attempt\":\"1\","
                                L"\"credential\":\"Velnor:intranet#jdoe\",\"at\":1}]";
    EXPECT_EQ(std::vector<std::wstring>{L"https://a (intranet): submitted"}, OutcomeChanges(L"[]", submitted));
    EXPECT_EQ(std::vector<std::wstring>{L"https://a (intranet): failed"}, OutcomeChanges(submitted, failed));
    EXPECT_TRUE(OutcomeChanges(failed, failed).empty()) << "written back unchanged: nothing new";
}

json Draft(const std::string& page, const json& fields, double at) {
    json draft = {{"draft", "r"}, {"url", page + "*"}, {"page", page}, {"at", at}};
    draft.update(fields);
    return draft;
}

const json kUser = {{"type", "id"}, {"value", "user"}};
const json kPassword = {{"type", "name"}, {"value", "pass"}};
const json kSubmit = {{"type", "selector"}, {"value", "form#login button[type=\"submit\"]"}};

TEST(RecordedEntryTest, OneOrTwoPagesOfDraftsMakeACatalogEntryTheCheckerTakes) {
    RecordedEntry one;
    std::string why;
    ASSERT_TRUE(EntryFromDrafts({Draft("https://sso.example/search", {{"user", kUser}, {"submit", kSubmit}}, 1),
                                 Draft("https://sso.example/login", {{"user", kUser}, {"password", kPassword}, {"submit", kSubmit}}, 2)},
                                "portal", false, &one, &why));
    const json& steps = one.entry["template"]["elements"];
    ASSERT_EQ(3u, steps.size()) << "a form with both fields needs no earlier page";
    EXPECT_EQ("https://sso.example/login*", one.entry["template"]["url"]);
    EXPECT_EQ("https://sso.example/login", one.entry["launch"]);
    EXPECT_EQ("password", steps[1]["actions"][0]["valueFrom"]);
    EXPECT_TRUE(CheckCatalogText("[" + one.entry.dump() + "]").empty());

    RecordedEntry two;
    ASSERT_TRUE(EntryFromDrafts({Draft("https://id.example/signin/identifier", {{"user", kUser}, {"submit", kSubmit}}, 1),
                                 Draft("https://id.example/signin/password", {{"password", kPassword}, {"submit", kSubmit}}, 2)},
                                "id", false, &two, &why));
    const json& pages = two.entry["template"]["elements"];
    ASSERT_EQ(4u, pages.size());
    EXPECT_EQ("https://id.example/signin/*", two.entry["template"]["url"]);
    EXPECT_EQ("https://id.example/signin/identifier", two.entry["launch"]);
    EXPECT_FALSE(pages[1].contains("nextPage"));
    EXPECT_EQ(true, pages[2]["nextPage"]) << "the password step waits for the second page";
    EXPECT_TRUE(CheckCatalogText("[" + two.entry.dump() + "]").empty());

    RecordedEntry none;
    EXPECT_FALSE(EntryFromDrafts({Draft("https://a.example/x", {{"user", kUser}, {"submit", kSubmit}}, 1)}, "a", false, &none, &why));
    EXPECT_EQ("intranet", EntryNameForSite("https://www.intranet.example.com:8443/login"));
}

TEST(PasswordChangeTest, TheCatalogChecksTheEntryAndNewPasswordsKeepItsPolicy) {
    const std::string change = R"([{"name":"pw","kind":"passwordChange","launch":"https://a.example/pw","credential":"Velnor:a",
        "policy":{"length":12,"symbols":"#-"},
        "template":{"url":"https://a.example/pw*","verify":{"success":[{"type":"text","value":"changed"}],
          "failure":[{"type":"text","value":"wrong"}]},"elements":[
          {"find":{"type":"id","value":"old"},"actions":[{"type":"text","valueFrom":"password"}]},
          {"find":{"type":"id","value":"new"},"actions":[{"type":"text","valueFrom":"newPassword"}]}]}}])";
    EXPECT_TRUE(CheckCatalogText(change).empty());
    const std::vector<CatalogEntry> entries = ReadCatalog(change);
    ASSERT_TRUE(entries[0].passwordChange);
    EXPECT_EQ(12, PasswordLength(entries[0].policy));

    std::string noVerify = change;
    noVerify.erase(noVerify.find("\"verify\""), noVerify.find("\"elements\"") - noVerify.find("\"verify\""));
    EXPECT_FALSE(CheckCatalogText(noVerify).empty()) << "only the site's answer may move the new password over";
    std::string login = change;
    const std::string kind = "\"kind\":\"passwordChange\",";
    login.erase(login.find(kind), kind.size());
    EXPECT_FALSE(CheckCatalogText(login).empty()) << "a login entry has no newPassword, nor a policy";

    for (int round = 0; round < 50; ++round) {
        SecretText password;
        ASSERT_TRUE(MakePassword(entries[0].policy, &password));
        ASSERT_EQ(12u, password.size());
        bool lower = false, upper = false, digit = false, symbol = false;
        for (size_t i = 0; i < password.size(); ++i) {
            const wchar_t c = password.data()[i];
            lower |= iswlower(c) != 0;
            upper |= iswupper(c) != 0;
            digit |= iswdigit(c) != 0;
            symbol |= c == L'#' || c == L'-';
            EXPECT_TRUE(iswalnum(c) || c == L'#' || c == L'-') << "only the policy's characters";
        }
        EXPECT_TRUE(lower && upper && digit && symbol) << "one of each class";
    }
    EXPECT_TRUE(IsPendingTarget(L"Velnor:a#bob#PENDING"));
    EXPECT_FALSE(IsAccountOf(L"Velnor:a#pending", L"Velnor:a")) << "a pending password is no account to sign on with";
}

TEST(PasswordChangeTest, TheCatalogWantsBothVerifyListsAndOneRuleSet) {
    const auto entry = [](const std::string& fields, const std::string& verify) {
        return R"([{"name":"pw","kind":"passwordChange","launch":"https://a.example/pw","credential":"Velnor:a",)" + fields +
               R"("template":{"url":"https://a.example/pw*","verify":)" + verify +
               R"(,"elements":[{"actions":[{"type":"text","valueFrom":"newPassword"}]}]}}])";
    };
    const std::string both = R"({"success":[{"type":"id","value":"ok"}],"failure":[{"type":"id","value":"no"}]})";
    const std::string rules = R"("passwordrules":"minlength: 20; required: digit; allowed: [-_]",)";
    ASSERT_TRUE(CheckCatalogText(entry(rules, both)).empty());
    EXPECT_EQ(20, PasswordLength(ReadCatalog(entry(rules, both))[0].policy)) << "the catalog's rules reach the maker";

    const std::string needs = "entry 1 (pw): template: a password change needs verify.";
    const std::pair<std::string, std::vector<std::string>> refused[] = {
        {entry("", R"({"success":[{"type":"id","value":"ok"}]})"), {needs + "failure, at least one find that shows the site refused"}},
        {entry("", R"({"success":[],"failure":[{"type":"id","value":"no"}]})"), {needs + "success, at least one find that shows the site took"}},
        {entry("", "{}"), {needs + "success", needs + "failure"}},
        {entry(R"("passwordrules":"required: unicode",)", both), {"entry 1 (pw): passwordrules: the class unicode cannot be honoured"}},
        {entry(rules + R"("policy":{"length":12},)", both), {"entry 1 (pw): policy and passwordrules are both given"}},
        {entry(R"("policy":{"lower":false,"upper":false,"digits":false,"symbols":false},)", both),
         {"entry 1 (pw): policy: no characters to make a password of"}},
    };
    for (const auto& [text, messages] : refused) {
        const std::vector<std::string> problems = CheckCatalogText(text);
        ASSERT_EQ(messages.size(), problems.size()) << text;
        for (size_t i = 0; i < problems.size(); ++i) EXPECT_EQ(0u, problems[i].find(messages[i])) << problems[i];
    }
    // A template text that says it is a password change is held to the same (check and put).
    EXPECT_EQ(1u, CheckTemplateText(R"([{"url":"u","kind":"passwordChange","elements":[],)"
                                    R"("verify":{"success":[{"type":"id","value":"ok"}]}}])").size());
}

}  // namespace
