// The security of the objects shared with Protected Mode tabs. Wine keeps the DACL of a named
// object and gives it back, but keeps no integrity label on objects: the label is checked on the
// descriptor the code builds, the DACL on the objects themselves.
#include "common/object_security.h"
#include "common/process_context.h"
#include "common/unique_owner.h"
#include "templates/store_place.h"
#include "templates/template_store.h"
#include "logging/log_mutex.h"
#include "logging/log_writer.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

namespace {

std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        return L"?";
    unique_localmem owner(text);
    return text;
}

std::wstring ObjectDacl(HANDLE object) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return L"?";
    unique_localmem owner(descriptor);
    return DescriptorText(descriptor, DACL_SECURITY_INFORMATION);
}

// The mandatory label of a descriptor as "type mask SID", read from its SACL (Wine's SDDL
// writer leaves labels out).
std::wstring Label(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    void* ace = nullptr;
    if (!GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) || !present || !sacl ||
        sacl->AceCount != 1 || !GetAce(sacl, 0, &ace))
        return L"none";
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    LPWSTR sid = nullptr;
    if (!ConvertSidToStringSidW(&label->SidStart, &sid)) return L"?";
    unique_localmem owner(sid);
    return std::to_wstring(label->Header.AceType) + L" " + std::to_wstring(label->Mask) + L" " + sid;
}

TEST(ObjectSecurityTest, DescriptorsGiveTheUserOrEveryoneNoMoreThanNeededAndALowLabel) {
    const std::wstring user = CurrentUserSid();
    ASSERT_EQ(0u, user.rfind(L"S-1-5-", 0)) << testenv::Narrow(user.c_str());
    for (const std::wstring& sddl : {SessionObjectSddl(), LogMutexSddl()}) {
        ObjectSecurity security;
        ASSERT_TRUE(security.FromSddl(sddl));
        ASSERT_NE(nullptr, security.attributes());
        EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), security.attributes()->nLength);
        EXPECT_FALSE(security.attributes()->bInheritHandle);
        // A mandatory label (type 0x11), no write up (1), low integrity (S-1-16-4096).
        EXPECT_EQ(L"17 1 S-1-16-4096", Label(security.attributes()->lpSecurityDescriptor));
    }
    EXPECT_EQ(L"D:(A;;GA;;;" + user + L")S:(ML;;NW;;;LW)", SessionObjectSddl());
    EXPECT_EQ(L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)", LogMutexSddl());
    ObjectSecurity refused;
    EXPECT_FALSE(refused.FromSddl(L"D:(nonsense"));
    EXPECT_EQ(nullptr, refused.attributes());
}

TEST(ObjectSecurityTest, TheStoreAndItsLockBelongToTheUserOnly) {
    const TemplateStore store(TemplateStore::Mode::kCreateOrOpen);
    ASSERT_TRUE(store.section());
    ASSERT_TRUE(store.lock());
    // Where Internet Explorer's AppContainer SID can be derived (Windows 8 and later) it is
    // granted too; Wine has no way to derive it.
    const std::wstring container = StoreAppContainerSid();
    const std::wstring expected = L"D:(A;;GA;;;" + CurrentUserSid() + L")";
    EXPECT_EQ(container.empty() ? expected : expected + L"(A;;0x7;;;" + container + L")", ObjectDacl(store.section()));
    EXPECT_EQ(container.empty() ? expected : expected + L"(A;;0x100001;;;" + container + L")", ObjectDacl(store.lock()));
}

TEST(ObjectSecurityTest, TheLogMutexLetsEveryoneWaitAndReleaseOnly) {
    // A mutex another user made is opened with the rights everyone has.
    ObjectSecurity security;
    ASSERT_TRUE(security.FromSddl(LogMutexSddl()));
    unique_handle made(CreateMutexExW(security.attributes(), L"Local\\VelnorSecurityTest", 0, MUTEX_ALL_ACCESS));
    ASSERT_TRUE(made);
    EXPECT_EQ(L"D:(A;;0x100001;;;WD)", ObjectDacl(made.get()));
}

