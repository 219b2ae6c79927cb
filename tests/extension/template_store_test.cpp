// The template store: one session-wide section, read and written through extension objects,
// checked byte for byte through the real named section.
#include "extension/extension_fixture.h"
#include "templates/template_store.h"
#include "extension/timer_map.h"
#include "common/object_security.h"

#include <aclapi.h>
#include <sddl.h>

using namespace exttest;

namespace {

// A view of the real section, as another program of the session sees it.
class SectionView {
public:
    SectionView() : m_store(TemplateStore::Mode::kExistingOnly), m_view(m_store.Access()) {}
    const BYTE* bytes() const { return m_view.bytes(); }
    LONG word() const { return *reinterpret_cast<const LONG*>(bytes()); }
    bool TextAreaZeroFrom(size_t byteOffset) const {
        for (size_t i = kTemplateTextOffset + byteOffset; i < kTemplateStoreSize; ++i)
            if (bytes()[i]) return false;
        return true;
    }
    void SetWord(LONG value) { *reinterpret_cast<LONG*>(m_view.bytes()) = value; }

private:
    TemplateStore m_store;
    TemplateStore::View m_view;
};

TEST(TemplateStoreTest, SectionIsCreatedEmptyAndVanishesWithItsLastHandle) {
    {
        ComPtr<IVelnorIEExt> object = CreateExtension();
        ASSERT_EQ(S_OK, PutTemplates(object, L"[1]"));
        object->put_DebugTime(-5);
    }
    // No object holds the section now: it is gone.
    EXPECT_FALSE(TemplateStore::Exists());
    ComPtr<IVelnorIEExt> object = CreateExtension();
    EXPECT_EQ(L"", Templates(object));
    EXPECT_EQ(0, DebugTime(object));
}

// The store's objects made first by another user of the session (a program started with runas),
// with a DACL that lets everyone read them: the object refuses them and leaves them empty.
TEST(TemplateStoreTest, ASectionOrLockAnotherUserMadeFirstIsRefused) {
    ASSERT_FALSE(TemplateStore::Exists());
    ObjectSecurity everyone;
    ASSERT_TRUE(everyone.FromSddl(L"O:WDD:(A;;GA;;;WD)"));
    const std::wstring written = L"[{\"url\":\"https://bank.example/*\",\"elements\":[]}]";
    for (const bool squatLock : {false, true}) {
        unique_handle squatted(squatLock ? CreateMutexW(everyone.attributes(), FALSE, kTemplateStoreLockName)
                                         : CreateFileMappingW(INVALID_HANDLE_VALUE, everyone.attributes(), PAGE_READWRITE,
                                                              0, kTemplateStoreSize, kTemplateStoreName));
        ASSERT_TRUE(squatted);
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  GetSecurityInfo(squatted.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                  nullptr, &descriptor));
        unique_localmem ownedDescriptor(descriptor);
        ASSERT_TRUE(IsWellKnownSid(owner, WinWorldSid)) << "the squatter's owner, as Wine keeps it";

        testenv::LogCapture log;
        {
            ComPtr<IVelnorIEExt> object = CreateExtension();
            host::Value value(written);
            EXPECT_EQ(S_OK, PutByName(object.get(), L"Templates", *value.get()));
            unique_variant read;
            ASSERT_EQ(S_OK, GetByName(object.get(), L"Templates", read.get()));
            EXPECT_EQ(0u, SysStringLen(V_BSTR(read.get())));
        }
        EXPECT_EQ(1u, Count(log.Messages(), std::string("CVelnorIEExt::CVelnorIEExt() -> template store refused: ") +
                                                (squatLock ? "its lock belongs to another user"
                                                           : "the section belongs to another user")));
        if (!squatLock) {
            unique_mapview view(MapViewOfFile(squatted.get(), FILE_MAP_READ, 0, 0, kTemplateStoreSize));
            ASSERT_TRUE(view);
            EXPECT_EQ(0, *reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(view.get()) + kTemplateTextOffset))
                << "nothing reached the squatted section";
        }
    }
    // Made by this user, the store works again.
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, PutTemplates(object, written));
    EXPECT_EQ(written, Templates(object));
}

TEST(TemplateStoreTest, WritesReplaceTheWholeTextAndClearTheRest) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ComPtr<IVelnorIEExt> other = CreateExtension();
    ASSERT_EQ(S_OK, PutTemplates(object, std::wstring(5000, L'L')));
    ASSERT_EQ(S_OK, PutTemplates(object, L"short"));
    EXPECT_EQ(L"short", Templates(other)) << "every object of the session sees the same store";
    SectionView section;
    EXPECT_EQ(0, memcmp(section.bytes() + kTemplateTextOffset, L"short", 10));
    EXPECT_TRUE(section.TextAreaZeroFrom(10));

    ASSERT_EQ(S_OK, PutTemplates(object, L""));
    EXPECT_TRUE(section.TextAreaZeroFrom(0));
    EXPECT_EQ(L"", Templates(object));
    ASSERT_EQ(S_OK, object->put_Templates(nullptr));
    EXPECT_TRUE(section.TextAreaZeroFrom(0));
}

