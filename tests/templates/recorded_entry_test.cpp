// The catalog entry a recorder's drafts make: what the drafts' pages said of their forms, taken
// as the page's word, and the address the entry opens.
#include "templates/catalog.h"
#include "templates/recorded_entry.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using nlohmann::json;

namespace {

json Find(const char* type, const std::string& value) { return {{"type", type}, {"value", value}}; }

json SentForm(const std::string& page, const json& fields, int userAt) {
    return {{"draft", "r"}, {"page", page}, {"user", Find("name", "user")}, {"password", Find("name", "pass")},
            {"submit", Find("selector", "form#login button")}, {"fields", fields}, {"userAt", userAt}, {"sent", true}};
}

// Each step as "find value: type value-or-valueFrom-or-selected".
std::vector<std::string> Steps(const RecordedEntry& recorded) {
    std::vector<std::string> steps;
    for (const auto& step : recorded.entry["template"]["elements"]) {
        const auto& action = step["actions"][0];
        const std::string detail = action.contains("valueFrom") ? action["valueFrom"].get<std::string>()
                                   : action.contains("selected") ? action["selected"].get<std::string>()
                                   : action.value("value", std::string());
        steps.push_back(step["find"]["value"].get<std::string>() + ": " + action["type"].get<std::string>() + " " + detail);
    }
    return steps;
}

TEST(RecordedEntryTest, TheSentFormsSettingsComeInThePagesOrderBeforeThePasswordAndOnlyAsTheEntryCanSetThem) {
    const json fields = {
        {{"find", Find("name", "driver")}, {"kind", "select"}, {"value", "pgsql"}},
        {{"find", Find("name", "server")}, {"kind", "text"}, {"value", "db.example:5432"}},
        // The page's word, not all of it fit for an entry every user of a catalog runs.
        {{"find", Find("tag", "input")}, {"kind", "text"}, {"value", "x"}},
        {{"find", Find("name", "otp")}, {"kind", "text"}, {"value", "493817"}},
        {{"find", Find("name", "note")}, {"kind", "text"}, {"value", "two\nlines"}},
        {{"find", Find("name", "long")}, {"kind", "text"}, {"value", std::string(kRecordedValueMax + 1, 'a')}},
        {{"find", Find("name", "ref")}, {"kind", "text"}, {"value", "9f86d081884c7d659a2feaa0c55ad015"}},
        {{"find", Find("name", "radio")}, {"kind", "radio"}, {"checked", true}},
        {{"find", Find("name", "permanent")}, {"kind", "checkbox"}, {"checked", true}},
        "not a field"};
    RecordedEntry recorded, plain, unsent;
    std::string why;
    ASSERT_TRUE(EntryFromDrafts({SentForm("https://db.example/", fields, 3)}, "db", false, &recorded, &why));
    EXPECT_EQ((std::vector<std::string>{"driver: select pgsql", "server: text db.example:5432", "user: text username",
                                        "permanent: checkbox true", "pass: text password", "form#login button: click "}),
              Steps(recorded));
    EXPECT_EQ(7u, recorded.notes.size()) << "each field left out is named";
    EXPECT_TRUE(CheckCatalogText("[" + recorded.entry.dump() + "]").empty());
    EXPECT_EQ(300, recorded.entry["template"]["maxRetries"]) << "five minutes for a form a person opens late";

    ASSERT_TRUE(EntryFromDrafts({SentForm("https://db.example/", fields, 3)}, "db", true, &plain, &why));
    EXPECT_EQ(3u, Steps(plain).size()) << "--only-credentials";
    json seen = SentForm("https://db.example/", json::array({{{"find", Find("name", "driver")}, {"kind", "select"}}}), 0);
    seen.erase("sent");
    ASSERT_TRUE(EntryFromDrafts({seen}, "db", false, &unsent, &why));
    EXPECT_EQ(3u, Steps(unsent).size()) << "a form never sent has no settings to give";
}

TEST(RecordedEntryTest, TheEntryLaunchesTheLoginPageByItsQueryWithoutValuesForOneVisitOrOnePerson) {
    RecordedEntry recorded;
    std::string why;
    json draft = SentForm("https://wiki.example/doku.php?id=start&do=login&sectok=9f86d081884c7d659a2feaa0c55ad015&user=bob"
                          "&tenant=3f2504e0-4f89-11d3-9a0c-0305e82c3301&state=xyz&login#top", json::array(), 0);
    ASSERT_TRUE(EntryFromDrafts({draft}, "wiki", false, &recorded, &why));
    EXPECT_EQ("https://wiki.example/doku.php?id=start&do=login&tenant=3f2504e0-4f89-11d3-9a0c-0305e82c3301&login",
              recorded.entry["launch"]);
    EXPECT_EQ("https://wiki.example/doku.php*", recorded.entry["template"]["url"]);
    ASSERT_EQ(1u, recorded.notes.size());
    EXPECT_NE(std::string::npos, recorded.notes[0].find("without sectok, user, state of its address"));
    EXPECT_TRUE(CatalogWarnings("[" + recorded.entry.dump() + "]").empty()) << "its own template matches its page";

    for (const char* secret : {"password", "j_password", "userPin", "sms_code", "one-time-code", "csrf_token",
                               "__RequestVerificationToken", "SAMLRequest", "totp", "state"})
        EXPECT_TRUE(NameSaysSecret(secret)) << secret;
    for (const char* plain : {"spinner", "codec", "username", "server", "domain", "remember", "keep", "id", "do", "realm"})
        EXPECT_FALSE(NameSaysSecret(plain)) << plain;
    EXPECT_TRUE(LooksOneTime("eyJhbGciOiJIUzI1NiJ9"));
    for (const char* plain : {"db-server-01.corp.example.com", "administrator123456", "2024-06-01", "localhost:5432"})
        EXPECT_FALSE(LooksOneTime(plain)) << plain;
}

}  // namespace
