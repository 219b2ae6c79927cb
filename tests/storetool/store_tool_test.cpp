// The template store tool against the real session store: with "hold", with extension objects
// of this process, and with checks and matches that must agree with the browser's rules.
#include "common/com_ptr.h"
#include "common/text.h"
#include "extension/extension_fixture.h"
#include "templates/credentials.h"
#include "templates/template_check.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <nlohmann/json.hpp>

using namespace exttest;
using testenv::ProgramResult;
using testenv::RunProgramCaptured;

namespace {

const wchar_t kTool[] = L"VelnorSSOStore.exe";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// A template file in a fresh folder.
std::wstring WriteTemplates(const std::string& name, const std::string& utf8) {
    static int counter = 0;
    const std::wstring folder = testenv::FreshFolder(L"storetool-" + std::to_wstring(++counter));
    const std::wstring path = folder + L"\\" + testenv::Widen(name);
    testenv::WriteFileBytes(path, utf8);
    return path;
}

ProgramResult Tool(const std::wstring& arguments) { return RunProgramCaptured(kTool, arguments); }

// The whole section as it is now.
std::string SectionBytes() {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    const TemplateStore::View view = store.Access();
    if (!view) return std::string();
    return std::string(reinterpret_cast<const char*>(view.bytes()), kTemplateStoreSize);
}

const std::string kValid =
    u8R"([{"url": "https://intranet.example/login*", "title": "Anmeldung – Zürich",
          "elements": [{"find": {"type": "id", "value": "user"}, "actions": [{"type": "text", "value": "jdoe"}]},
                       {"actions": [{"type": "httpBasicAuth", "username": "jdoe", "password": "pw"}]}]}])";

TEST(StoreToolTest, PutAndGetRoundTripAcrossProcessesWhileHoldRuns) {
    unique_handle hold(testenv::StartProgram(kTool, L"hold"));
    ASSERT_TRUE(hold);
    for (int i = 0; i < 100 && !TemplateStore::Exists(); ++i) Sleep(50);

    const ProgramResult put = Tool(L"put " + Quoted(WriteTemplates("t.json", kValid)));
    EXPECT_EQ(0, put.exitCode) << put.output;
    const ProgramResult get = Tool(L"get");
    EXPECT_EQ(0, get.exitCode);
    EXPECT_EQ("DebugTime: 0\n" + kValid + "\n", get.output);
    const ProgramResult pretty = Tool(L"get --pretty");
    EXPECT_EQ("DebugTime: 0\n" + nlohmann::json::parse(kValid).dump(2) + "\n", pretty.output);

    TerminateProcess(hold.get(), 0);
    WaitForSingleObject(hold.get(), 10000);
    EXPECT_FALSE(TemplateStore::Exists()) << "the store goes with its last holder";
    const ProgramResult refused = Tool(L"put " + Quoted(WriteTemplates("t.json", kValid)));
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_NE(std::string::npos, refused.output.find("the template store is not open in this session"));
}

TEST(StoreToolTest, TextNestedBeyondAnyTemplateIsRefusedByPagesAndShownAsItIs) {
    // No page can write such text (its write is refused before anything walks it), but another
    // program of the session can; indenting it recursively would exhaust the stack.
    ComPtr<IVelnorIEExt> page = exttest::CreateExtension();
    const std::wstring deep = std::wstring(250000, L'[') + std::wstring(250000, L']');
    ASSERT_TRUE(exttest::SetStoreText(L"[]"));
    EXPECT_EQ(E_INVALIDARG, exttest::PutTemplates(page, deep));
    EXPECT_EQ(L"[]", exttest::StoreText()) << "byte for byte";
    ASSERT_TRUE(exttest::SetStoreText(deep));
    const ProgramResult pretty = Tool(L"get --pretty");
    EXPECT_EQ(0, pretty.exitCode);
    EXPECT_NE(std::string::npos, pretty.output.find("nested deeper than 64 levels; shown as it is"));
    EXPECT_NE(std::string::npos, pretty.output.find(std::string(250000, '[') + std::string(250000, ']')));
    ASSERT_TRUE(exttest::SetStoreText(L""));
}

TEST(StoreToolTest, ExtensionObjectsAndTheToolShareTheStore) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(0, Tool(L"put " + Quoted(WriteTemplates("t.json", kValid))).exitCode);
    EXPECT_EQ(Utf8ToWide(kValid), Templates(object)) << "UTF-8 in the file, UTF-16 in the store";

    ASSERT_EQ(S_OK, PutTemplates(object, L"[{\"url\":\"https://b/*\",\"elements\":[],\"ID\":1}]"));
    ASSERT_EQ(S_OK, object->put_DebugTime(0));
    EXPECT_EQ(0, Tool(L"debug 45").exitCode);
    EXPECT_EQ(45, DebugTime(object));
    EXPECT_EQ("DebugTime: 45\n[{\"url\":\"https://b/*\",\"elements\":[],\"ID\":1}]\n", Tool(L"get").output);
    EXPECT_EQ(0, Tool(L"debug 0").exitCode);
    EXPECT_EQ(2, Tool(L"debug soon").exitCode);
}

