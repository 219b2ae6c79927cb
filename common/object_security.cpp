#include "common/object_security.h"

#include "common/unique_owner.h"

#include <sddl.h>

#include <vector>

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

std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
    unique_handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::wstring();
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::wstring();
    unique_localmem owner(text);
    return std::wstring(text);
}

std::wstring SessionObjectSddl() {
    const std::wstring user = CurrentUserSid();
    if (user.empty()) return std::wstring();
    return L"D:(A;;GA;;;" + user + L")" + kLowIntegrityLabelSddl;
}

std::wstring LogMutexSddl() {
    // 0x00100001: SYNCHRONIZE | MUTEX_MODIFY_STATE, for Everyone.
    return std::wstring(L"D:(A;;0x00100001;;;WD)") + kLowIntegrityLabelSddl;
}
