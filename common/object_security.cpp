#include "common/object_security.h"

#include "common/unique_owner.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

std::wstring SddlAce(DWORD mask, const std::wstring& sid) {
    std::wstring hex = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) hex += L"0123456789ABCDEF"[(mask >> shift) & 0xF];
    return L"(A;;" + hex + L";;;" + sid + L")";
}

ObjectSecurity::~ObjectSecurity() {
    if (m_descriptor) LocalFree(m_descriptor);
}

bool ObjectSecurity::FromSddl(const std::wstring& sddl) {
    if (m_descriptor) LocalFree(m_descriptor);
    m_descriptor = nullptr;
    if (sddl.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_descriptor, nullptr))
        return false;
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = m_descriptor;
    m_attributes.bInheritHandle = FALSE;
    return true;
}

// The process token's user never changes while the process runs, and every tab asks for it when
// it opens the store (the owner checks): the token is read once, not four system calls a tab.
std::wstring CurrentUserSid() {
    static const std::wstring sid = [] {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
        unique_handle owned(token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        if (size == 0) return std::wstring();
        std::vector<BYTE> buffer(size);
        if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::wstring();
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
            return std::wstring();
        unique_localmem owner(text);
        return std::wstring(text);
    }();
    return sid;
}

namespace {

// The owner this process gives the objects it makes: the token's default owner (the user, or the
// Administrators for an elevated administrator; Wine uses a group of the user's). Read once, like
// the user's SID: every tab's store open asks for it.
std::wstring DefaultOwnerSid() {
    static const std::wstring sid = [] {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
        unique_handle owned(token);
        BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER)];
        DWORD size = 0;
        if (!GetTokenInformation(token, TokenOwner, buffer, sizeof(buffer), &size)) return std::wstring();
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner, &text)) return std::wstring();
        unique_localmem ownedText(text);
        return std::wstring(text);
    }();
    return sid;
}

}  // namespace

bool IsOwnedByUserOrSystem(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    unique_localmem ownedDescriptor(descriptor);
    LPWSTR text = nullptr;
    if (!owner || !ConvertSidToStringSidW(owner, &text)) return false;
    unique_localmem ownedText(text);
    const std::wstring sid(text);
    return sid == CurrentUserSid() || sid == DefaultOwnerSid() || sid == L"S-1-5-18" || sid == L"S-1-5-32-544";
}

std::wstring PrivateObjectSddl(const std::wstring& userSid) {
    if (userSid.empty()) return std::wstring();
    return L"D:P(A;;GA;;;" + userSid + L")(A;;GA;;;SY)";
}
