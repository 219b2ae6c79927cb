// Preparing sign-ons with the built VelnorSSOStore.exe: credentials in Wine's Credential
// Manager, the catalog and its check, launch against the real session store (held by "hold" or
// the agent), and the agent itself.
#include "common/com_ptr.h"
#include "common/object_security.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "extension/page_binding.h"
#include "extension/velnor_ie_ext.h"
#include "support/test_environment.h"
#include "templates/patterns.h"
#include "templates/template_store.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>
#include <wincred.h>

#include <ctime>
#include <functional>

using testenv::ProgramResult;
using testenv::RunProgramCaptured;

namespace {

const wchar_t kTool[] = L"VelnorSSOStore.exe";
// Passwords that must appear in the store and nowhere else.
const char kPassword[] = "Pw-\xC3\xA9-\"q\"-7781";        // UTF-8 with a quote, as a pipe gives it
const wchar_t kPasswordWide[] = L"Pw-\u00E9-\"q\"-7781";
const char kBobPassword[] = "bob-secret-5512";
// The blob limit of Windows 7 and later (5 * 512 bytes), in UTF-16 units.
constexpr size_t kMaxPasswordUnitsForTest() { return 1280; }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring ToolPath() { return testenv::BinFolder() + kTool; }

// Runs the tool with `input` on its standard input (a pipe, as "echo pw | tool" gives it).
ProgramResult ToolWithInput(const std::wstring& arguments, const std::string& input) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&inRead, &inWrite, &inherit, 0)) return result;
    unique_handle reader(outRead), writer(outWrite), childIn(inRead), feeder(inWrite);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(feeder.get(), HANDLE_FLAG_INHERIT, 0);
    std::wstring commandLine = Quoted(ToolPath()) + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    startup.hStdInput = childIn.get();
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(ToolPath().c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return result;
    CloseHandle(process.hThread);
    unique_handle child(process.hProcess);
    writer.reset();
    childIn.reset();
    DWORD written = 0;
    WriteFile(feeder.get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    feeder.reset();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) result.output.append(buffer, read);
    if (WaitForSingleObject(child.get(), 60000) != WAIT_OBJECT_0) return result;
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

ProgramResult Tool(const std::wstring& arguments) { return RunProgramCaptured(kTool, arguments); }

std::wstring SaveFile(const std::string& name, const std::string& utf8) {
    static int counter = 0;
    const std::wstring folder = testenv::FreshFolder(L"launcher-" + std::to_wstring(++counter));
    const std::wstring path = folder + L"\\" + testenv::Widen(name);
    testenv::WriteFileBytes(path, utf8);
    return path;
}

std::string SectionBytes() {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    const TemplateStore::View view = store.Access();
    if (!view) return std::string();
    return std::string(reinterpret_cast<const char*>(view.bytes()), kTemplateStoreSize);
}

std::wstring StoreText() {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    const TemplateStore::View view = store.Access();
    return view ? view.ReadText() : std::wstring();
}

void SetStoreText(const std::wstring& text) {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    TemplateStore::View view = store.Access();
    ASSERT_TRUE(view);
    ASSERT_TRUE(view.WriteText(text.c_str()));
}

bool ReadCredential(const wchar_t* target, std::wstring* user, std::wstring* password, DWORD* persist = nullptr) {
    PCREDENTIALW credential = nullptr;
    if (!CredReadW(target, CRED_TYPE_GENERIC, 0, &credential)) return false;
    *user = credential->UserName ? credential->UserName : L"";
    password->assign(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                     credential->CredentialBlobSize / sizeof(wchar_t));
    if (persist) *persist = credential->Persist;
    CredFree(credential);
    return true;
}

void DeleteCredential(const wchar_t* target) { CredDeleteW(target, CRED_TYPE_GENERIC, 0); }

const char kCatalog[] = R"([
  {"name": "app", "launch": "https://intranet.example/login?from=velnor", "credential": "Velnor:test-app",
   "template": {"url": "https://intranet.example/login*", "maxRetries": 2, "elements": [
     {"find": {"type": "id", "value": "user"}, "actions": [{"type": "text", "valueFrom": "username"}]},
     {"find": {"type": "id", "value": "password"}, "actions": [{"type": "text", "valueFrom": "password", "events": true}]},
     {"actions": [{"type": "httpBasicAuth", "valueFrom": "credential"}]},
     {"find": {"type": "id", "value": "go"}, "actions": [{"type": "click"}]}]}},
  {"name": "multi", "launch": "https://multi.example/", "credential": "Velnor:test-multi", "lifetime": 600,
   "template": {"url": "https://multi.example/*", "elements": [
     {"find": {"type": "name", "value": "login"}, "actions": [{"type": "text", "valueFrom": "username"}]},
     {"find": {"type": "name", "value": "pwd"}, "actions": [{"type": "text", "valueFrom": "password"}]}]}},
  {"name": "roaming", "launch": "https://roam.example/", "credential": "Velnor:test-roam", "persist": "enterprise",
   "template": {"url": "https://roam.example/*", "elements": []}}
])";

