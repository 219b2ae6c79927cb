// Template isolation: what a page reaches through the object it was given, driven by name
// through IDispatch as page script drives it, against the real store.
#include "extension/extension_fixture.h"
#include "templates/template_isolation.h"

#include <exdispid.h>

#include <ctime>
#include <memory>

using namespace exttest;

namespace {

// Three sites' templates as an administrator wrote them (spacing and all), an entry the content
// script passes over, and one for every site.
const std::wstring kSite = L"{\"url\": \"http://site/login*\", \"elements\": [{\"find\": {\"type\": \"id\", \"value\": \"user\"}, "
                           L"\"actions\": [{\"type\": \"text\", \"value\": \"site-pw\"}]}]}";
const std::wstring kBank = L"{ \"url\":\"https://bank.example/*\" , \"note\": \"\\u00e9\", \"elements\":[{\"actions\":[{\"type\":"
                           L"\"httpBasicAuth\",\"username\":\"teller\",\"password\":\"bank-pw\"}]}] }";
const std::wstring kMail = L"{\"url\":\"https://mail.example/*\",\"elements\":[]}";
const std::wstring kNoUrl = L"{\"elements\":[],\"ID\":2}";
const std::wstring kEverySite = L"{\"url\":\"*\",\"elements\":[],\"maxRetries\":-1}";

class IsolationTest : public testing::Test {
protected:
    void SetUp() override { testenv::SetSettingDword(L"TemplateIsolation", 1); }
    void TearDown() override {
        if (site) site->SetSite(nullptr);
        testenv::DeleteSetting(L"TemplateIsolation");
        testenv::DeleteSetting(L"TrustedPortals");
    }

    // A tab showing `url`, with the object published into the page as the browser does it.
    IDispatch* Open(const std::wstring& url) {
        object = CreateExtension();
        EXPECT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        document.url = url;
        browser.document = &document;
        EXPECT_EQ(S_OK, site->SetSite(browser.Site()));
        EXPECT_EQ(S_OK, browser.FireDocumentComplete(url));
        EXPECT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
        const host::Value& published = document.window.properties[L"VelnorIEExt"];
        return V_VT(published.get()) == VT_DISPATCH ? V_DISPATCH(published.get()) : nullptr;
    }

    // The same tab goes on to a new page at `url`: a document of its own, published as before.
    IDispatch* Navigate(const std::wstring& url) {
        pages.push_back(std::make_unique<host::FakeDocument>());
        host::FakeDocument& next = *pages.back();
        next.url = url;
        browser.document = &next;
        EXPECT_EQ(S_OK, browser.FireDocumentComplete(url));
        EXPECT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
        const host::Value& published = next.window.properties[L"VelnorIEExt"];
        return V_VT(published.get()) == VT_DISPATCH ? V_DISPATCH(published.get()) : nullptr;
    }

    static std::wstring Read(IDispatch* page) {
        unique_variant value;
        EXPECT_EQ(S_OK, GetByName(page, L"Templates", value.get()));
        return V_VT(value.get()) == VT_BSTR && V_BSTR(value.get()) ? V_BSTR(value.get()) : L"";
    }
    static HRESULT Write(IDispatch* page, const wchar_t* property, const std::wstring& text) {
        VARIANT value;
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        const HRESULT hr = PutByName(page, property, value);
        VariantClear(&value);
        return hr;
    }
    std::wstring Stored() { return StoreText(); }

    // The user name IAuthenticate gives for a navigation, or "(none)".
    std::wstring AnswerFor(const std::wstring& url) {
        EXPECT_EQ(S_OK, browser.FireBeforeNavigate2(url));
        ComPtr<IAuthenticate> authenticate;
        EXPECT_EQ(S_OK, object.As(IID_IAuthenticate, &authenticate));
        HWND window = nullptr;
        LPWSTR user = nullptr, password = nullptr;
        EXPECT_EQ(S_OK, authenticate->Authenticate(&window, &user, &password));
        const std::wstring answer = user ? user : L"(none)";
        CoTaskMemFree(user);
        CoTaskMemFree(password);
        EXPECT_EQ(S_OK, browser.FireNavigateComplete2(url));   // the navigation ends
        return answer;
    }

