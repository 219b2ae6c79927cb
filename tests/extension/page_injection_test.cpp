// Page injection: the "ready" status, page timers, the probe, publishing window.VelnorIEExt and
// running the content script, driven by DocumentComplete events and real thread timers.
#include "extension/extension_fixture.h"
#include "extension/page_injection.h"
#include "templates/template_store.h"
#include "extension/timer_map.h"

#include <dispex.h>
#include <exdispid.h>

using namespace exttest;
using host::FakeBrowser;
using host::FakeDocument;

namespace {

// The content script as the build ships it (made from content/content.js), widened byte by byte.
std::wstring ContentScriptFile() {
    std::wstring path = L"Z:" + testenv::Widen(VELNOR_SHIPPED_SCRIPT);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    const std::string bytes = testenv::ReadFileBytes(path);
    EXPECT_FALSE(bytes.empty());
    return std::wstring(bytes.begin(), bytes.end());
}

class PageInjectionTest : public testing::Test {
protected:
    void SetUp() override {
        document.title = L"Sign in";
        document.url = L"http://site/login";
        browser.document = &document;
        object = CreateExtension();
        ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    }
    void TearDown() override {
        if (site) site->SetSite(nullptr);
    }
    size_t Executed(const wchar_t* code) const {
        size_t n = 0;
        for (const auto& script : document.window.scripts) n += script.code == code;
        return n;
    }

    FakeDocument document;
    FakeBrowser browser;
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
};

TEST_F(PageInjectionTest, CompletedPageGetsTheObjectAndTheContentScript) {
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_EQ(1u, browser.properties.count(L"VelnorIEExtStatus"));
    EXPECT_EQ(VT_BSTR, browser.properties[L"VelnorIEExtStatus"].type());
    EXPECT_EQ(L"ready", browser.properties[L"VelnorIEExtStatus"].text());
    ASSERT_EQ(1u, Impl(object)->TimerIds().size());
    const UINT_PTR timer = Impl(object)->TimerIds()[0];
    EXPECT_EQ(Impl(object), TimerMapLookup(timer));
    EXPECT_EQ(L"http://site/login", Impl(object)->DocumentUrl());
    EXPECT_EQ(L"Sign in", Impl(object)->DocumentTitle());
    EXPECT_TRUE(document.window.scripts.empty()) << "the first attempt comes one period later";

    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    ASSERT_EQ(2u, document.window.scripts.size());
    EXPECT_EQ(L"var testvar = 0;", document.window.scripts[0].code);
    EXPECT_EQ(ContentScriptFile(), document.window.scripts[1].code) << "byte for byte, widened";
    for (const auto& script : document.window.scripts) EXPECT_EQ(L"javascript", script.language);

    // window.VelnorIEExt holds the object bound to this page: the same members by name.
    ASSERT_EQ(1u, document.window.properties.count(L"VelnorIEExt"));
    const host::Value& published = document.window.properties[L"VelnorIEExt"];
    ASSERT_EQ(VT_DISPATCH, published.type());
    ComPtr<IVelnorIEExt> binding;
    ASSERT_EQ(S_OK, V_DISPATCH(published.get())->QueryInterface(IID_IVelnorIEExt, binding.put_void()));
    EXPECT_EQ((std::vector<DWORD>{fdexNameEnsure}), document.window.getDispIdFlags);
    ASSERT_EQ(1u, document.window.invokes.size());
    const auto& invoke = document.window.invokes[0];
    EXPECT_TRUE(invoke.nullInterfaceId);
    EXPECT_EQ(static_cast<LCID>(0x400), invoke.locale);
    EXPECT_EQ(DISPATCH_PROPERTYPUT, invoke.flags);
    EXPECT_EQ(1u, invoke.arguments);
    EXPECT_EQ(0u, invoke.namedArguments);
    EXPECT_TRUE(invoke.noResult && invoke.noException && invoke.noArgumentError);

    // Done: the timer is gone.
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
    EXPECT_EQ(nullptr, TimerMapLookup(timer));
    testenv::PumpMessages(1200);
    EXPECT_EQ(2u, document.window.scripts.size());

    std::vector<std::string> messages;
    for (const auto& line : log.Messages())
        if (line.rfind("CCritSecALock", 0) != 0) messages.push_back(line);
    const std::vector<std::string> expected = {
        "CVelnorIEExt::OnDocumentComplete()",
        "CVelnorIEExt::OnDocumentComplete() -> ReadyState=4",
        "CVelnorIEExt::OnDocumentComplete() -> http://site/login : Sign in",
        "CVelnorIEExt::OnDocumentComplete() -> start object",
        "CVelnorIEExt::OnDocumentComplete() -> finished",
        "CVelnorIEExt::OnUpdate()",
        "CVelnorIEExt::AddExternalObject()",
        "CVelnorIEExt::AddExternalObject() -> get_Document: 0",
        "CVelnorIEExt::AddExternalObject() -> IHTMLDocument2: 1",
        "CVelnorIEExt::AddExternalObject() -> get_parentWindow: 0",
        "CVelnorIEExt::WindowEventAdvise() -> execScript: 0",
        "CVelnorIEExt::WindowEventAdvise() -> execScript: 0, 0",
        "CVelnorIEExt::AddExternalObject() -> IDispatchEx: 1",
        "CVelnorIEExt::AddExternalObject() -> GetDispID: 0",
        "CVelnorIEExt::AddExternalObject() -> Invoke: 0",
        "CVelnorIEExt::WindowEventAdvise() -> execScript: 0",
        "CVelnorIEExt::WindowEventAdvise() -> execScript: 0, 0",
        "CVelnorIEExt::OnUpdate() -> kill object",
        "CVelnorIEExt::OnUpdate() -> finished",
    };
    EXPECT_EQ(expected, messages);
}

TEST_F(PageInjectionTest, LoadingStateOnlyTraces) {
    browser.readyState = READYSTATE_LOADING;
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    EXPECT_EQ((std::vector<std::string>{"CVelnorIEExt::OnDocumentComplete()",
                                        "CVelnorIEExt::OnDocumentComplete() -> ReadyState=1"}),
              log.Messages());
    EXPECT_TRUE(browser.properties.empty());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());