const std::string kExisting =
    "[{\"url\": \"https://kept.example/*\", \"elements\": [], \"owner\": \"\xC3\xBC\"},\n {\"url\": \"https://b/*\","
    " \"elements\": [{\"actions\": [{\"type\": \"keypress\"}]}]}]";

// Runs `hold` for the life of one test.
class HeldStore {
public:
    HeldStore() : m_hold(testenv::StartProgram(kTool, L"hold")) {
        for (int i = 0; i < 200 && !TemplateStore::Exists(); ++i) Sleep(50);
    }
    ~HeldStore() {
        TerminateProcess(m_hold.get(), 0);
        WaitForSingleObject(m_hold.get(), 10000);
    }

private:
    unique_handle m_hold;
};

// Every file of the Wine prefix written since `since`, and the log, must not hold the password
// in UTF-8 or UTF-16.
void ExpectPasswordInNoFile(const FILETIME& since, const std::string& utf8Password) {
    const std::wstring wide = Utf8ToWide(utf8Password);
    const std::string utf16(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    const char* prefix = getenv("WINEPREFIX");
    ASSERT_NE(nullptr, prefix) << "the tests run under Wine with WINEPREFIX set";
    std::wstring root = L"Z:" + testenv::Widen(prefix);
    for (wchar_t& c : root)
        if (c == L'/') c = L'\\';
    int scanned = 0;
    std::function<void(const std::wstring&)> walk = [&](const std::wstring& folder) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return;
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;   // dosdevices links
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (name != L"dosdevices") walk(path);
                continue;
            }
            if (CompareFileTime(&data.ftLastWriteTime, &since) < 0) continue;
            const std::string bytes = testenv::ReadFileBytes(path);
            ++scanned;
            EXPECT_EQ(std::string::npos, bytes.find(utf8Password)) << testenv::Narrow(path);
            EXPECT_EQ(std::string::npos, bytes.find(utf16)) << testenv::Narrow(path);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    };
    walk(root);
    EXPECT_LT(0, scanned) << "the test's own files were written there";
    const std::string log = testenv::ReadFileBytes(testenv::OwnLogFile());
    EXPECT_EQ(std::string::npos, log.find(utf8Password));
}

FILETIME Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    // File times of some file systems are coarse: start a little earlier.
    ULARGE_INTEGER value = {{now.dwLowDateTime, now.dwHighDateTime}};
    value.QuadPart -= 20000000ULL;
    return {value.LowPart, value.HighPart};
}

TEST(StoreToolCredTest, SetFromAPipeListAndDeleteRoundTripThroughCredentialManager) {
    DeleteCredential(L"Velnor:test-pipe");
    const ProgramResult set = ToolWithInput(L"cred set Velnor:test-pipe alice", std::string(kPassword) + "\r\nnext line\n");
    ASSERT_EQ(0, set.exitCode) << set.output;
    EXPECT_EQ("stored credential Velnor:test-pipe for user alice (local)\n", set.output);
    std::wstring user, password;
    DWORD persist = 0;
    ASSERT_TRUE(ReadCredential(L"Velnor:test-pipe", &user, &password, &persist));
    EXPECT_EQ(L"alice", user);
    EXPECT_EQ(kPasswordWide, password) << "one line, CR and LF stripped, UTF-8 read as such";
    EXPECT_EQ(static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE), persist);

    // Replacing keeps one credential; list shows target and user, never the password.
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-pipe alice2", "other\n").exitCode);
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-pipe#b bob", "x\n").exitCode);
    const ProgramResult list = Tool(L"cred list Velnor:test-pipe");
    EXPECT_EQ(0, list.exitCode);
    EXPECT_EQ("Velnor:test-pipe  user alice2  (local)\nVelnor:test-pipe#b  user bob  (local)\n", list.output);
    EXPECT_NE(std::string::npos, Tool(L"cred list").output.find("Velnor:test-pipe  user alice2")) << "all Velnor: targets";
    EXPECT_EQ(list.output, Tool(L"cred list test-pipe").output) << "a prefix without Velnor: means one with it";

    const ProgramResult removed = Tool(L"cred delete Velnor:test-pipe");
    EXPECT_EQ(0, removed.exitCode);
    EXPECT_FALSE(ReadCredential(L"Velnor:test-pipe", &user, &password));
    EXPECT_TRUE(ReadCredential(L"Velnor:test-pipe#b", &user, &password)) << "only the one named";
    const ProgramResult again = Tool(L"cred delete Velnor:test-pipe");
    EXPECT_EQ(1, again.exitCode);
    EXPECT_EQ("no credential Velnor:test-pipe for this user\n", again.output);
    EXPECT_EQ(0, Tool(L"cred delete Velnor:test-pipe#b").exitCode);
    EXPECT_EQ("no credentials Velnor:test-pipe* for this user\n", Tool(L"cred list Velnor:test-pipe").output);
}

