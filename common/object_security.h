// Security of the named objects that browser tabs share with other programs: a descriptor built
// from SDDL and owned, the pieces the descriptors of the store (templates/store_place.h) and the
// log (logging/log_mutex.h) are made of, and the check of who made an object that existed before.
// Internet-zone tabs run at low integrity (Protected Mode); an object made with default security
// carries the creator's medium label, which keeps low-integrity tabs from writing it. The shared
// objects' descriptors give access to whom it belongs and carry a low mandatory label (no write up
// from below low), so that a tab and a program of the same user can both use whichever object one
// of them made.
#pragma once

#include <windows.h>

#include <string>

// Owns a security descriptor and the SECURITY_ATTRIBUTES that point to it.
class ObjectSecurity {
public:
    ObjectSecurity() = default;
    ~ObjectSecurity();
    ObjectSecurity(const ObjectSecurity&) = delete;
    ObjectSecurity& operator=(const ObjectSecurity&) = delete;

    // Builds the descriptor from SDDL. False (and no descriptor) when the text is refused.
    bool FromSddl(const std::wstring& sddl);
    // The attributes for CreateFileMapping, CreateMutex and the like; null without a descriptor
    // (the object then gets default security, as before).
    SECURITY_ATTRIBUTES* attributes() { return m_descriptor ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes = {};
};

// The low mandatory label: low-integrity processes may write the object.
constexpr wchar_t kLowIntegrityLabelSddl[] = L"S:(ML;;NW;;;LW)";

// An access-allowed ACE with the mask written out as eight hexadecimal digits ("(A;;0x...;;;SID)").
std::wstring SddlAce(DWORD mask, const std::wstring& sid);

// The SDDL of the current process's user SID, or empty; read from the token once per process.
std::wstring CurrentUserSid();

// Whether a named object this process did not make belongs to this user (or to the owner this
// process gives what it makes), to the system or to the administrators, who can read this
// user's memory anyway. Whoever makes a named object first sets its security: another user of
// the same session (a program started with runas) could make it before us with a DACL of its own.
bool IsOwnedByUserOrSystem(HANDLE object);

// An object only this user (and the system) may use: all access for them, nothing for anyone else.
std::wstring PrivateObjectSddl(const std::wstring& userSid);
