// Security of the named objects that browser tabs share with other programs. Internet-zone tabs
// run at low integrity (Protected Mode); an object made with default security carries the
// creator's medium label, which keeps low-integrity tabs from writing it. These descriptors give
// access to whom it belongs and carry a low mandatory label (no write up from below low), so
// that a tab and a program of the same user can both use whichever object one of them made.
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

// The objects of one logon session (the template store and its lock): all access for the user
// of this process (not everyone: other users' processes in the same session, services), and the
// low label. Empty when the user cannot be found.
std::wstring SessionObjectSddl();

// The machine-wide log mutex: every user may wait on it and release it (SYNCHRONIZE and
// MUTEX_MODIFY_STATE) and nothing more, and the low label.
std::wstring LogMutexSddl();

// The SDDL of the current process's user SID, or empty.
std::wstring CurrentUserSid();