TEST(StoreToolCredTest, RefusesWhatCredentialManagerMustNotKeep) {
    DeleteCredential(L"Velnor:test-refused");
    std::wstring user, password;
    struct Case {
        std::wstring arguments;
        std::string input, message;
        int exitCode;
    };
    const Case cases[] = {
        {L"cred set Velnor:test-refused u", "\r\n", "no password was given; nothing was stored\n", 1},
        {L"cred set Velnor:test-refused u", "", "no password was given; nothing was stored\n", 1},
        {L"cred set Velnor:test-refused u", std::string(kMaxPasswordUnitsForTest() + 1, 'p') + "\n",
         "the password is longer than Credential Manager keeps (1280 UTF-16 units); nothing was stored\n", 1},
        {L"cred set Velnor:test-refused u", "a\rb\n", "the password must be one line without control characters CR or NUL; nothing was stored\n", 1},
        {L"cred set Velnor:test-refused u", "\xC3\x28\n", "the password is not valid UTF-8; nothing was stored\n", 1},
        {L"cred set Other:test-refused u", "pw\n", "the target must start with Velnor:", 1},
        {L"cred set Velnor:test-refused u pw", "", "usage: VelnorSSOStore cred set", 2},   // never on the command line
        {L"cred set Velnor:test-refused", "", "usage: VelnorSSOStore cred set", 2},
    };
    for (const Case& c : cases) {
        const ProgramResult result = ToolWithInput(c.arguments, c.input);
        EXPECT_EQ(c.exitCode, result.exitCode) << testenv::Narrow(c.arguments) << " " << c.input.substr(0, 10);
        EXPECT_EQ(0u, result.output.find(c.message)) << result.output;
        EXPECT_FALSE(ReadCredential(L"Velnor:test-refused", &user, &password));
    }
    // Exactly at the blob limit is kept whole.
    const std::string longest(kMaxPasswordUnitsForTest() - 1, 'q');
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-refused u", longest + "q\n").exitCode);
    ASSERT_TRUE(ReadCredential(L"Velnor:test-refused", &user, &password));
    EXPECT_EQ(kMaxPasswordUnitsForTest(), password.size());
    DeleteCredential(L"Velnor:test-refused");
}

TEST(StoreToolCredTest, ACredentialRoamsOnlyWhenItsCatalogEntrySaysEnterprise) {
    const std::wstring catalog = SaveFile("catalog.json", kCatalog);
    std::wstring user, password;
    DWORD persist = 0;
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-roam r --catalog " + Quoted(catalog), "pw\n").exitCode);
    ASSERT_TRUE(ReadCredential(L"Velnor:test-roam", &user, &password, &persist));
    EXPECT_EQ(static_cast<DWORD>(CRED_PERSIST_ENTERPRISE), persist);
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-roam#two r2 --catalog " + Quoted(catalog), "pw\n").exitCode);
    ASSERT_TRUE(ReadCredential(L"Velnor:test-roam#two", &user, &password, &persist));
    EXPECT_EQ(static_cast<DWORD>(CRED_PERSIST_ENTERPRISE), persist) << "an account of the entry too";
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-app a --catalog " + Quoted(catalog), "pw\n").exitCode);
    ASSERT_TRUE(ReadCredential(L"Velnor:test-app", &user, &password, &persist));
    EXPECT_EQ(static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE), persist);
    for (const wchar_t* target : {L"Velnor:test-roam", L"Velnor:test-roam#two", L"Velnor:test-app"}) DeleteCredential(target);
}