    host::FakeBrowser browser;
    host::FakeDocument document;
    std::vector<std::unique_ptr<host::FakeDocument>> pages;
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
};

TEST_F(IsolationTest, APageReadsItsOwnTemplatesAndItsWriteBackLeavesEveryOtherAsItStands) {
    IDispatch* page = Open(L"http://site/login?next=1");
    ASSERT_TRUE(page);
    const std::wstring store = L"[" + kBank + L", " + kSite + L",\n " + kNoUrl + L"," + kMail + L"]";
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(L"[" + kSite + L"]", Read(page));

    // The content script ran the template and writes back what it holds: nothing.
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[]"));
    EXPECT_EQ(L"[" + kBank + L"," + kNoUrl + L"," + kMail + L"]", Stored()) << "byte for byte";

    // Run state written back takes the place of the page's template (written as script writes it).
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(L"[" + kSite + L"]", Read(page));
    const std::wstring run = L"{\"url\":\"http://site/login*\",\"elements\":[{\"find\":{\"type\":\"id\",\"value\":"
                             L"\"user\"},\"actions\":[{\"type\":\"text\",\"value\":\"site-pw\"}]}],\"ID\":1,\"maxRetries\":0}";
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[" + run + L"]"));
    EXPECT_EQ(L"[" + kBank + L"," + run + L"," + kNoUrl + L"," + kMail + L"]", Stored()) << "no stamp: nothing new";
}

TEST_F(IsolationTest, APageCannotPlantOrChangeTemplatesThatReachOtherSites) {
    IDispatch* page = Open(L"http://site/login");
    const std::wstring store = L"[" + kBank + L"," + kEverySite + L"]";
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(L"[]", Read(page)) << "a template for every site is no page's under isolation";

    const std::wstring attempts[] = {
        L"{\"url\":\"https://bank.example/*\",\"elements\":[]}",                 // another site's
        L"{\"url\":\"*\",\"elements\":[{\"actions\":[{\"type\":\"click\"}]}]}",     // every site's, changed
        L"{\"url\":\"http://site*\",\"elements\":[]}",                           // also http://site.evil/
        L"{\"url\":\"http://site/*\",\"elements\":[]}",                          // this site's own: kept
    };
    std::wstring written;
    for (const std::wstring& attempt : attempts) written += (written.empty() ? L"" : L",") + attempt;
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[" + written + L"]"));
    EXPECT_EQ(L"[" + kBank + L"," + kEverySite + L"," + attempts[3] + L"]", WithoutStamps(Stored()))
        << "only the page's own template is written; the template for every site stays as it stands";
    EXPECT_NE(std::wstring::npos, Stored().find(L"\"stamp\":{\"origin\":\"http://site\",")) << "stamped with its origin";
}

TEST_F(IsolationTest, BasicAuthenticationAnswersFromTheStoreNotFromWhatAPageHandsOver) {
    IDispatch* page = Open(L"http://site/login");
    ASSERT_TRUE(SetStoreText(L"[" + kSite + L"," + kBank + L"]"));
    ASSERT_EQ(S_OK, Write(page, L"AuthCreds", L"https://bank.example/*\rmallory\rstolen"));
    EXPECT_EQ(L"teller", AnswerFor(L"https://bank.example/statement")) << "the bank's template is not this page's";
    EXPECT_EQ(L"(none)", AnswerFor(L"https://elsewhere.example/"));
}

TEST_F(IsolationTest, BasicCredentialsAPageReadOutliveTheirDroppedTemplate) {
    IDispatch* page = Open(L"https://bank.example/start");
    ASSERT_TRUE(SetStoreText(L"[" + kBank + L"]"));
    EXPECT_EQ(L"[" + kBank + L"]", Read(page));
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[]"));   // run and dropped
    EXPECT_EQ(L"[]", Stored());
    EXPECT_EQ(L"teller", AnswerFor(L"https://bank.example/reports"));
}

TEST_F(IsolationTest, TextThatIsNoTemplateArrayGivesAPageNothingAndCannotBeChangedByIt) {
    IDispatch* page = Open(L"http://site/login");
    for (const std::wstring& text : {std::wstring(L"[{\"url\":\"http://site/*\",}]"), std::wstring(L"{\"url\":\"x\"}")}) {
        ASSERT_TRUE(SetStoreText(text));
        EXPECT_EQ(L"[]", Read(page));
        // Script sees the refusal as an exception (DispInvoke's DISP_E_EXCEPTION).
        EXPECT_TRUE(FAILED(Write(page, L"Templates", L"[" + kSite + L"]")));
        EXPECT_EQ(text, Stored());
    }
    ASSERT_TRUE(SetStoreText(L"[" + kMail + L"]"));
    EXPECT_TRUE(FAILED(Write(page, L"Templates", L"not JSON")));
    EXPECT_EQ(L"[" + kMail + L"]", Stored());
}

TEST_F(IsolationTest, TrustedPortalsAndIsolationOffKeepTheWholeStore) {
    testenv::SetSettingMultiString(L"TrustedPortals", {L"https://portal.example/", L""});
    IDispatch* portal = Open(L"https://PORTAL.example:443/sso/start");
    const std::wstring store = L"[" + kSite + L"," + kBank + L"]";
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(store, Read(portal));
    ASSERT_EQ(S_OK, Write(portal, L"Templates", L"[" + kMail + L"]"));
    EXPECT_EQ(L"[" + kMail + L"]", WithoutStamps(Stored()));
    site->SetSite(nullptr);

    testenv::SetSettingDword(L"TemplateIsolation", 0);
    IDispatch* page = Open(L"http://site/login");
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(store, Read(page));
    ASSERT_EQ(S_OK, Write(page, L"AuthCreds", L"https://bank.example/*\rmallory\rpw"));
    EXPECT_EQ(L"mallory", AnswerFor(L"https://bank.example/")) << "handed-over credentials, as without isolation";
}

TEST_F(IsolationTest, RecordsGoWhereTheirSiteIsAndOnlyTheStoreToolArmsTheRecorder) {
    IDispatch* page = Open(L"http://site/login");
    const long long now = static_cast<long long>(time(nullptr));
    const std::wstring recorder = L"{\"recorder\":\"r1\",\"expires\":" + std::to_wstring(now + 60) + L"}";
    const std::wstring spent = L"{\"recorder\":\"r0\",\"expires\":" + std::to_wstring(now - 1) + L"}";
    const std::wstring bankOutcome = L"{\"url\":\"https://bank.example/*\",\"outcome\":\"failed\",\"at\":1}";
    ASSERT_TRUE(SetStoreText(L"[" + kSite + L"," + recorder + L"," + spent + L"," + bankOutcome + L"]"));
    EXPECT_EQ(L"[" + kSite + L"," + recorder + L"]", Read(page))
        << "the live recorder goes to every page, another site's outcome to none";

    // The template ran and asked for its outcome; the page also drafted its form, gave the
    // recorder back, tried to arm one of its own and to settle another site's outcome.
    const std::wstring outcome = L"{\"url\":\"http://site/*\",\"outcome\":\"submitted\",\"at\":5}";
    const std::wstring draft = L"{\"draft\":\"r1\",\"url\":\"http://site/login*\",\"at\":5}";
    const std::wstring armed = L"{\"recorder\":\"mine\",\"url\":\"http://site/*\",\"expires\":" +
                               std::to_wstring(now + 600) + L"}";
    const std::wstring forged = L"{\"url\":\"https://bank.example/*\",\"outcome\":\"succeeded\",\"at\":1}";
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[" + outcome + L"," + recorder + L"," + draft + L"," + armed + L"," +
                                                  forged + L"]"));
    EXPECT_EQ(L"[" + outcome + L"," + recorder + L"," + draft + L"," + spent + L"," + bankOutcome + L"]",
              WithoutStamps(Stored()));

