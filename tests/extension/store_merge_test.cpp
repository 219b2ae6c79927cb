// A page's write applied as a change to what it read: the rules on texts, then many tabs in many
// processes, the store tool and the agent writing one store at once.
#include "extension/extension_fixture.h"
#include "templates/store_merge.h"

#include <nlohmann/json.hpp>

#include <wincred.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace exttest;

namespace {

MergeResult Merge(std::wstring_view base, std::wstring_view written, std::wstring_view current,
                  const std::wstring& origin = L"https://a.example") {
    PageWrite write;
    write.base = base;
    write.written = written;
    write.stamp = {origin, 1800000000, L"tab-1", 1};
    MergeResult result;
    EXPECT_EQ(MergeVerdict::kMerged, MergePageWrite(write, current, nullptr, &result));
    if (result.unchanged) result.text = written;
    return result;
}

const std::wstring kTemplate = L"{ \"url\": \"https://a.example/*\", \"elements\": [] }";
const std::wstring kRun = L"{\"url\":\"https://a.example/*\",\"elements\":[],\"ID\":1,\"maxRetries\":0}";
const std::wstring kOther = L"{\"url\":\"https://b.example/*\",\"elements\":[{\"actions\":[]}]}";
const std::wstring kLaunched = L"{\"url\":\"https://c.example/*\",\"launchId\":\"L\",\"elements\":[]}";
const std::wstring kSubmitted = L"{\"url\":\"https://a.example/*\",\"outcome\":\"submitted\",\"attempt\":\"L\"}";

TEST(StoreMergeTest, WhereNobodyWroteTheStoreHoldsWhatThePageWroteButForTheStampsOfWhatItAdded) {
    const std::wstring read = L"[" + kTemplate + L", " + kOther + L"]";
    // The content script's usual write-back: a template dropped, another's run state filled in.
    const std::wstring written = L"[" + kRun + L"]";
    EXPECT_EQ(written, Merge(read, written, read).text) << "byte for byte";
    // A record it adds is stamped by the extension, whatever the page put in "stamp".
    const std::wstring record = L"{\"url\":\"https://a.example/*\",\"outcome\":\"submitted\",\"stamp\":{\"origin\":\"x\"}}";
    EXPECT_EQ(L"[" + kRun + L",{\"url\":\"https://a.example/*\",\"outcome\":\"submitted\",\"stamp\":"
                            L"{\"origin\":\"https://a.example\",\"at\":1800000000,\"tab\":\"tab-1\",\"page\":1}}]",
              Merge(read, L"[" + kRun + L"," + record + L"]", read).text);
    // The object without a page vouches for nobody: what it adds carries no stamp at all.
    EXPECT_EQ(L"[{\"url\":\"https://a.example/*\",\"outcome\":\"submitted\"}]", Merge(L"", L"[" + record + L"]", L"", L"").text);
}

TEST(StoreMergeTest, WhatOthersWroteMeanwhileStaysAsTheyWroteIt) {
    const std::wstring read = L"[" + kTemplate + L"," + kLaunched + L"]";
    // Since the page read: the store tool launched another sign-on, and another tab used the
    // launched one (its outcome record in its place).
    const std::wstring now = L"[" + kTemplate + L"," + kSubmitted + L"," + kOther + L"]";
    const MergeResult merged = Merge(read, L"[" + kRun + L"," + kLaunched + L"]", now);
    EXPECT_EQ(L"[" + kRun + L"," + kSubmitted + L"," + kOther + L"]", merged.text)
        << "the used template does not come back, the new one and the record stay";

    // Another tab only counted down the template the page then dropped: it goes.
    const std::wstring counted = L"{\"url\":\"https://a.example/*\",\"elements\":[],\"maxRetries\":3}";
    EXPECT_EQ(L"[" + kOther + L"]", Merge(read, L"[" + kLaunched + L"]", L"[" + counted + L"," + kOther + L"]").text);
    // Another writer changed what the page removed: its entry stays.
    const std::wstring replaced = L"{\"url\":\"https://a.example/*\",\"elements\":[{\"actions\":[]}]}";
    EXPECT_NE(std::wstring::npos, Merge(read, L"[]", L"[" + replaced + L"]").text.find(replaced));
    // An outcome another tab settled first stays as that tab settled it.
    const std::wstring settled = L"{\"url\":\"https://a.example/*\",\"outcome\":\"failed\",\"attempt\":\"L\"}";
    const std::wstring mine = L"{\"url\":\"https://a.example/*\",\"outcome\":\"succeeded\",\"attempt\":\"L\"}";
    EXPECT_EQ(L"[" + settled + L"]", Merge(L"[" + kSubmitted + L"]", L"[" + mine + L"]", L"[" + settled + L"]").text);
}

TEST(StoreMergeTest, APageFindsWhatItAddedThoughTheStoreCarriesTheStampItNeverSaw) {
    // The page adds a record, then settles it: its copy never had the stamp.
    const std::wstring added = Merge(L"[]", L"[" + kSubmitted + L"]", L"[]").text;
    ASSERT_NE(std::wstring::npos, added.find(L"\"stamp\""));
    const std::wstring settled = L"{\"url\":\"https://a.example/*\",\"outcome\":\"failed\",\"attempt\":\"L\"}";
    const std::wstring now = Merge(L"[" + kSubmitted + L"]", L"[" + settled + L"]", added).text;
    EXPECT_NE(std::wstring::npos, now.find(L"\"failed\"")) << "settled in place";
    EXPECT_EQ(now.find(L"\"attempt\""), now.rfind(L"\"attempt\"")) << "once";
    // Written back unchanged, or with its run state only, an entry keeps the stamp the store holds.
    const std::wstring draft = L"{\"draft\":\"r\",\"url\":\"https://a.example/*\"}";
    const std::wstring stored = Merge(L"[]", L"[" + draft + L"]", L"[]").text;
    EXPECT_EQ(stored, Merge(L"[" + draft + L"]", L"[" + draft + L"," + kOther + L"]", stored).text.substr(0, stored.size() - 1) + L"]");
}

TEST(StoreMergeTest, TextThatIsNoArrayOrNestedTooDeepIsNotMerged) {
    PageWrite write;
    MergeResult result;
    const std::wstring deep = std::wstring(100, L'[') + std::wstring(100, L']');
    write.written = deep;
    EXPECT_EQ(MergeVerdict::kWrittenTooDeep, MergePageWrite(write, L"[]", nullptr, &result));
    write.written = L"[1,]";
    EXPECT_EQ(MergeVerdict::kWrittenNotAnArray, MergePageWrite(write, L"[]", nullptr, &result));
    write.written = L"[]";
    write.isolated = true;
    EXPECT_EQ(MergeVerdict::kStoreNotAnArray, MergePageWrite(write, L"{}", nullptr, &result));
}

// ---- many writers at once ----

struct Writes {
    std::set<std::string> kept, removed;
};

Writes ReadWrites(const std::wstring& file) {
    Writes writes;
    std::istringstream in(testenv::ReadFileBytes(file));
    std::string verb, owner;
    while (in >> verb >> owner) {
        if (verb == "added") writes.kept.insert(owner);
        else writes.kept.erase(owner), writes.removed.insert(owner);
    }
    return writes;
}

class ConcurrentWritersTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { testenv::SetSettingDword(L"TemplateIsolation", GetParam() ? 1 : 0); }
    void TearDown() override {
        testenv::DeleteSetting(L"TemplateIsolation");
        SetStoreText(L"");
    }
};