TEST(StoreToolCatalogTest, CheckValidatesACatalogAndRefusesOneThatCarriesAPassword) {
    const std::wstring good = SaveFile("catalog.json", kCatalog);
    const ProgramResult valid = Tool(L"check " + Quoted(good));
    EXPECT_EQ(0, valid.exitCode) << valid.output;
    EXPECT_EQ(testenv::Narrow(good) + ": valid catalog\n", valid.output);
    EXPECT_EQ(0, Tool(L"check --catalog " + Quoted(good)).exitCode);

    struct Case {
        std::string text;
        std::vector<std::string> messages;
    };
    const std::string entry = R"("name": "x", "launch": "https://x/", "credential": "Velnor:x")";
    const Case cases[] = {
        {"[{" + entry + R"(, "template": {"url": "https://x/*", "elements": [{"actions": [{"type": "httpBasicAuth", "username": "u", "password": "secret"}]}]}}])",
         {"entry 1 (x): template.elements[0].actions[0] carries a password: write \"valueFrom\": \"credential\" instead"}},
        {"[{" + entry + R"(, "template": {"url": "https://x/*", "elements": [{"find": {"type": "selector", "value": "input[type=password]"}, "actions": [{"type": "text", "value": "secret"}]}]}}])",
         {"entry 1 (x): template.elements[0].actions[0] types a literal value into a password field: write \"valueFrom\": \"password\" instead"}},
        {"[{" + entry + R"(, "template": {"url": "https://x/*", "elements": [{"actions": [{"type": "text", "valueFrom": "pin", "value": "1"}, {"type": "click", "valueFrom": "username"}, {"type": "httpBasicAuth", "valueFrom": "password"}]}]}}])",
         {"entry 1 (x): template.elements[0].actions[0].valueFrom must be \"username\" or \"password\"",
          "entry 1 (x): template.elements[0].actions[0] has both value and valueFrom",
          "entry 1 (x): template.elements[0].actions[1].valueFrom is taken by text and httpBasicAuth actions only",
          "entry 1 (x): template.elements[0].actions[2].valueFrom must be \"credential\" for httpBasicAuth"}},
        {R"J([{"name": "", "launch": "javascript:alert(1)", "credential": "Other:x", "persist": "cloud", "lifetime": 5, "template": []},
            {"name": "y", "launch": "https://y/ \"--x", "credential": "Velnor:y#z", "template": {"url": "u", "elements": [], "expires": 1}},
            {"name": "y", "launch": "https://y/", "credential": "Velnor:y", "template": {"elements": []}}, 5])J",
         {"entry 1: name must be a non-empty string",
          "entry 1: launch must be an http:// or https:// address without spaces or quotes",
          "entry 1: credential must be a string starting with Velnor:",
          "entry 1: persist must be \"local\" or \"enterprise\"",
          "entry 1: lifetime must be a whole number of seconds from 10 to 86400",
          "entry 1: template must be an object",
          "entry 2 (y): launch must be an http:// or https:// address without spaces or quotes",
          "entry 2 (y): credential must not contain \"#\"",
          "entry 2 (y): template.expires is set at each launch, not in the catalog",
          "entry 3 (y): name is given to an earlier entry too",
          "entry 3 (y): template: url is required",
          "entry 4: must be an object"}},
        {"[{" + entry + ", \"template\": 1", {"JSON syntax error at line 1, column "}},
    };
    for (const Case& c : cases) {
        const std::wstring file = SaveFile("bad.json", c.text);
        const ProgramResult result = Tool(L"check --catalog " + Quoted(file));
        EXPECT_EQ(1, result.exitCode) << result.output;
        size_t at = 0;
        for (const std::string& message : c.messages) {
            const size_t found = result.output.find(testenv::Narrow(file) + ": " + message, at);
            EXPECT_NE(std::string::npos, found) << message << "\nin\n" << result.output;
            if (found != std::string::npos) at = found;
        }
    }
    // A launch address that its own template does not match is valid, with a warning.
    const std::wstring loose = SaveFile("loose.json", "[{" + entry + R"(, "template": {"url": "https://other/*", "elements": []}}])");
    const ProgramResult warned = Tool(L"check " + Quoted(loose));
    EXPECT_EQ(0, warned.exitCode);
    EXPECT_NE(std::string::npos, warned.output.find("warning: entry 1 (x): the template's url does not match the launch address"));
}

// Every launch test: the catalog, the test's credentials, a held store with templates in it.
class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_catalog = SaveFile("catalog.json", kCatalog);
        DeleteCredential(L"Velnor:test-app");
        ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-app alice", std::string(kPassword) + "\n").exitCode);
        ASSERT_TRUE(TemplateStore::Exists());
        SetStoreText(Utf8ToWide(kExisting));
    }
    void TearDown() override {
        for (const wchar_t* target : {L"Velnor:test-app", L"Velnor:test-multi", L"Velnor:test-multi#bob"})
            DeleteCredential(target);
        SetStoreText(L"");
    }
    ProgramResult Launch(const std::wstring& arguments) {
        return Tool(L"launch " + arguments + L" --catalog " + Quoted(m_catalog));
    }

    HeldStore m_held;
    std::wstring m_catalog;
};

