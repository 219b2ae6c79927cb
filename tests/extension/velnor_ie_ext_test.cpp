// The extension object as the browser sees it: identity, interfaces, site handling, events.
#include "common/module.h"
#include "extension/extension_fixture.h"
#include "extension/timer_map.h"

#include <exdispid.h>
#include <shobjidl.h>

using namespace exttest;
using host::FakeBrowser;

namespace {

TEST(ExtensionIdentityTest, AnswersItsInterfaceTableWithOneIdentity) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IUnknown> unknown, dispatch, site, authenticate, provider;
    ASSERT_EQ(S_OK, object.As(IID_IUnknown, &unknown));
    ASSERT_EQ(S_OK, object.As(IID_IDispatch, &dispatch));
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    ASSERT_EQ(S_OK, object.As(IID_IAuthenticate, &authenticate));
    ASSERT_EQ(S_OK, object.As(IID_IServiceProvider, &provider));
    EXPECT_EQ(static_cast<void*>(object.get()), static_cast<void*>(unknown.get()));
    EXPECT_EQ(static_cast<void*>(object.get()), static_cast<void*>(dispatch.get()));
    // Every interface leads back to the same identity.
    for (const ComPtr<IUnknown>* face : {&site, &authenticate, &provider}) {
        ComPtr<IUnknown> back;
        ASSERT_EQ(S_OK, face->As(IID_IUnknown, &back));
        EXPECT_EQ(unknown.get(), back.get());
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE, object.As(DIID_DWebBrowserEvents2, &none));
    EXPECT_EQ(E_NOINTERFACE, object.As(IID_IConnectionPointContainer, &none));
    EXPECT_FALSE(none);
}

TEST(ExtensionIdentityTest, RefusesAggregationAndHoldsTheModuleWhileAlive) {
    const LONG before = GetModuleLockCount();
    IUnknown* out = reinterpret_cast<IUnknown*>(0x1);
    IUnknown* outer = reinterpret_cast<IUnknown*>(0x1234);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CVelnorIEExt::CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&out)));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_NOINTERFACE, CVelnorIEExt::CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&out)));
    EXPECT_EQ(before, GetModuleLockCount()) << "a failed query frees the new object";
    {
        ComPtr<IVelnorIEExt> object = CreateExtension();
        EXPECT_EQ(before + 1, GetModuleLockCount());
        // A plain count: AddRef and Release answer the running count.
        EXPECT_EQ(2u, object->AddRef());
        EXPECT_EQ(1u, object->Release());
    }
    EXPECT_EQ(before, GetModuleLockCount());
}

TEST(ExtensionSiteTest, GetSiteBeforeAnySiteFails) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    EXPECT_EQ(E_POINTER, site->GetSite(IID_IUnknown, nullptr));
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(E_FAIL, site->GetSite(IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
}

TEST(ExtensionSiteTest, UnsitingANeverConnectedObjectOnlyTraces) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    testenv::LogCapture log;
    EXPECT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_EQ((std::vector<std::string>{"CVelnorIEExt::SetSite(0)"}), log.Messages());
}

TEST(ExtensionSiteTest, ConnectsDisconnectsAndConnectsAgainInOrder) {
    FakeBrowser browser;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    EXPECT_EQ(kNotConnectedCookie, Impl(object)->BrowserEventsCookie());

    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    EXPECT_TRUE(Impl(object)->BrowserEventsAdvised());
    EXPECT_EQ(browser.lastCookie, Impl(object)->BrowserEventsCookie());
    ASSERT_NE(nullptr, browser.Sink());
    EXPECT_TRUE(IsEqualGUID(IID_IAuthenticate, browser.profferedService));
    ComPtr<IUnknown> stored;
    ASSERT_EQ(S_OK, site->GetSite(IID_IUnknown, stored.put_void()));
    EXPECT_EQ(browser.Site(), stored.get());

    const DWORD firstCookie = browser.lastCookie;
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_FALSE(Impl(object)->BrowserEventsAdvised());
    EXPECT_EQ(kNotConnectedCookie, Impl(object)->BrowserEventsCookie());
    EXPECT_EQ(nullptr, browser.Sink());
    EXPECT_EQ(E_FAIL, site->GetSite(IID_IUnknown, stored.put_void()));

    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    EXPECT_EQ(browser.lastCookie, Impl(object)->BrowserEventsCookie());
    EXPECT_NE(firstCookie, browser.lastCookie);
    ASSERT_EQ(S_OK, site->SetSite(nullptr));

    // Events are disconnected before the service is revoked; proffered twice, revoked twice.
    ASSERT_EQ(8u, browser.calls.size());
    EXPECT_EQ("Advise", browser.calls[0]);
    EXPECT_EQ("ProfferService", browser.calls[1]);
    EXPECT_EQ("Unadvise " + std::to_string(firstCookie), browser.calls[2]);
    EXPECT_EQ(0u, browser.calls[3].rfind("RevokeService ", 0));
    EXPECT_EQ("Advise", browser.calls[4]);
    EXPECT_EQ("ProfferService", browser.calls[5]);
    EXPECT_TRUE(browser.unexpectedCalls.empty());
}

