// A hostile page: what a page that wants other sites' secrets can reach through the object it
// is given (driven by name through IDispatch, as page script drives it), through the browser
// events it can cause (frame and top-level navigations), and through the object script creates
// without a page. Against the real store and the real object.
#include "extension/extension_fixture.h"
#include "templates/store_merge.h"
#include "templates/template_isolation.h"

#include <exdispid.h>

using namespace exttest;

namespace {

// The bank's Basic credentials and a template of the attacker's own site.
const std::wstring kBank = L"{\"url\":\"https://bank.example/*\",\"elements\":[{\"actions\":[{\"type\":\"httpBasicAuth\","
                           L"\"username\":\"teller\",\"password\":\"bank-pw\"}]}]}";
const std::wstring kEvil = L"{\"url\":\"https://evil.test/*\",\"elements\":[]}";

HRESULT PutText(IDispatch* object, const wchar_t* property, const std::wstring& text) {
    host::Value value(text);
    return PutByName(object, property, *value.get());
}

HRESULT PutNumber(IDispatch* object, const wchar_t* property, long number) {
    host::Value value(number);
    return PutByName(object, property, *value.get());
}

std::wstring ReadTemplates(IDispatch* object) {
    unique_variant value;
    EXPECT_EQ(S_OK, GetByName(object, L"Templates", value.get()));
    return V_VT(value.get()) == VT_BSTR && V_BSTR(value.get()) ? V_BSTR(value.get()) : L"";
}

// The error a script sees when a member refuses (DispInvoke hands the member's HRESULT over as
// the exception's scode).
HRESULT ScriptError(IDispatch* object, const wchar_t* name, WORD flags, DISPPARAMS* params) {
    EXCEPINFO exception = {};
    const HRESULT hr = object->Invoke(DispIdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, params, nullptr,
                                      &exception, nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION) return exception.scode ? exception.scode : E_FAIL;
    return hr;
}

class HostilePageTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        isolation = GetParam();
        testenv::SetSettingDword(L"TemplateIsolation", isolation ? 1 : 0);
    }
    void TearDown() override {
        if (site) site->SetSite(nullptr);
        testenv::DeleteSetting(L"TemplateIsolation");
        testenv::DeleteSetting(L"TrustedPortals");
    }

    // A tab showing `url`, with the object published into the page as the browser does it.
    IDispatch* Open(const std::wstring& url) {
        if (site) site->SetSite(nullptr);
        object = CreateExtension();
        EXPECT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        document.url = url;
        browser.document = &document;
        EXPECT_EQ(S_OK, site->SetSite(browser.Site()));
        EXPECT_EQ(S_OK, browser.FireBeforeNavigate2(url));
        EXPECT_EQ(S_OK, browser.FireNavigateComplete2(url));
        EXPECT_EQ(S_OK, browser.FireDocumentComplete(url));
        EXPECT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
        const host::Value& published = document.window.properties[L"VelnorIEExt"];
        return V_VT(published.get()) == VT_DISPATCH ? V_DISPATCH(published.get()) : nullptr;
    }

    // The user name the browser is given for a challenge now, or "(none)".
    std::wstring Challenge() {
        ComPtr<IAuthenticate> authenticate;
        EXPECT_EQ(S_OK, object.As(IID_IAuthenticate, &authenticate));
        HWND window = nullptr;
        LPWSTR user = nullptr, password = nullptr;
        EXPECT_EQ(S_OK, authenticate->Authenticate(&window, &user, &password));
        const std::wstring answer = user ? user : L"(none)";
        if (!user) {
            EXPECT_EQ(reinterpret_cast<HWND>(browser.window), window) << "the browser's own prompt";
        }
        CoTaskMemFree(user);
        CoTaskMemFree(password);
        return answer;
    }

    // The bank's credentials, as the page's content script hands them over (without isolation)
    // and as the store holds them (with it).
    void StoreTheBank(IDispatch* page) {
        ASSERT_TRUE(SetStoreText(L"[" + kBank + L"," + kEvil + L"]"));
        if (!isolation) {
            ASSERT_EQ(S_OK, PutText(page, L"AuthCreds", L"https://bank.example/*\rteller\rbank-pw"));
        }
    }

    bool isolation = false;
    host::FakeBrowser browser;
    host::FakeDocument document;
    host::FakeDocument frame;   // the frame object of a frame's navigation events
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
};