// One access-allowed ACE as "type flags mask SID", read from the descriptor's bytes.
std::vector<std::wstring> DaclAces(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<std::wstring> aces;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return aces;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) break;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        LPWSTR sid = nullptr;
        if (!ConvertSidToStringSidW(&allowed->SidStart, &sid)) break;
        unique_localmem owner(sid);
        std::wstring mask;
        for (int shift = 28; shift >= 0; shift -= 4) mask += L"0123456789ABCDEF"[(allowed->Mask >> shift) & 0xF];
        aces.push_back(std::to_wstring(allowed->Header.AceType) + L" " + std::to_wstring(allowed->Header.AceFlags) +
                       L" " + mask + L" " + sid);
    }
    return aces;
}

struct Built {
    std::vector<std::wstring> aces;
    std::wstring label;
};

Built Build(const std::wstring& sddl) {
    ObjectSecurity security;
    if (!security.FromSddl(sddl)) return {{L"refused"}, L""};
    return {DaclAces(security.attributes()->lpSecurityDescriptor), Label(security.attributes()->lpSecurityDescriptor)};
}

const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
// An AppContainer SID of the form DeriveAppContainerSidFromAppContainerName gives.
const std::wstring kContainer = L"S-1-15-2-3624051433-2125758914-1423191267-1740899205-1073925389-3782572162-737981194";
const std::wstring kLowLabel = L"17 1 S-1-16-4096";
const std::vector<std::wstring> kNoAces;

TEST(ObjectSecurityTest, TheStoreGrantsTheUserAllAndTheContainerOnlyMappingAndTheLockWaitAndRelease) {
    const Built section = Build(StoreSectionSddl(kUser, kContainer));
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 10000000 " + kUser, L"0 0 00000007 " + kContainer}), section.aces);
    EXPECT_EQ(kLowLabel, section.label);
    const Built lock = Build(StoreLockSddl(kUser, kContainer));
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 10000000 " + kUser, L"0 0 00100001 " + kContainer}), lock.aces);
    EXPECT_EQ(kLowLabel, lock.label);
    // Never every packaged app of the user (ALL APPLICATION PACKAGES, S-1-15-2-1).
    for (const Built& built : {section, lock})
        for (const std::wstring& ace : built.aces) EXPECT_NE(L"S-1-15-2-1", ace.substr(ace.rfind(L' ') + 1));

    // Without a container SID (Windows 7) the user alone, as before.
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 10000000 " + kUser}), Build(StoreSectionSddl(kUser, L"")).aces);
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 10000000 " + kUser}), Build(StoreLockSddl(kUser, L"")).aces);
    EXPECT_EQ(L"", StoreSectionSddl(L"", kContainer));
    EXPECT_EQ(L"", StoreLockSddl(L"", kContainer));
}

TEST(ObjectSecurityTest, TheLogMutexIsTheMachinesOutsideAndTheContainersOwnInside) {
    const Built outside = Build(LogMutexSddl(false, kUser, kContainer));
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 00100001 S-1-1-0"}), outside.aces);
    EXPECT_EQ(kLowLabel, outside.label);
    EXPECT_EQ(L"Global\\Velnor#MWriteLog", LogMutexName(false));

    const Built inside = Build(LogMutexSddl(true, kUser, kContainer));
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 00100001 " + kUser, L"0 0 00100001 " + kContainer}), inside.aces);
    EXPECT_EQ(kLowLabel, inside.label);
    EXPECT_EQ(L"Local\\Velnor#MWriteLog", LogMutexName(true));
    // No guess at whom to grant: default security instead.
    EXPECT_EQ(L"", LogMutexSddl(true, kUser, L""));
    EXPECT_EQ(L"", LogMutexSddl(true, L"", kContainer));
}