TEST(ExtensionSiteTest, OnlyAServiceThatWasProfferedIsRevoked) {
    FakeBrowser browser;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    // The next proffer fails, and then there is no service provider at all: the cookie of the
    // first, revoked service may belong to another component by now and is never revoked again.
    browser.profferResult = E_FAIL;
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    browser.offerServiceProvider = false;
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    size_t revoked = 0;
    for (const auto& call : browser.calls) revoked += call.rfind("RevokeService ", 0) == 0;
    EXPECT_EQ(1u, revoked);
}

TEST(ExtensionSiteTest, SecondBrowserWhileConnectedIsRefusedAndChangesNothing) {
    FakeBrowser first, second;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    ASSERT_EQ(S_OK, site->SetSite(first.Site()));
    const DWORD cookie = Impl(object)->BrowserEventsCookie();

    EXPECT_EQ(E_FAIL, site->SetSite(second.Site()));
    EXPECT_EQ(cookie, Impl(object)->BrowserEventsCookie());
    EXPECT_TRUE(second.calls.empty());
    ComPtr<IUnknown> stored;
    ASSERT_EQ(S_OK, site->GetSite(IID_IUnknown, stored.put_void()));
    EXPECT_EQ(first.Site(), stored.get());

    // The later unsiting still disconnects from the browser the sink is connected to.
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_EQ(nullptr, first.Sink());
    EXPECT_EQ("Unadvise " + std::to_string(cookie), first.calls[2]);
}

TEST(ExtensionSiteTest, ASiteThatIsNoBrowserIsStoredWithNothingConnected) {
    FakeBrowser browser;
    host::FakeDocument notABrowser;   // answers IDispatch, not IWebBrowser2
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    EXPECT_EQ(S_OK, site->SetSite(notABrowser.Interface()));
    EXPECT_FALSE(Impl(object)->BrowserEventsAdvised());
    ComPtr<IUnknown> stored;
    EXPECT_EQ(S_OK, site->GetSite(IID_IDispatch, stored.put_void()));
    EXPECT_EQ(S_OK, site->SetSite(nullptr));
}

TEST(ExtensionSiteTest, RefusedConnectionProffersNothing) {
    FakeBrowser browser;
    browser.adviseResult = CONNECT_E_CANNOTCONNECT;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    EXPECT_EQ(S_OK, site->SetSite(browser.Site()));
    EXPECT_FALSE(Impl(object)->BrowserEventsAdvised());
    EXPECT_EQ(kNotConnectedCookie, Impl(object)->BrowserEventsCookie());
    EXPECT_EQ((std::vector<std::string>{"Advise"}), browser.calls);
    ComPtr<IUnknown> stored;
    EXPECT_EQ(S_OK, site->GetSite(IID_IUnknown, stored.put_void()));
    // Nothing to disconnect later.
    EXPECT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_EQ((std::vector<std::string>{"Advise"}), browser.calls);
}

TEST(ExtensionSiteTest, BrowserWithoutServiceProviderStillGetsItsEvents) {
    FakeBrowser browser;
    browser.offerServiceProvider = false;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    EXPECT_EQ(S_OK, site->SetSite(browser.Site()));
    EXPECT_TRUE(Impl(object)->BrowserEventsAdvised());
    EXPECT_EQ((std::vector<std::string>{"Advise"}), browser.calls);
    EXPECT_EQ(S_OK, site->SetSite(nullptr));
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

TEST(ExtensionEventsTest, SinkCountsOnTheObjectAndAnswersItsThreeInterfaces) {
    FakeBrowser browser;
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
    const ULONG unsited = References(object.get());
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    // The browser holds the sink and the proffered service provider: both count on the object,
    // so an open connection keeps it alive.
    EXPECT_EQ(unsited + 2, References(object.get()));

    IDispatch* sink = browser.Sink();
    ASSERT_NE(nullptr, sink);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &DIID_DWebBrowserEvents2}) {
        ComPtr<IUnknown> face;
        ASSERT_EQ(S_OK, sink->QueryInterface(*iid, face.put_void()));
        EXPECT_EQ(static_cast<void*>(sink), static_cast<void*>(face.get()));
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(IID_IVelnorIEExt, none.put_void()));

    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_EQ(unsited, References(object.get()));
}