INSTANTIATE_TEST_SUITE_P(IsolationOnAndOff, HostilePageTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "On" : "Off"; });

// ---- Basic credentials steered to the attacker's server ----

TEST_P(HostilePageTest, AFrameNavigationNeverSelectsCredentials) {
    IDispatch* page = Open(L"https://evil.test/");
    ASSERT_TRUE(page);
    StoreTheBank(page);
    // The page frames its own slow 401 endpoint, then the bank; the evil server's challenge
    // comes while both are under way.
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://evil.test/slow-401", frame.Interface()));
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://bank.example/", frame.Interface()));
    EXPECT_EQ(L"(none)", Challenge());
    EXPECT_EQ(L"https://evil.test/", Impl(object)->NavigateUrl());

    // A top-level navigation to the bank while the frame is still loading: the challenge may be
    // the frame's.
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://bank.example/statement"));
    EXPECT_EQ(L"(none)", Challenge());
    // Once the frame's navigation has ended, the challenge can only be the bank's.
    ASSERT_EQ(S_OK, browser.FireNavigateError(L"https://bank.example/", frame.Interface()));
    EXPECT_EQ(L"teller", Challenge());
}

TEST_P(HostilePageTest, TwoTopLevelNavigationsUnderWayAnswerNeither) {
    IDispatch* page = Open(L"https://evil.test/");
    StoreTheBank(page);
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://evil.test/slow-401"));
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://bank.example/"));
    EXPECT_EQ(L"(none)", Challenge());
    ASSERT_EQ(S_OK, browser.FireNavigateComplete2(L"https://bank.example/"));
    EXPECT_EQ(L"(none)", Challenge()) << "no navigation under way: a request of the page itself";
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://bank.example/reports"));
    EXPECT_EQ(L"teller", Challenge());
}

TEST_P(HostilePageTest, ARecordAnswersOnlyTheOriginItsPatternHolds) {
    IDispatch* page = Open(L"https://bank.example.evil.test/");
    ASSERT_TRUE(SetStoreText(L"[{\"url\":\"https://bank.example*\",\"elements\":[{\"actions\":[{\"type\":\"httpBasicAuth\","
                             L"\"username\":\"loose\",\"password\":\"pw\"}]}]}]"));
    if (!isolation) {
        ASSERT_EQ(S_OK, PutText(page, L"AuthCreds", L"https://bank.example*\rloose\rpw\n*\reveryone\rpw"));
    }
    ASSERT_EQ(S_OK, browser.FireBeforeNavigate2(L"https://bank.example.evil.test/401"));
    EXPECT_EQ(L"(none)", Challenge());
}

// ---- Patterns that cross hosts ----

TEST_P(HostilePageTest, BroadPatternsAreNoPagesUnderIsolation) {
    const std::wstring broad[] = {L"*.corp.example/login*", L"https://*.corp.example/*", L"http*", L"*bank.example/login",
                                  L"https://bank.example*"};
    std::wstring store = L"[";
    for (const std::wstring& pattern : broad) store += L"{\"url\":\"" + pattern + L"\",\"elements\":[]},";
    store += kEvil + L"]";
    IDispatch* page = Open(L"https://evil.test/login");
    ASSERT_TRUE(SetStoreText(store));
    EXPECT_EQ(isolation ? L"[" + kEvil + L"]" : store, ReadTemplates(page));
    page = Open(L"https://bank.example.evil.test/");
    EXPECT_EQ(isolation ? L"[]" : store, ReadTemplates(page));
}

