// The security of the objects shared with Protected Mode tabs. Wine keeps the DACL of a named
// object and gives it back, but keeps no integrity label on objects: the label is checked on the
// descriptor the code builds, the DACL on the objects themselves.
#include "common/object_security.h"
#include "common/unique_owner.h"
#include "templates/template_store.h"
#include "logging/log_writer.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

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
    const std::wstring expected = L"D:(A;;GA;;;" + CurrentUserSid() + L")";
    EXPECT_EQ(expected, ObjectDacl(store.section()));
    EXPECT_EQ(expected, ObjectDacl(store.lock()));
}

TEST(ObjectSecurityTest, TheLogMutexLetsEveryoneWaitAndReleaseOnly) {
    // A mutex another user made is opened with the rights everyone has.
    ObjectSecurity security;
    ASSERT_TRUE(security.FromSddl(LogMutexSddl()));
    unique_handle made(CreateMutexExW(security.attributes(), L"Local\\VelnorSecurityTest", 0, MUTEX_ALL_ACCESS));
    ASSERT_TRUE(made);
    EXPECT_EQ(L"D:(A;;0x100001;;;WD)", ObjectDacl(made.get()));
}

}  // namespace