TEST_P(ConcurrentWritersTest, EveryWriteOfEveryTabAndTheToolLandsAndNoneRemovedComesBack) {
    constexpr int kTabs = 4, kRounds = 60;
    ComPtr<IVelnorIEExt> holder = CreateExtension();   // keeps the store while the writers come and go
    const std::wstring folder = testenv::FreshFolder(L"writers");
    const std::wstring catalog = folder + L"\\catalog.json";
    testenv::WriteFileBytes(catalog, R"([{"name":"c","launch":"https://c.example/","credential":"Velnor:merge-c",
        "template":{"url":"https://c.example/*","elements":[]}}])");
    wchar_t password[] = L"pw";
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<LPWSTR>(L"Velnor:merge-c");
    credential.UserName = const_cast<LPWSTR>(L"u");
    credential.CredentialBlob = reinterpret_cast<LPBYTE>(password);
    credential.CredentialBlobSize = sizeof(password) - sizeof(wchar_t);
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    ASSERT_TRUE(CredWriteW(&credential, 0));
    std::vector<unique_handle> writers;
    for (int t = 0; t < kTabs; ++t)
        writers.emplace_back(testenv::StartProgram(L"page_writer.exe", L"https://site" + std::to_wstring(t) +
                                                                            L".example " + std::to_wstring(kRounds) +
                                                                            L" \"" + folder + L"\\tab" + std::to_wstring(t) + L".txt\""));
    // The store tool at the same time: launches that stay, and launches whose unused template it
    // takes out again.
    int launchesKept = 0;
    for (int i = 0; i < 6; ++i) {
        const bool wait = i % 2;
        const testenv::ProgramResult launched = testenv::RunProgramCaptured(
            L"VelnorSSOStore.exe", L"launch c --no-browser --catalog \"" + catalog + L"\"" + (wait ? L" --wait 1" : L""));
        EXPECT_EQ(wait ? 3 : 0, launched.exitCode) << launched.output;
        launchesKept += !wait && launched.exitCode == 0;
    }
    for (const unique_handle& writer : writers) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer.get(), 240000));

    const std::wstring text = StoreText();
    nlohmann::json stored;
    ASSERT_NO_THROW(stored = nlohmann::json::parse(testenv::Narrow(text))) << "the text parses";
    std::multiset<std::string> owners;
    int launched = 0;
    for (const nlohmann::json& entry : stored) {
        if (entry.contains("owner")) owners.insert(entry["owner"].get<std::string>());
        launched += entry.contains("launchId");
    }
    size_t added = 0, removed = 0;
    for (int t = 0; t < kTabs; ++t) {
        const Writes writes = ReadWrites(folder + L"\\tab" + std::to_wstring(t) + L".txt");
        for (const std::string& owner : writes.kept) EXPECT_EQ(1u, owners.count(owner)) << owner << " is there once";
        for (const std::string& owner : writes.removed) EXPECT_EQ(0u, owners.count(owner)) << owner << " came back";
        added += writes.kept.size() + writes.removed.size();
        removed += writes.removed.size();
    }
    EXPECT_EQ(launchesKept, launched) << "every launch that stays is there, none taken out came back";
    EXPECT_EQ(added - removed + launched, stored.size()) << "nothing else";
    std::cout << "[ counts   ] isolation " << (GetParam() ? "on" : "off") << ": " << kTabs << " tabs wrote " << added
              << " templates and removed " << removed << " of them, the tool launched " << 6 << " (" << launchesKept
              << " kept); the store holds " << stored.size() << " entries, each as expected\n";
    CredDeleteW(L"Velnor:merge-c", CRED_TYPE_GENERIC, 0);
}

INSTANTIATE_TEST_SUITE_P(IsolationOnAndOff, ConcurrentWritersTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "On" : "Off"; });

}  // namespace