// ---- A page multiplying what it was given ----

TEST_P(HostilePageTest, AGivenTemplateComesBackOnceWithItsRunStateMovedOnlyTowardDone) {
    if (!isolation) GTEST_SKIP() << "without isolation every page writes the whole store";
    const std::wstring retried = L"{\"url\":\"https://evil.test/*\",\"elements\":[],\"maxRetries\":2}";
    IDispatch* page = Open(L"https://evil.test/login");
    ASSERT_TRUE(SetStoreText(L"[" + kBank + L"," + retried + L"]"));
    ASSERT_EQ(L"[" + retried + L"]", ReadTemplates(page));

    // Twelve doublings would make 4,096 copies: one comes back.
    std::wstring copies = retried;
    for (int i = 0; i < 12; ++i) copies += L"," + retried;
    ASSERT_EQ(S_OK, PutText(page, L"Templates", L"[" + copies + L"]"));
    EXPECT_EQ(L"[" + kBank + L"," + retried + L"]", StoreText());

    // Run state moved away from done is refused: the template goes, as if dropped.
    const std::wstring forever = L"{\"url\":\"https://evil.test/*\",\"elements\":[],\"maxRetries\":-1}";
    ASSERT_EQ(S_OK, PutText(page, L"Templates", L"[" + forever + L"]"));
    EXPECT_EQ(L"[" + kBank + L"]", StoreText());
    // Counted down, it stays.
    ASSERT_TRUE(SetStoreText(L"[" + kBank + L"," + retried + L"]"));
    const std::wstring counted = L"{\"url\":\"https://evil.test/*\",\"elements\":[],\"maxRetries\":1,\"ID\":2}";
    ASSERT_EQ(S_OK, PutText(page, L"Templates", L"[" + counted + L"]"));
    EXPECT_EQ(L"[" + kBank + L"," + counted + L"]", StoreText());

    // The page's own new templates get a bounded share of the store, not the whole section.
    ASSERT_TRUE(SetStoreText(L"[" + kBank + L"]"));
    std::wstring flood;
    for (int i = 0; i < 400; ++i)
        flood += (i ? L"," : L"") + std::wstring(L"{\"url\":\"https://evil.test/*\",\"elements\":[],\"pad\":\"") +
                 std::to_wstring(i) + std::wstring(100, L'x') + L"\"}";
    ASSERT_EQ(S_OK, PutText(page, L"Templates", L"[" + flood + L"]"));
    const std::wstring after = StoreText();
    EXPECT_LE(after.size(), kBank.size() + 2 + kPageWriteAllowance + 400);
    EXPECT_GT(after.size(), kPageWriteAllowance / 2) << "the page's own templates within its share are kept";
    EXPECT_EQ(0u, after.find(L"[" + kBank + L",")) << "the bank's template stays";
}

// ---- Trusted portals ----

TEST_P(HostilePageTest, OnlyHttpsOriginsArePortals) {
    testenv::SetSettingMultiString(L"TrustedPortals", {L"http://plain.example/", L"https://sso.example/portal",
                                                        L"https://portal.example/"});
    const std::wstring store = L"[" + kBank + L"," + kEvil + L"]";
    for (const wchar_t* url : {L"http://plain.example/", L"https://sso.example/portal/start", L"https://sso.example/portal-evil/"}) {
        IDispatch* page = Open(url);
        ASSERT_TRUE(SetStoreText(store));
        EXPECT_EQ(isolation ? L"[]" : store, ReadTemplates(page)) << testenv::Narrow(url);
    }
    IDispatch* portal = Open(L"https://portal.example/any/page");
    EXPECT_EQ(store, ReadTemplates(portal)) << "every page of a portal's origin is trusted";
}

// ---- The object without a page ----