TEST(StoreToolTest, EveryRefusalLeavesTheStoreByteForByteUnchanged) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, PutTemplates(object, L"[\"kept\"]"));
    ASSERT_EQ(S_OK, object->put_DebugTime(-7));
    const std::string before = SectionBytes();
    ASSERT_EQ(kTemplateStoreSize, before.size());

    std::string oversize = "[{\"url\": \"https://a/*\", \"elements\": [], \"notes\": \"";
    oversize += std::string(kMaxTemplateTextLength, 'x') + "\"}]";
    for (const std::string& text : {std::string("[{\"url\": "), std::string("[{\"elements\": []}]"), oversize,
                                    std::string("\xFF\xFE[]"), std::string("{}")}) {
        const ProgramResult result = Tool(L"put " + Quoted(WriteTemplates("bad.json", text)));
        EXPECT_EQ(1, result.exitCode) << result.output;
        EXPECT_NE(std::string::npos, result.output.find("nothing was stored")) << result.output;
        EXPECT_TRUE(before == SectionBytes()) << "after " << text.substr(0, 40);
    }
    EXPECT_EQ(1, Tool(L"put C:\\no\\such\\file.json").exitCode);
    EXPECT_TRUE(before == SectionBytes());
    object->put_DebugTime(0);
}

TEST(StoreToolTest, CheckNamesEachProblem) {
    EXPECT_TRUE(CheckTemplateText(kValid).empty());

    // Through the program: one line per problem, prefixed with the file, and the exit code.
    const std::wstring file = WriteTemplates("two.json", "[{\"url\": \"u\"}, 5]");
    const ProgramResult result = Tool(L"check " + Quoted(file));
    EXPECT_EQ(1, result.exitCode);
    const std::string prefix = testenv::Narrow(file) + ": ";
    EXPECT_EQ(prefix + "template 1 (u): elements is required\n" + prefix + "template 2: must be an object\n", result.output);
    EXPECT_EQ(0, Tool(L"check " + Quoted(WriteTemplates("good.json", kValid))).exitCode);

    // A pattern that ends inside the host name is valid, with a warning.
    const std::wstring loose = WriteTemplates("loose.json", "[{\"url\": \"https://bank.example.com*\", \"elements\": []},"
                                                             " {\"url\": \"https://bank.example.com/*\", \"elements\": []}]");
    const ProgramResult warned = Tool(L"check " + Quoted(loose));
    EXPECT_EQ(0, warned.exitCode);
    EXPECT_EQ(testenv::Narrow(loose) + ": warning: template 1 (https://bank.example.com*): \"*\" is not a glob: this pattern "
              "matches every site whose address starts with \"https://bank.example.com\", such as "
              "https://bank.example.com.other.example/; end the host with \"/\" (https://bank.example.com/*); under "
              "template isolation no page is given it\n" + testenv::Narrow(loose) + ": valid\n",
              warned.output);
}

// Patterns that cross hosts: errors with isolation on (no page is given them), warnings without
// it; patterns that can never match a page are warned about either way.
TEST(StoreToolTest, CheckReportsPatternsThatCrossHostsAsErrorsUnderIsolation) {
    const char* broad[] = {"*.corp.example/login*", "https://*.corp.example/*", "http*", "*bank.example/login",
                           "https://bank.example*"};
    std::string text = "[";
    for (const char* pattern : broad) text += std::string("{\"url\": \"") + pattern + "\", \"elements\": []}, ";
    text += "{\"url\": \"\", \"elements\": []}, {\"url\": \" https://site/*\", \"elements\": []}, "
            "{\"url\": \"site/login*\", \"elements\": []}, {\"url\": \"https://site/*\", \"elements\": []}]";
    const std::wstring file = WriteTemplates("broad.json", text);
    const std::string prefix = testenv::Narrow(file) + ": ";
    for (const bool isolation : {false, true}) {
        testenv::SetSettingDword(L"TemplateIsolation", isolation ? 1 : 0);
        const ProgramResult result = Tool(L"check " + Quoted(file));
        EXPECT_EQ(isolation ? 1 : 0, result.exitCode);
        for (size_t i = 0; i < 5; ++i) {
            const std::string line = prefix + (isolation ? "" : "warning: ") + "template " + std::to_string(i + 1) + " (" +
                                     broad[i] + "): \"*\" is not a glob: this pattern matches every site";
            EXPECT_NE(std::string::npos, result.output.find(line)) << line << "\n" << result.output;
        }
        EXPECT_NE(std::string::npos, result.output.find(prefix + "warning: template 6 (): this pattern can never match a "
                                                                  "page: it is empty\n"));
        EXPECT_NE(std::string::npos, result.output.find(prefix + "warning: template 7 ( https://site/*): this pattern can "
                                                                  "never match a page: it starts with white space\n"));
        EXPECT_NE(std::string::npos, result.output.find(prefix + "warning: template 8 (site/login*): this pattern can never "
                                                                  "match a page: it does not start with a scheme"));
        EXPECT_EQ(std::string::npos, result.output.find("template 9")) << "a pattern of one whole site is sound";
        EXPECT_EQ(isolation, result.output.find(prefix + "valid\n") == std::string::npos);

        // match shows the same verdict, and what a page of another site reads: nothing.
        const ProgramResult match = Tool(L"match " + Quoted(file) + L" https://evil.test/login");
        EXPECT_NE(std::string::npos, match.output.find("  3 http*: applies; \"*\" is not a glob: the pattern matches other "
                                                       "sites too\n"))
            << match.output;
        EXPECT_NE(std::string::npos, match.output.find("under template isolation a page at https://evil.test/login reads "
                                                       "no template\n"))
            << match.output;
    }
    testenv::DeleteSetting(L"TemplateIsolation");
}