TEST_F(LaunchTest, NoBrowserAddsTheResolvedTemplateBesideTheStoredOnesAndThePasswordGoesNowhereElse) {
    const FILETIME started = Now();
    const long long before = static_cast<long long>(time(nullptr));
    const ProgramResult result = Launch(L"app --no-browser");
    ASSERT_EQ(0, result.exitCode) << result.output;
    EXPECT_EQ("prepared sign-on app for user alice (its template expires in 120 seconds unless a page uses it)\n",
              result.output);

    const std::string stored = WideToUtf8(StoreText());
    // The stored templates stay byte for byte; the new one comes after the last of them.
    const size_t lastEnd = kExisting.size() - 1;
    ASSERT_EQ(kExisting.substr(0, lastEnd), stored.substr(0, lastEnd));
    EXPECT_EQ(']', stored.back());
    const nlohmann::json all = nlohmann::json::parse(stored);
    ASSERT_EQ(3u, all.size());
    const nlohmann::json& launched = all[2];
    EXPECT_EQ("https://intranet.example/login*", launched["url"]);
    EXPECT_EQ(2, launched["maxRetries"]);
    const nlohmann::json& steps = launched["elements"];
    EXPECT_EQ(nlohmann::json::parse(R"([{"type": "text", "value": "alice"}])"), steps[0]["actions"]);
    EXPECT_EQ(kPassword, steps[1]["actions"][0]["value"].get<std::string>()) << "quotes escaped, UTF-8 kept";
    EXPECT_TRUE(steps[1]["actions"][0]["events"].get<bool>());
    EXPECT_FALSE(steps[1]["actions"][0].contains("valueFrom"));
    EXPECT_EQ(nlohmann::json::parse(std::string(R"({"type": "httpBasicAuth", "username": "alice", "password": ")") +
                                    "Pw-\xC3\xA9-\\\"q\\\"-7781\"}"),
              steps[2]["actions"][0]);
    ASSERT_TRUE(launched["expires"].is_number_integer());
    const long long expires = launched["expires"].get<long long>();
    EXPECT_GE(expires, before + 120 - 2);
    EXPECT_LE(expires, static_cast<long long>(time(nullptr)) + 120 + 2);
    EXPECT_TRUE(launched["launchId"].is_string());

    // Nowhere but in the store: not on the console, not in any file written meanwhile.
    EXPECT_EQ(std::string::npos, result.output.find("7781"));
    ExpectPasswordInNoFile(started, kPassword);

    // A second launch adds a second template; the first stays.
    ASSERT_EQ(0, Launch(L"app --no-browser").exitCode);
    const nlohmann::json twice = nlohmann::json::parse(WideToUtf8(StoreText()));
    ASSERT_EQ(4u, twice.size());
    EXPECT_EQ(launched, twice[2]);
    EXPECT_NE(twice[2]["launchId"], twice[3]["launchId"]);

    // put still replaces the whole store, and now says what it replaced.
    const ProgramResult put = Tool(L"put " + Quoted(SaveFile("one.json", "[{\"url\": \"https://x/*\", \"elements\": []}]")));
    EXPECT_EQ(0, put.exitCode);
    EXPECT_EQ("stored 40 characters, replacing 4 templates\n", put.output);
    SetStoreText(L"{}");
    EXPECT_EQ("stored 40 characters, replacing text that was no template array\n",
              Tool(L"put " + Quoted(SaveFile("one.json", "[{\"url\": \"https://x/*\", \"elements\": []}]"))).output);
}

TEST_F(LaunchTest, TheBrowserCommandReceivesTheLaunchAddressAndNothingSecret) {
    const std::wstring folder = testenv::FreshFolder(L"launcher-browser");
    const std::wstring received = folder + L"\\received.txt";
    // A stand-in browser: cmd writes its command line's last argument to a file.
    const ProgramResult result = Launch(L"app --browser \"cmd.exe /c echo>" + received + L"\"");
    ASSERT_EQ(0, result.exitCode) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("opened https://intranet.example/login?from=velnor\n"));
    std::string line;
    for (int i = 0; i < 100; ++i) {
        line = testenv::ReadFileBytes(received);
        if (line.find('\n') != std::string::npos) break;
        Sleep(100);
    }
    EXPECT_EQ("\"https://intranet.example/login?from=velnor\"\r\n", line);
    EXPECT_EQ(3u, nlohmann::json::parse(WideToUtf8(StoreText())).size());

    // A browser that cannot start takes the prepared template out again.
    const std::string before = SectionBytes();
    const ProgramResult failed = Launch(L"app --browser C:\\no\\such\\browser.exe");
    EXPECT_EQ(1, failed.exitCode);
    EXPECT_NE(std::string::npos, failed.output.find("the browser could not be started"));
    EXPECT_NE(std::string::npos, failed.output.find("the sign-on was taken out of the store again"));
    EXPECT_TRUE(before == SectionBytes());
}