    // Another tab of the site may not settle it: what became of the sign-on is told in its own tab.
    ComPtr<IVelnorIEExt> otherTab = CreateExtension();
    const std::wstring settled = L"{\"url\":\"http://site/*\",\"outcome\":\"failed\",\"at\":5,\"settled\":7}";
    {
        host::FakeBrowser otherBrowser;
        host::FakeDocument otherDocument;
        otherDocument.url = L"http://site/home";
        otherBrowser.document = &otherDocument;
        ComPtr<IObjectWithSite> otherSite;
        ASSERT_EQ(S_OK, otherTab.As(IID_IObjectWithSite, &otherSite));
        ASSERT_EQ(S_OK, otherSite->SetSite(otherBrowser.Site()));
        ASSERT_EQ(S_OK, otherBrowser.FireDocumentComplete(otherDocument.url));
        ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(otherTab)->TimerIds().empty(); }));
        IDispatch* other = V_DISPATCH(otherDocument.window.properties[L"VelnorIEExt"].get());
        EXPECT_EQ(L"[" + outcome + L"," + recorder + L"]", WithoutStamps(Read(other)));
        ASSERT_EQ(S_OK, Write(other, L"Templates", L"[" + settled + L"," + recorder + L"]"));
        otherSite->SetSite(nullptr);
    }
    EXPECT_NE(std::wstring::npos, Stored().find(L"\"submitted\"")) << "still as its own tab wrote it";

    // The next page of the same tab settles the outcome in place of the one it was given.
    IDispatch* next = Navigate(L"http://site/home");
    EXPECT_EQ(L"[" + outcome + L"," + recorder + L"]", WithoutStamps(Read(next))) << "the draft belongs to the login page only";
    ASSERT_EQ(S_OK, Write(next, L"Templates", L"[" + settled + L"," + recorder + L"]"));
    EXPECT_EQ(L"[" + settled + L"," + recorder + L"," + draft + L"," + spent + L"," + bankOutcome + L"]",
              WithoutStamps(Stored()));
}

TEST_F(IsolationTest, ALaunchedTemplateAnotherPageUsedIsNotBroughtBack) {
    IDispatch* page = Open(L"http://site/login");
    const std::wstring launched = L"{\"url\":\"http://site/login*\",\"launchId\":\"L1\",\"elements\":[{\"find\":"
                                  L"{\"type\":\"id\",\"value\":\"pass\"},\"actions\":[{\"type\":\"text\",\"value\":\"pw\"}]}]}";
    ASSERT_TRUE(SetStoreText(L"[" + launched + L"]"));
    EXPECT_EQ(L"[" + launched + L"]", Read(page));
    // Another tab of the site ran it meanwhile: its outcome record stands in its place.
    const std::wstring outcome = L"{\"url\":\"http://site/*\",\"outcome\":\"failed\",\"attempt\":\"L1\",\"at\":" +
                                 std::to_wstring(time(nullptr)) + L"}";
    ASSERT_TRUE(SetStoreText(L"[" + outcome + L"]"));
    // This page writes back what it read when it loaded.
    ASSERT_EQ(S_OK, Write(page, L"Templates", L"[" + launched + L"]"));
    EXPECT_EQ(L"[" + outcome + L"]", Stored())
        << "the refused password is not typed a second time, and the outcome another tab wrote stays";
}

}  // namespace