TEST(StoreToolMatchTest, MatchTellsWhatAppliesAndWhoAnswersAsTheBrowserWould) {
    const std::string text = R"([
      {"url": "https://site/login*", "title": "Sign*", "elements": [
        {"actions": [{"type": "httpBasicAuth", "username": "first", "password": "p1"}]}]},
      {"url": "https://SITE/*", "elements": [
        {"actions": [{"type": "httpBasicAuth", "username": "second", "password": "p2"}]}]},
      {"url": "https://other/*", "elements": [
        {"actions": [{"type": "httpBasicAuth", "username": "third", "password": "p3"}]}]}
    ])";
    const std::wstring file = WriteTemplates("match.json", text);
    const ProgramResult result = Tool(L"match " + Quoted(file) + L" https://site/login?x=1 \"Sign in\"");
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ("templates for https://site/login?x=1, title \"Sign in\":\n"
              "  1 https://site/login*: applies\n"
              "  2 https://SITE/*: does not apply (url)\n"
              "  3 https://other/*: does not apply (url)\n"
              "under template isolation a page at https://site/login?x=1 reads template 1\n"
              "Basic credentials for a navigation to https://site/login?x=1:\n"
              "  https://site/login* (user first): matches\n"
              "  https://SITE/* (user second): matches\n"
              "  https://other/* (user third): does not match\n"
              "  the browser is answered with user second\n",
              result.output);
    EXPECT_EQ(std::string::npos, result.output.find("p2")) << "passwords are not shown";

    // The extension object, given the same records for the same navigation, answers the same.
    host::FakeBrowser browser;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    unique_bstr credentials(SysAllocString(L"https://site/login*\rfirst\rp1\nhttps://SITE/*\rsecond\rp2\nhttps://other/*\rthird\rp3"));
    ASSERT_EQ(S_OK, object->put_AuthCreds(credentials.get()));
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://site/login?x=1"));
    ComPtr<IAuthenticate> authenticate;
    ASSERT_EQ(S_OK, object.As(IID_IAuthenticate, &authenticate));
    HWND window = nullptr;
    LPWSTR user = nullptr, password = nullptr;
    ASSERT_EQ(S_OK, authenticate->Authenticate(&window, &user, &password));
    ASSERT_NE(nullptr, user);
    EXPECT_STREQ(L"second", user);
    CoTaskMemFree(user);
    CoTaskMemFree(password);
    site->SetSite(nullptr);

    const ProgramResult untitled = Tool(L"match " + Quoted(file) + L" https://site/login");
    EXPECT_NE(std::string::npos, untitled.output.find("  1 https://site/login*: applies if the title matches \"Sign*\"\n"));
}

TEST(StoreToolTest, EveryCommandHasHelpAndWrongUseIsAnError) {
    for (const wchar_t* command : {L"check", L"put", L"get", L"debug", L"match", L"hold", L"cred", L"catalog", L"launch", L"agent"}) {
        const ProgramResult help = Tool(std::wstring(command) + L" --help");
        EXPECT_EQ(0, help.exitCode);
        EXPECT_EQ(0u, help.output.find("usage: VelnorSSOStore " + testenv::Narrow(command))) << help.output;
    }
    EXPECT_EQ(2, Tool(L"").exitCode);
    EXPECT_EQ(2, Tool(L"frobnicate").exitCode);
    EXPECT_EQ(2, Tool(L"put").exitCode);
    EXPECT_EQ(2, Tool(L"cred").exitCode);
    EXPECT_EQ(2, Tool(L"cred frobnicate").exitCode);
    EXPECT_EQ(2, Tool(L"launch").exitCode);
    EXPECT_EQ(2, Tool(L"agent --now").exitCode);
    EXPECT_EQ(0, Tool(L"--help").exitCode);
}

}  // namespace