TEST(StorePlaceTest, OutsideAnAppContainerTheStoreIsTheSessionsAsBefore) {
    StorePlaceInputs inputs;
    inputs.userSid = kUser;
    inputs.containerSid = kContainer;
    inputs.sessionId = 2;
    const StorePlace place = TemplateStorePlace(inputs);
    EXPECT_EQ(kTemplateStoreName, place.sectionName);
    EXPECT_EQ(kTemplateStoreLockName, place.lockName);
    EXPECT_EQ(L"", place.fallbackSectionName);
    EXPECT_EQ(L"", place.fallbackLockName);
    EXPECT_EQ(StoreSectionSddl(kUser, kContainer), place.sectionSddl);
    EXPECT_EQ(StoreLockSddl(kUser, kContainer), place.lockSddl);
    EXPECT_EQ(static_cast<DWORD>(FILE_MAP_ALL_ACCESS), place.sectionAccess);
    EXPECT_EQ(static_cast<DWORD>(MUTEX_ALL_ACCESS), place.lockAccess);
    EXPECT_TRUE(place.createsSessionObjects);
}

TEST(StorePlaceTest, InsideAnAppContainerTheSessionsStoreIsOpenedByItsSessionNameWithTheGrantedRights) {
    StorePlaceInputs inputs;
    inputs.appContainer = true;
    inputs.userSid = kUser;
    inputs.containerSid = kContainer;
    inputs.sessionId = 7;
    const StorePlace place = TemplateStorePlace(inputs);
    EXPECT_EQ(L"Session\\7\\VelnorSSOTemplates", place.sectionName);
    EXPECT_EQ(L"Session\\7\\VelnorSSOTemplates.Lock", place.lockName);
    // "Local\" is the container's own namespace there.
    EXPECT_EQ(kTemplateStoreName, place.fallbackSectionName);
    EXPECT_EQ(kTemplateStoreLockName, place.fallbackLockName);
    EXPECT_FALSE(place.createsSessionObjects);
    // Not more than the objects grant the container, or the open is refused.
    EXPECT_EQ(0u, place.sectionAccess & ~kContainerSectionAccess);
    EXPECT_EQ(static_cast<DWORD>(FILE_MAP_READ | FILE_MAP_WRITE), place.sectionAccess);
    EXPECT_EQ(kContainerMutexAccess, place.lockAccess);
    EXPECT_EQ((std::vector<std::wstring>{L"0 0 10000000 " + kUser, L"0 0 00000007 " + kContainer}),
              Build(place.sectionSddl).aces);

    EXPECT_EQ(L"Session\\0\\X", SessionObjectName(L"X", true, 0));
    EXPECT_EQ(L"Local\\X", SessionObjectName(L"X", false, 0));
}

// Wine, like Windows 7, has none of the AppContainer functions: the DLL runs as a process
// outside any container, and the store is the session's.
TEST(ProcessContextTest, WhereTheAppContainerFunctionsAreMissingTheProcessIsOutsideAnyContainer) {
    const ProcessContext& context = CurrentProcessContext();
    EXPECT_EQ(&context, &CurrentProcessContext()) << "read once";
    EXPECT_FALSE(context.appContainer);
    EXPECT_EQ(L"", context.appContainerSid);
    EXPECT_GE(context.integrityRid, static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));
    DWORD session = 99;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(session, context.sessionId);

    HMODULE userenv = GetModuleHandleW(L"userenv.dll");
    const bool derivable = userenv && GetProcAddress(userenv, "DeriveAppContainerSidFromAppContainerName");
    const std::wstring ie = InternetExplorerAppContainerSid();
    if (derivable) EXPECT_EQ(0u, ie.rfind(L"S-1-15-2-", 0)) << testenv::Narrow(ie.c_str());
    else EXPECT_EQ(L"", ie);
    EXPECT_EQ(ie, StoreAppContainerSid());

    // A handle that is no token gives the defaults.
    unique_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const ProcessContext none = ReadProcessContext(event.get());
    EXPECT_FALSE(none.appContainer);
    EXPECT_EQ(L"", none.appContainerSid);
    // (Wine answers the integrity level of any handle with the high label, so the default
    // level cannot be seen here.)

    const StorePlace place = TemplateStorePlace(CurrentStorePlaceInputs());
    EXPECT_EQ(kTemplateStoreName, place.sectionName);
    EXPECT_TRUE(place.createsSessionObjects);
}

}  // namespace