TEST_F(LaunchTest, EveryFailureSaysWhatToDoAndLeavesTheStoreByteForByte) {
    const std::string before = SectionBytes();
    ASSERT_EQ(kTemplateStoreSize, before.size());
    struct Case {
        std::wstring arguments;
        std::string message;
    };
    const std::wstring broken = SaveFile("broken.json", "[{\"name\": \"app\",");
    const std::wstring secretive = SaveFile("secretive.json", R"([{"name": "app", "launch": "https://x/", "credential": "Velnor:test-app", "template": {"url": "https://x/*", "elements": [{"actions": [{"type": "httpBasicAuth", "username": "u", "password": "p"}]}]}}])");
    const Case cases[] = {
        {L"launch multi --no-browser --catalog " + Quoted(m_catalog),
         "no credential Velnor:test-multi for this user: run VelnorSSOStore cred set Velnor:test-multi USERNAME\n"},
        {L"launch nothing --no-browser --catalog " + Quoted(m_catalog),
         "no sign-on \"nothing\" in the catalog " + testenv::Narrow(m_catalog) + ": run VelnorSSOStore catalog to see its entries\n"},
        {L"launch app --no-browser --catalog " + Quoted(broken), testenv::Narrow(broken) + ": JSON syntax error"},
        {L"launch app --no-browser --catalog " + Quoted(secretive), testenv::Narrow(secretive) + ": entry 1 (app): template.elements[0].actions[0] carries a password"},
        {L"launch app --no-browser --catalog C:\\no\\such\\catalog.json",
         "C:\\no\\such\\catalog.json: the catalog (--catalog) cannot be read: check that the file or its share is reachable"},
        {L"launch app --no-browser --account nobody --catalog " + Quoted(m_catalog),
         "no credential of Velnor:test-app for account nobody: run VelnorSSOStore cred set Velnor:test-app#nobody nobody\n"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = Tool(c.arguments);
        EXPECT_EQ(1, result.exitCode) << result.output;
        EXPECT_NE(std::string::npos, result.output.find(c.message)) << result.output;
        EXPECT_TRUE(before == SectionBytes()) << testenv::Narrow(c.arguments);
    }
    // A credential written by another program can hold what no sign-on can carry.
    for (const std::wstring& odd : {std::wstring(L"a\0b", 3), std::wstring(L"a\rb")}) {
        CREDENTIALW credential = {};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(L"Velnor:test-multi");
        credential.UserName = const_cast<wchar_t*>(L"eve");
        credential.CredentialBlobSize = static_cast<DWORD>(odd.size() * sizeof(wchar_t));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(odd.data()));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0));
        const ProgramResult result = Launch(L"multi --no-browser");
        EXPECT_EQ(1, result.exitCode);
        EXPECT_NE(std::string::npos, result.output.find("the password of Velnor:test-multi holds a line break or NUL"));
        EXPECT_TRUE(before == SectionBytes());
    }
    DeleteCredential(L"Velnor:test-multi");
    // Without any catalog configured (no option, no policy value) it says where one goes.
    const ProgramResult none = Tool(L"launch app --no-browser");
    EXPECT_EQ(1, none.exitCode);
    EXPECT_EQ(0u, none.output.find("no catalog is configured: give --catalog FILE, or set the policy value Catalog"));
    EXPECT_TRUE(before == SectionBytes());
    // Text in the store that is no template array is not built upon.
    SetStoreText(L"{\"not\": \"an array\"}");
    const std::string odd = SectionBytes();
    const ProgramResult refused = Launch(L"app --no-browser");
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_NE(std::string::npos, refused.output.find("the store holds text that is no template array"));
    EXPECT_TRUE(odd == SectionBytes());
    EXPECT_EQ(2, Launch(L"app --no-browser --browser x").exitCode);
    EXPECT_EQ(2, Launch(L"app --wait soon").exitCode);
}

TEST_F(LaunchTest, TheCatalogComesFromPolicyWhenNoFileIsGiven) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, L"Software\\Policies\\Zorvanti\\VelnorIE", 0, nullptr, 0,
                                                 KEY_SET_VALUE | (root == HKEY_LOCAL_MACHINE ? KEY_WOW64_64KEY : 0),
                                                 nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Catalog", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_catalog.c_str()),
                                                static_cast<DWORD>((m_catalog.size() + 1) * sizeof(wchar_t))));
        const ProgramResult shown = Tool(L"catalog");
        EXPECT_EQ(0, shown.exitCode) << shown.output;
        EXPECT_EQ(0u, shown.output.find("catalog " + testenv::Narrow(m_catalog) +
                                        (root == HKEY_LOCAL_MACHINE ? " (policy, HKLM): 3 entries\n" : " (policy, HKCU): 3 entries\n")))
            << shown.output;
        EXPECT_NE(std::string::npos, shown.output.find("    credential Velnor:test-app: alice (Velnor:test-app)\n"));
        EXPECT_NE(std::string::npos, shown.output.find("    credential Velnor:test-multi: none for this user: run VelnorSSOStore cred set Velnor:test-multi USERNAME\n"));
        ASSERT_EQ(0, Tool(L"launch app --no-browser").exitCode);
        RegDeleteValueW(key.get(), L"Catalog");
    }
}

TEST_F(LaunchTest, AccountChoosesAmongSeveralCredentialsOfOneEntry) {
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-multi alice", std::string(kPassword) + "\n").exitCode);
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-multi#bob bob", std::string(kBobPassword) + "\n").exitCode);
    const std::string before = SectionBytes();
    const ProgramResult ambiguous = Launch(L"multi --no-browser");
    EXPECT_EQ(1, ambiguous.exitCode);
    EXPECT_EQ("sign-on multi has several accounts; choose one with --account USERNAME:\n"
              "  alice  (Velnor:test-multi)\n  bob  (Velnor:test-multi#bob)\n",
              ambiguous.output);
    EXPECT_TRUE(before == SectionBytes());

    for (const wchar_t* account : {L"bob", L"BOB"}) {
        SetStoreText(L"");
        const ProgramResult chosen = Launch(L"multi --no-browser --account " + std::wstring(account));
        ASSERT_EQ(0, chosen.exitCode) << chosen.output;
        EXPECT_EQ("prepared sign-on multi for user bob (its template expires in 600 seconds unless a page uses it)\n",
                  chosen.output);
        const nlohmann::json stored = nlohmann::json::parse(WideToUtf8(StoreText()));
        ASSERT_EQ(1u, stored.size());
        EXPECT_EQ("bob", stored[0]["elements"][0]["actions"][0]["value"]);
        EXPECT_EQ(kBobPassword, stored[0]["elements"][1]["actions"][0]["value"]);
    }
    SetStoreText(L"");
    ASSERT_EQ(0, Launch(L"multi --no-browser --account alice").exitCode);
    EXPECT_EQ(kPassword, nlohmann::json::parse(WideToUtf8(StoreText()))[0]["elements"][1]["actions"][0]["value"]);
}