// An extension object sited on a browser, unsited again at the end, as the browser does.
class SitedExtensionTest : public testing::Test {
protected:
    void SetUp() override {
        object = CreateExtension();
        ASSERT_EQ(S_OK, object.As(IID_IObjectWithSite, &site));
        ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    }
    void TearDown() override { site->SetSite(nullptr); }

    FakeBrowser browser;
    ComPtr<IVelnorIEExt> object;
    ComPtr<IObjectWithSite> site;
};

TEST_F(SitedExtensionTest, UnknownEventsAndUnboundArgumentsAreAnsweredOkWithoutEffect) {
    testenv::LogCapture log;
    EXPECT_EQ(S_OK, browser.Fire(DISPID_PROGRESSCHANGE, {host::Value(5L), host::Value(10L)}));
    EXPECT_EQ(S_OK, browser.Fire(DISPID_DOCUMENTCOMPLETE, {host::Value(1L)}));   // wrong arity
    EXPECT_EQ(S_OK, browser.Fire(DISPID_PROPERTYCHANGE, {host::Value(3L)}));     // not a name
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SitedExtensionTest, NavigationEventsAreTracedAndTheLastUrlKept) {
    testenv::LogCapture log;
    host::FakeDocument frame;
    EXPECT_EQ(S_OK, browser.FireBeforeNavigate2(L"http://site/top"));
    EXPECT_EQ(S_OK, browser.FireBeforeNavigate2(L"http://site/frame", frame.Interface()));
    EXPECT_EQ(S_OK, browser.FireNavigateComplete2(L"http://site/frame"));
    EXPECT_EQ(L"http://site/top", Impl(object)->NavigateUrl()) << "a frame's navigation never replaces it";
    EXPECT_EQ((std::vector<std::string>{"CVelnorIEExt::OnBeforeNavigate(http://site/top)",
                                        "CVelnorIEExt::OnBeforeNavigate(http://site/frame)",
                                        "CVelnorIEExt::OnBeforeNavigate() -> frame: selects no credentials",
                                        "CVelnorIEExt::OnBeforeNavigate()"}),
              log.Messages());
}

TEST_F(SitedExtensionTest, PropertyChangeTracesOnlyTheSsoDataProperty) {
    browser.properties[L"VelnorIEExtSSOData"] = host::Value(L"payload");
    testenv::LogCapture log;
    EXPECT_EQ(S_OK, browser.FirePropertyChange(L"VelnorIEExtStatus"));
    EXPECT_EQ(S_OK, browser.FirePropertyChange(L"velnorieextssodata"));
    browser.properties[L"VelnorIEExtSSOData"] = host::Value(42L);
    EXPECT_EQ(S_OK, browser.FirePropertyChange(L"VelnorIEExtSSOData"));
    browser.properties.erase(L"VelnorIEExtSSOData");
    EXPECT_EQ(S_OK, browser.FirePropertyChange(L"VelnorIEExtSSOData"));
    EXPECT_EQ((std::vector<std::string>{"CVelnorIEExt::OnPropertyChange(VelnorIEExtStatus)",
                                        "CVelnorIEExt::OnPropertyChange(velnorieextssodata)",
                                        "CVelnorIEExt::OnPropertyChange() -> value: payload",
                                        "CVelnorIEExt::OnPropertyChange(VelnorIEExtSSOData)",
                                        "CVelnorIEExt::OnPropertyChange() -> type: 3",
                                        "CVelnorIEExt::OnPropertyChange(VelnorIEExtSSOData)",
                                        "CVelnorIEExt::OnPropertyChange() -> type: 0"}),
              log.Messages());
}

TEST(TimerMapTest, EveryAccessIsOneLockPairOnTheSameSection) {
    testenv::LogCapture log;
    EXPECT_TRUE(TimerMapInsert(77, nullptr));
    EXPECT_EQ(nullptr, TimerMapLookup(77));
    EXPECT_TRUE(TimerMapRemove(77));
    EXPECT_FALSE(TimerMapRemove(77)) << "an absent identifier is ignored";
    char address[32];
    snprintf(address, sizeof(address), "%X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&g_timerMapLock)));
    const std::string lock = std::string("CCritSecALock::Lock(") + address + ")";
    const std::string unlock = std::string("CCritSecALock::Unlock(") + address + ")";
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) {
        expected.push_back(lock);
        expected.push_back(unlock);
    }
    EXPECT_EQ(expected, log.Messages());
}

}  // namespace