    browser.readyState = READYSTATE_INTERACTIVE;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    EXPECT_EQ(1u, Impl(object)->TimerIds().size()) << "interactive counts as loaded";
}

TEST_F(PageInjectionTest, PageThatDoesNotAnswerIsProbedEverySecondUntilItDoes) {
    document.window.unansweredScripts = 2;
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_TRUE(testenv::PumpUntil([&] { return document.window.scripts.size() >= 1; }));
    EXPECT_EQ(1u, document.window.scripts.size());
    EXPECT_TRUE(document.window.properties.empty()) << "nothing is published before the probe answers";
    ASSERT_TRUE(testenv::PumpUntil([&] { return document.window.scripts.size() >= 2; }));
    EXPECT_EQ(2u, document.window.scripts.size());
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    EXPECT_EQ(3u, Executed(L"var testvar = 0;"));
    EXPECT_EQ(4u, document.window.scripts.size());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
    EXPECT_EQ(2u, Count(log.Messages(), "CVelnorIEExt::WindowEventAdvise() -> execScript: 0, 65535"));
}

TEST_F(PageInjectionTest, ContentScriptWithoutResultIsRunAgainWithTheProbe) {
    // The probe answers, the content script does not: the whole attempt repeats.
    document.window.answerPlan = {true, false, true, true};
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_TRUE(testenv::PumpUntil([&] { return document.window.scripts.size() >= 2; }));
    EXPECT_EQ(2u, document.window.scripts.size());
    EXPECT_EQ(1u, Impl(object)->TimerIds().size());
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    EXPECT_EQ(4u, document.window.scripts.size());
    EXPECT_EQ(2u, document.window.invokes.size()) << "the property is assigned again";
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
}

TEST_F(PageInjectionTest, PageAndTwoFramesGetThreeTimersAndThreeRuns) {
    FakeDocument frame1, frame2;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/frame1", frame1.Interface()));
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/frame2", frame2.Interface()));
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    EXPECT_EQ(3u, Impl(object)->TimerIds().size());
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    // Every run goes to the top-level window.
    EXPECT_EQ(3u, Executed(L"var testvar = 0;"));
    EXPECT_EQ(6u, document.window.scripts.size());
    EXPECT_EQ(3u, document.window.invokes.size());
    EXPECT_TRUE(frame1.window.scripts.empty());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
}

TEST_F(PageInjectionTest, NonHtmlDocumentKeepsItsTimerAndTheOldDocumentInfo) {
    document.offerDocument2 = false;
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/file.pdf"));
    EXPECT_EQ(L"", Impl(object)->DocumentUrl());
    ASSERT_TRUE(testenv::PumpUntil(
        [&] { return Count(log.Messages(), "CVelnorIEExt::AddExternalObject() -> IHTMLDocument2: 0") >= 2; }));
    EXPECT_EQ(1u, Impl(object)->TimerIds().size()) << "the page timer keeps firing";
}