TEST_F(LaunchTest, WaitTellsWhetherTheTemplateRanAndTakesAnUnusedOneOutAgain) {
    const std::string before = SectionBytes();
    const ProgramResult timedOut = Launch(L"app --no-browser --wait 1");
    EXPECT_EQ(3, timedOut.exitCode) << timedOut.output;
    EXPECT_NE(std::string::npos, timedOut.output.find("the sign-on did not run within 1 seconds; its template was taken out of the store\n"));
    EXPECT_TRUE(before == SectionBytes()) << "the store as it was before the launch";

    // A page drops it (here: the store written back without it) while the launch waits.
    unique_handle waiting(testenv::StartProgram(kTool, L"launch app --no-browser --wait 30 --catalog " + Quoted(m_catalog)));
    ASSERT_TRUE(waiting);
    bool added = false;
    for (int i = 0; i < 200 && !added; ++i) {
        added = StoreText().find(L"launchId") != std::wstring::npos;
        if (!added) Sleep(50);
    }
    ASSERT_TRUE(added);
    SetStoreText(Utf8ToWide(kExisting));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiting.get(), 20000));
    DWORD code = 99;
    GetExitCodeProcess(waiting.get(), &code);
    EXPECT_EQ(0u, code);
}

// A page at `url` as Internet Explorer publishes it, in a tab of its own: what it writes is
// stamped with its origin by the extension.
class Page {
public:
    explicit Page(const std::wstring& url) {
        EXPECT_EQ(S_OK, CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, m_tab.put_void()));
        PageContext page;
        page.url = url;
        page.origin = OriginOfUrl(url);
        page.ordinal = 1;
        EXPECT_EQ(S_OK, CPageBinding::Create(static_cast<CVelnorIEExt*>(m_tab.get()), std::move(page), m_page.put()));
    }
    std::wstring Read() {
        unique_bstr text;
        EXPECT_EQ(S_OK, m_page->get_Templates(text.put()));
        return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
    }
    // Adds `entry` to what the page read and writes that back.
    void Add(const std::wstring& entry) {
        std::wstring text = Read();
        text = text.size() > 2 ? text.substr(0, text.size() - 1) + L"," + entry + L"]" : L"[" + entry + L"]";
        unique_bstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
        EXPECT_EQ(S_OK, m_page->put_Templates(value.get()));
    }

private:
    ComPtr<IVelnorIEExt> m_tab, m_page;
};

TEST_F(LaunchTest, OnlyAnOutcomeItsOwnSiteToldOfItsOwnLaunchSaysAnythingAgainstAPassword) {
    ASSERT_EQ(0, Launch(L"app --no-browser").exitCode);
    const std::wstring stored = StoreText();
    const size_t at = stored.find(L"\"launchId\":\"");
    ASSERT_NE(std::wstring::npos, at);
    const std::wstring attempt = stored.substr(at + 12, 32);
    EXPECT_EQ(std::wstring::npos, attempt.find_first_not_of(L"0123456789abcdef")) << "128 random bits: " << testenv::Narrow(attempt);
    const std::wstring refused = L"{\"url\":\"https://intranet.example/*\",\"outcome\":\"failed\",\"how\":\"seen\",\"attempt\":\"" +
                                 attempt + L"\",\"name\":\"app\",\"credential\":\"Velnor:test-app\",\"at\":" +
                                 std::to_wstring(time(nullptr) + 315360000) + L"}";

    // Any page can name the launch and the credential: one of another site says nothing.
    Page(L"https://evil.test/x").Add(refused);
    ProgramResult status = Tool(L"status");
    EXPECT_NE(std::string::npos, status.output.find("no outcomes of sign-ons launched here")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("1 other outcome records")) << status.output;
    EXPECT_EQ(0, Launch(L"app --no-browser").exitCode) << "no refusal noted";

    // Its own site's page is heard: the refusal is noted, and cred set lifts it whatever the
    // record still says.
    Page(L"https://intranet.example/login?from=velnor").Add(refused);
    status = Tool(L"status");
    EXPECT_NE(std::string::npos, status.output.find("failed (seen)  https://intranet.example  app  Velnor:test-app"))
        << status.output;
    const ProgramResult again = Launch(L"app --no-browser");
    EXPECT_EQ(1, again.exitCode);
    EXPECT_NE(std::string::npos, again.output.find("not typed again by itself")) << again.output;
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-app alice", "new-pw\n").exitCode);
    EXPECT_NE(std::wstring::npos, StoreText().find(L"\"failed\"")) << "the record is still there";
    EXPECT_EQ(0, Launch(L"app --no-browser").exitCode);
}