TEST_P(HostilePageTest, TheObjectWithoutAPageReachesNothingUnderIsolation) {
    IDispatch* page = Open(L"https://evil.test/");
    ASSERT_TRUE(page);
    const std::wstring store = L"[" + kBank + L"," + kEvil + L"]";
    ASSERT_TRUE(SetStoreText(store));
    // What new ActiveXObject("VelnorIE.VelnorIEExt") gives script: the class, with no site.
    ComPtr<IVelnorIEExt> created = CreateExtension();
    EXPECT_EQ(isolation ? L"[]" : store, ReadTemplates(created.get()));
    host::Value text(L"[" + kEvil + L"]");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {text.get(), &named, 1, 1};
    EXPECT_EQ(isolation ? E_ACCESSDENIED : S_OK, ScriptError(created.get(), L"Templates", DISPATCH_PROPERTYPUT, &put));
    EXPECT_EQ(isolation ? store : L"[" + kEvil + L"]", StoreText());
}

TEST_P(HostilePageTest, WhatAnOriginAddsStaysWithinItsShareAcrossAllItsWrites) {
    if (!isolation) GTEST_SKIP() << "without isolation a page may write the whole store";
    IDispatch* page = Open(L"https://evil.test/login");
    ASSERT_TRUE(SetStoreText(L"[" + kBank + L"]"));
    // Each write reads back what the page added before and adds about 16,000 characters more.
    for (int round = 0; round < 10; ++round) {
        std::wstring text = ReadTemplates(page);
        std::wstring more;
        for (int i = 0; i < 120; ++i)
            more += L",{\"url\":\"https://evil.test/*\",\"elements\":[],\"pad\":\"" + std::to_wstring(round * 1000 + i) +
                    std::wstring(100, L'x') + L"\"}";
        text = text.size() > 2 ? text.substr(0, text.size() - 1) + more + L"]" : L"[" + more.substr(1) + L"]";
        ASSERT_EQ(S_OK, PutText(page, L"Templates", text));
    }
    const std::wstring after = StoreText();
    EXPECT_LE(after.size(), kBank.size() + 2 + kPageWriteAllowance + 200) << "the share holds across writes";
    EXPECT_GT(after.size(), kPageWriteAllowance / 2);
    EXPECT_EQ(0u, after.find(L"[" + kBank + L",")) << "nothing else is displaced";
}

// ---- DebugTime and TestCall ----

TEST_P(HostilePageTest, APageCannotSwitchTracingOnUnderIsolation) {
    IDispatch* page = Open(L"https://evil.test/");
    ASSERT_TRUE(page);
    host::Value seconds(600L);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {seconds.get(), &named, 1, 1};
    EXPECT_EQ(isolation ? E_ACCESSDENIED : S_OK, ScriptError(page, L"DebugTime", DISPATCH_PROPERTYPUT, &put));
    EXPECT_EQ(isolation ? 0 : 600, DebugTime(object));
    ComPtr<IVelnorIEExt> created = CreateExtension();
    EXPECT_EQ(isolation ? E_ACCESSDENIED : S_OK, ScriptError(created.get(), L"DebugTime", DISPATCH_PROPERTYPUT, &put));

    if (!isolation) {
        // A negative value is kept as written (no debug timer is started for it): tracing stays
        // on until a new value is written.
        ASSERT_EQ(S_OK, PutNumber(page, L"DebugTime", -5));
        EXPECT_EQ(-5, DebugTime(object));
    }
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    TemplateStore::View view = store.Access();
    ASSERT_TRUE(view);
    view.SetDebugTime(0);
}

TEST_P(HostilePageTest, TestCallIsRefusedUnderIsolation) {
    IDispatch* page = Open(L"https://evil.test/");
    ASSERT_TRUE(page);
    DISPPARAMS none = {};
    // Without a display the box returns at once, so the call is answered either way.
    EXPECT_EQ(isolation ? E_ACCESSDENIED : S_OK, ScriptError(page, L"TestCall", DISPATCH_METHOD, &none));
}

}  // namespace