TEST_F(PageInjectionTest, RefusedPropertyIsRetried) {
    document.window.getDispIdResult = E_ACCESSDENIED;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_TRUE(testenv::PumpUntil([&] { return document.window.scripts.size() >= 1; }));
    EXPECT_EQ(1u, document.window.scripts.size());
    document.window.getDispIdResult = S_OK;
    document.window.invokeResult = DISP_E_MEMBERNOTFOUND;
    ASSERT_TRUE(testenv::PumpUntil([&] { return document.window.scripts.size() >= 2; }));
    EXPECT_EQ(2u, document.window.scripts.size());
    EXPECT_EQ(1u, Impl(object)->TimerIds().size());
    document.window.invokeResult = S_OK;
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    EXPECT_EQ(4u, document.window.scripts.size());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
}

TEST_F(PageInjectionTest, DebugTimerEndsTheDebugPeriodWithoutInjecting) {
    document.window.answerScripts = false;
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_EQ(S_OK, PutTemplates(object, L"[kept]"));
    ASSERT_EQ(S_OK, object->put_DebugTime(1));
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->DebugTimerId() == 0; }));
    EXPECT_EQ(0, DebugTime(object));
    EXPECT_EQ(L"[kept]", Templates(object)) << "only the first word is written";
    // Every firing but the debug timer's was an injection attempt with its one probe.
    const auto messages = log.Messages();
    const size_t attempts = Count(messages, "CVelnorIEExt::AddExternalObject()");
    EXPECT_EQ(Count(messages, "CVelnorIEExt::OnUpdate()"), attempts + 1);
    EXPECT_EQ(attempts, document.window.scripts.size());
}

TEST_F(PageInjectionTest, TimerNoLongerInTheMapOnlyTraces) {
    testenv::LogCapture log;
    CVelnorIEExt::OnUpdate(nullptr, WM_TIMER, 0x7FFF1234, 0);
    const auto messages = log.Messages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ("CVelnorIEExt::OnUpdate()", messages[0]);
    EXPECT_EQ(0u, messages[1].rfind("CCritSecALock::Lock(", 0));
    EXPECT_EQ(0u, messages[2].rfind("CCritSecALock::Unlock(", 0));
}

TEST(ContentScriptResourceTest, MissingResourceGivesNothing) {
    std::string text = "unchanged";
    text.clear();
    EXPECT_FALSE(LoadScriptResource(GetModuleHandleW(L"kernel32.dll"), kContentScriptType, kContentScriptId, text));
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(LoadScriptResource(GetModuleHandleW(nullptr), kContentScriptType, kContentScriptId, text));
    EXPECT_EQ(ContentScriptFile(), std::wstring(text.begin(), text.end()));
}

}  // namespace

namespace {

// The object bound to a page, as the page's script holds it.
ComPtr<IDispatch> PublishedOn(FakeDocument& page) {
    const host::Value& value = page.window.properties[L"VelnorIEExt"];
    return ComPtr<IDispatch>(V_VT(value.get()) == VT_DISPATCH ? V_DISPATCH(value.get()) : nullptr);
}

TEST_F(PageInjectionTest, AReferenceKeptFromOnePageNeverReachesTheNextPagesElements) {
    document.LoadMarkup(L"<html><body><input id=\"here\"/></body></html>");
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(L"http://site/login"));
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    const ComPtr<IDispatch> kept = PublishedOn(document);
    ASSERT_TRUE(kept);

    auto lookUp = [](IDispatch* through, const wchar_t* expression) {
        unique_variant argument, result;
        V_VT(argument.get()) = VT_BSTR;
        V_BSTR(argument.get()) = SysAllocString(expression);
        EXPECT_EQ(S_OK, CallByName(through, L"GetElementByXPath", {*argument.get()}, result.get()));
        return V_VT(result.get()) == VT_DISPATCH && V_DISPATCH(result.get()) != nullptr;
    };
    EXPECT_TRUE(lookUp(kept.get(), L"//input[@id='here']")) << "its own page answers";

    // The tab goes to another site; the page that kept the reference asks for the new page.
    FakeDocument other;
    other.url = L"https://bank.example/";
    other.LoadMarkup(L"<html><body><input id=\"secret\"/></body></html>");
    browser.document = &other;
    ASSERT_EQ(S_OK, browser.FireDocumentComplete(other.url));
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->TimerIds().empty(); }));
    EXPECT_FALSE(lookUp(kept.get(), L"/html"));
    EXPECT_FALSE(lookUp(kept.get(), L"//input[@id='secret']"));
    EXPECT_FALSE(lookUp(kept.get(), L"//input[@id='secret' or @id='x']")) << "the MSXML path too";
    // The new page's own object answers; the store stays shared, as designed.
    EXPECT_TRUE(lookUp(PublishedOn(other).get(), L"//input[@id='secret']"));
    unique_variant templates;
    EXPECT_EQ(S_OK, GetByName(kept.get(), L"Templates", templates.get()));
    EXPECT_EQ(VT_BSTR, V_VT(templates.get()));
}

}  // namespace