TEST(StoreToolAgentTest, AnAgentObjectAnotherUserMadeFirstIsRefusedByName) {
    ObjectSecurity everyone;
    ASSERT_TRUE(everyone.FromSddl(L"O:WDD:(A;;GA;;;WD)"));
    {
        unique_handle squat(CreateMutexW(everyone.attributes(), FALSE, L"Local\\VelnorSSOAgent"));
        ASSERT_TRUE(squat);
        for (const wchar_t* command : {L"agent", L"agent --run"}) {
            const ProgramResult result = Tool(command);
            EXPECT_EQ(1, result.exitCode) << result.output;
            EXPECT_NE(std::string::npos, result.output.find("Local\\VelnorSSOAgent belongs to another user of this session"))
                << result.output;
        }
    }
    unique_handle squat(CreateEventW(everyone.attributes(), TRUE, FALSE, L"Local\\VelnorSSOAgent.Stop"));
    ASSERT_TRUE(squat);
    const ProgramResult stop = Tool(L"agent --stop");
    EXPECT_EQ(1, stop.exitCode);
    EXPECT_NE(std::string::npos, stop.output.find("Local\\VelnorSSOAgent.Stop belongs to another user")) << stop.output;
}

TEST(StoreToolCatalogTest, NestingDeeperThanAnyCatalogIsRefusedWithoutWalkingIt) {
    const std::string deep = "[{\"name\":\"x\",\"template\":" + std::string(20000, '[') + std::string(20000, ']') + "}]";
    const std::wstring file = SaveFile("deep.json", deep);
    for (const wchar_t* command : {L"check --catalog ", L"check "}) {
        const ProgramResult result = Tool(command + Quoted(file));
        EXPECT_EQ(1, result.exitCode) << result.output;
        EXPECT_NE(std::string::npos, result.output.find("nested deeper than 64 levels")) << result.output;
    }
}

TEST(StoreToolLaunchTest, WithoutAHolderNothingIsPreparedAndItSaysWhatToStart) {
    ASSERT_FALSE(TemplateStore::Exists());
    const std::wstring catalog = SaveFile("catalog.json", kCatalog);
    ASSERT_EQ(0, ToolWithInput(L"cred set Velnor:test-app alice", "pw\n").exitCode);
    const ProgramResult result = Tool(L"launch app --no-browser --catalog " + Quoted(catalog));
    EXPECT_EQ(1, result.exitCode);
    EXPECT_NE(std::string::npos, result.output.find("the sign-on was not prepared: the template store is not open in this "
                                                    "session: start Internet Explorer, or run \"VelnorSSOStore agent\""));
    DeleteCredential(L"Velnor:test-app");
}

bool AgentRuns() { return static_cast<bool>(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\VelnorSSOAgent"))); }

TEST(StoreToolAgentTest, TheAgentSurvivesItsConsoleOneASessionAndHoldsTheStoreUntilStopped) {
    ASSERT_FALSE(AgentRuns());
    // Started in a console of its own, which goes away when the starting process ends.
    std::wstring commandLine = Quoted(ToolPath()) + L" agent";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(ToolPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    unique_handle starter(process.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(starter.get(), 20000));
    DWORD code = 99;
    GetExitCodeProcess(starter.get(), &code);
    EXPECT_EQ(0u, code);
    Sleep(500);
    EXPECT_TRUE(AgentRuns()) << "the agent outlives the console it was started from";
    EXPECT_TRUE(TemplateStore::Exists());

    // What is put into the store now stays there while nothing else holds it.
    SetStoreText(L"[{\"url\":\"https://held/*\",\"elements\":[]}]");
    const ProgramResult second = Tool(L"agent");
    EXPECT_EQ(0, second.exitCode);
    EXPECT_EQ("the agent already runs in this session\n", second.output);
    EXPECT_EQ(0, Tool(L"agent --run").exitCode) << "a second agent itself gives way at once";
    EXPECT_EQ(L"[{\"url\":\"https://held/*\",\"elements\":[]}]", StoreText());

    const ProgramResult stopped = Tool(L"agent --stop");
    EXPECT_EQ(0, stopped.exitCode);
    EXPECT_FALSE(AgentRuns());
    for (int i = 0; i < 100 && TemplateStore::Exists(); ++i) Sleep(50);
    EXPECT_FALSE(TemplateStore::Exists()) << "the store goes with the agent when nobody else holds it";
    EXPECT_EQ("no agent runs in this session\n", Tool(L"agent --stop").output);
}

TEST(StoreToolAgentTest, InstallRegistersTheAgentForEveryLogonAndUninstallRemovesIt) {
    const ProgramResult installed = Tool(L"agent --install");
    ASSERT_EQ(0, installed.exitCode) << installed.output;
    wchar_t value[1024] = {};
    DWORD bytes = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                          L"VelnorSSOAgent", RRF_RT_REG_SZ, nullptr, value, &bytes));
    EXPECT_EQ(Quoted(ToolPath()) + L" agent --run", std::wstring(value));
    EXPECT_EQ(0, Tool(L"agent --uninstall").exitCode);
    bytes = sizeof(value);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                                 L"VelnorSSOAgent", RRF_RT_REG_SZ, nullptr, value, &bytes));
    const ProgramResult again = Tool(L"agent --uninstall");
    EXPECT_EQ(0, again.exitCode);
    EXPECT_EQ("the agent was not registered to start at logon\n", again.output);
}

}  // namespace