TEST(TemplateStoreTest, TextStopsAtAnEmbeddedNul) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, PutTemplates(object, std::wstring(L"before\0after", 12)));
    EXPECT_EQ(L"before", Templates(object));
}

TEST(TemplateStoreTest, LongestTextRoundTripsAndALongerOneIsRefusedWithNothingLost) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    std::wstring longest(kMaxTemplateTextLength, L'x');
    longest.front() = L'[';
    longest.back() = L']';
    ASSERT_EQ(524285u, longest.size());
    ASSERT_EQ(S_OK, PutTemplates(object, longest));
    EXPECT_EQ(longest, Templates(object));
    SectionView section;
    EXPECT_EQ(0, section.bytes()[kTemplateStoreSize - 2]);
    EXPECT_EQ(0, section.bytes()[kTemplateStoreSize - 1]);

    testenv::LogCapture log;
    EXPECT_EQ(E_INVALIDARG, PutTemplates(object, longest + L"y"));
    EXPECT_EQ(longest, Templates(object));
    const auto messages = log.Messages();
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::set_Templates() -> refused: 524286 characters, at most 524285 fit"));
}

TEST(TemplateStoreTest, ReaderNeverRunsPastAnUnterminatedText) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    // Another program filled the whole text area without a terminator.
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    const TemplateStore::View view = store.Access();
    wchar_t* text = reinterpret_cast<wchar_t*>(view.bytes() + kTemplateTextOffset);
    for (size_t i = 0; i < kTemplateTextBytes / 2; ++i) text[i] = L'z';
    EXPECT_EQ(kTemplateTextBytes / 2, Templates(object).size());
    ASSERT_EQ(S_OK, PutTemplates(object, L""));
}

TEST(TemplateStoreTest, TracesNeverHoldTheTemplateText) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, PutTemplates(object, L"[{\"password\":\"hunter2\"}]"));
    Templates(object);
    EXPECT_EQ((std::vector<std::string>{"CVelnorIEExt::set_Templates()", "CVelnorIEExt::set_Templates() -> updated",
                                        "CVelnorIEExt::set_Templates() -> finished", "CVelnorIEExt::get_Templates()",
                                        "CVelnorIEExt::get_Templates() -> <24 characters>"}),
              log.Messages());
}

TEST(DebugTimeTest, ExpiresThroughTheThreadTimer) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, object->put_DebugTime(1));
    EXPECT_EQ(1, DebugTime(object));
    EXPECT_NE(0u, Impl(object)->DebugTimerId());
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->DebugTimerId() == 0; }));
    EXPECT_EQ(0, DebugTime(object));
    EXPECT_EQ(0u, Impl(object)->DebugTimerId());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
    const auto messages = log.Messages();
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::put_DebugTime(1)"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::put_DebugTime() -> 0"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::OnUpdate()"));
}

TEST(DebugTimeTest, EachObjectEndsItsOwnPeriodWhateverOthersWrote) {
    ComPtr<IVelnorIEExt> a = CreateExtension();
    ComPtr<IVelnorIEExt> b = CreateExtension();
    ASSERT_EQ(S_OK, a->put_DebugTime(1));
    ASSERT_EQ(S_OK, b->put_DebugTime(2));
    EXPECT_EQ(2, DebugTime(a));
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(a)->DebugTimerId() == 0; }));
    EXPECT_NE(0u, Impl(b)->DebugTimerId()) << "B's period runs on";
    EXPECT_EQ(0, DebugTime(b)) << "A's timer writes 0 although B wrote 2";
    SectionView section;
    section.SetWord(7);
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(b)->DebugTimerId() == 0; }));
    EXPECT_EQ(0, DebugTime(a)) << "B's own timer ends its period too";
}

TEST(DebugTimeTest, ZeroStopsTheTimerAndNegativeStartsNone) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, object->put_DebugTime(1));
    ASSERT_EQ(S_OK, object->put_DebugTime(0));
    EXPECT_EQ(0u, Impl(object)->DebugTimerId());
    ASSERT_EQ(S_OK, object->put_DebugTime(-3));
    EXPECT_EQ(0u, Impl(object)->DebugTimerId());
    EXPECT_TRUE(Impl(object)->TimerIds().empty());
    testenv::PumpMessages(1300);
    EXPECT_EQ(-3, DebugTime(object)) << "a negative value is stored as it is and no timer ends it";
    ASSERT_EQ(S_OK, object->put_DebugTime(0));
}

TEST(DebugTimeTest, SecondWriteReplacesTheTimer) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, object->put_DebugTime(30));
    const UINT_PTR first = Impl(object)->DebugTimerId();
    testenv::LogCapture log;
    ASSERT_EQ(S_OK, object->put_DebugTime(1));
    EXPECT_NE(first, Impl(object)->DebugTimerId());
    EXPECT_EQ(1u, Impl(object)->TimerIds().size());
    EXPECT_EQ(nullptr, TimerMapLookup(first));
    ASSERT_TRUE(testenv::PumpUntil([&] { return Impl(object)->DebugTimerId() == 0; }));
    EXPECT_EQ(0, DebugTime(object));
    const auto messages = log.Messages();
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::put_DebugTime() -> 30"));
}

TEST(DebugTimeTest, PeriodsBeyondTheTimerRangeAreCapped) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, object->put_DebugTime(2147483647));
    EXPECT_NE(0u, Impl(object)->DebugTimerId());
    EXPECT_EQ(2147483647, DebugTime(object));
    ASSERT_EQ(S_OK, object->put_DebugTime(0));
}

TEST(DebugTimeTest, NoTimerFiresIntoAnUnsitedOrReleasedObject) {
    host::FakeBrowser browser;
    {
        ComPtr<IVelnorIEExt> released = CreateExtension();
        ASSERT_EQ(S_OK, released->put_DebugTime(1));
    }
    ComPtr<IVelnorIEExt> unsited = CreateExtension();
    ComPtr<IObjectWithSite> site;
    ASSERT_EQ(S_OK, unsited.As(IID_IObjectWithSite, &site));
    ASSERT_EQ(S_OK, site->SetSite(browser.Site()));
    ASSERT_EQ(S_OK, unsited->put_DebugTime(1));
    ASSERT_EQ(S_OK, site->SetSite(nullptr));
    EXPECT_TRUE(Impl(unsited)->TimerIds().empty());

    testenv::LogCapture log;
    testenv::PumpMessages(1500);
    EXPECT_EQ(0u, Count(log.Messages(), "CVelnorIEExt::OnUpdate()"));
    // The period ended with the object that started it.
    EXPECT_EQ(0, DebugTime(unsited));
}

TEST(DebugTimeTest, APeriodEndsWithItsObjectUnlessAnotherObjectReplacedIt) {
    ComPtr<IVelnorIEExt> other = CreateExtension();   // keeps the store open
    {
        ComPtr<IVelnorIEExt> closedTab = CreateExtension();
        ASSERT_EQ(S_OK, closedTab->put_DebugTime(60));
        EXPECT_EQ(60, DebugTime(other));
    }
    EXPECT_EQ(0, DebugTime(other)) << "tracing is not left on for the session";
    {
        ComPtr<IVelnorIEExt> closedTab = CreateExtension();
        ASSERT_EQ(S_OK, closedTab->put_DebugTime(60));
        ASSERT_EQ(S_OK, other->put_DebugTime(600));
    }
    EXPECT_EQ(600, DebugTime(other)) << "a later period of another object stays";
    ASSERT_EQ(S_OK, other->put_DebugTime(0));
}

TEST(TemplateStoreProcessTest, TwoProcessesShareTheStore) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    ASSERT_EQ(S_OK, PutTemplates(object, L"[\"from the test\"]"));
    const std::wstring out = testenv::FreshFolder(L"store-share") + L"\\read.txt";
    ASSERT_EQ(0, testenv::RunProgram(L"store_child.exe", L"get \"" + out + L"\""));
    EXPECT_EQ("[\"from the test\"]", testenv::ReadFileBytes(out));
    ASSERT_EQ(0, testenv::RunProgram(L"store_child.exe", L"put from-the-child"));
    EXPECT_EQ(L"from-the-child", Templates(object));
}

TEST(TemplateStoreProcessTest, ReadersNeverSeeATornText) {
    {
        ComPtr<IVelnorIEExt> holder = CreateExtension();
        ASSERT_EQ(S_OK, PutTemplates(holder, L""));
    }
    std::vector<unique_handle> children;
    for (const wchar_t* arguments : {L"write 1 3000", L"write 2 3000", L"read 3000", L"read 3000"})
        children.emplace_back(testenv::StartProgram(L"store_child.exe", arguments));
    for (auto& child : children) {
        ASSERT_TRUE(child);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 120000));
        DWORD code = 1;
        GetExitCodeProcess(child.get(), &code);
        EXPECT_EQ(0u, code) << "a reader saw a text that no writer wrote";
    }
}

}  // namespace
