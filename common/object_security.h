// Security of the named objects that browser tabs share with other programs. Internet-zone tabs
// run at low integrity (Protected Mode); an object made with default security carries the
// creator's medium label, which keeps low-integrity tabs from writing it. These descriptors give
// access to whom it belongs and carry a low mandatory label (no write up from below low), so
// that a tab and a program of the same user can both use whichever object one of them made.
//
// Enhanced Protected Mode tabs run in an AppContainer: an access check there passes only when
// the DACL grants both the user and the container's SID. The store's objects therefore grant
// Internet Explorer's own AppContainer SID too, and only what a tab needs of them; never
// ALL APPLICATION PACKAGES, which would open the passwords to every packaged app of the user.
//
// The descriptor and name functions with arguments are pure: what they give depends on their
// arguments alone, so each case can be checked with the values given.
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

// What an AppContainer tab is given: of the store's section, query, map for reading and map for
// writing; of a mutex, wait and release. Nothing that changes an object's security.
constexpr DWORD kContainerSectionAccess = SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE;   // 0x7
constexpr DWORD kContainerMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;                          // 0x100001

// The store's section: all access for the user; the AppContainer (when not empty) what a tab
// needs; the low label. Empty when the user is empty.
std::wstring StoreSectionSddl(const std::wstring& userSid, const std::wstring& containerSid);
// The store's lock: all access for the user; wait and release for the AppContainer; the label.
std::wstring StoreLockSddl(const std::wstring& userSid, const std::wstring& containerSid);

// The log mutex. Outside an AppContainer the machine-wide one: every user may wait on it and
// release it and nothing more. Inside, the container's own (its tabs write a log of their own):
// wait and release for the user and the container. Both with the low label; inside an
// AppContainer empty when either SID is empty.
std::wstring LogMutexSddl(bool inAppContainer, const std::wstring& userSid, const std::wstring& containerSid);
// "Global\Velnor#MWriteLog" outside an AppContainer; inside, the same name in the container's
// own namespace ("Local\" there), since the Global namespace is not the container's to create in.
std::wstring LogMutexName(bool inAppContainer);

// A name of the logon session's namespace as this process must spell it: "Local\NAME" outside
// an AppContainer; inside one (where "Local\" is the container's own namespace)
// "Session\<id>\NAME", which leads to the session's namespace.
std::wstring SessionObjectName(const wchar_t* name, bool inAppContainer, DWORD sessionId);

// The same for this process: its user, its context and Internet Explorer's AppContainer SID.
std::wstring SessionObjectSddl();   // the store's section
std::wstring LogMutexSddl();

// The AppContainer SID the store's objects grant: this process's own inside an AppContainer,
// else Internet Explorer's (empty where it cannot be derived).
std::wstring StoreAppContainerSid();

// The SDDL of the current process's user SID, or empty; read from the token once per process.
std::wstring CurrentUserSid();

// Whether a named object this process did not make belongs to this user (or to the owner this
// process gives what it makes), to the system or to the administrators, who can read this
// user's memory anyway. Whoever makes a named object first sets its security: another user of
// the same session (a program started with runas) could make it before us with a DACL of its own.
bool IsOwnedByUserOrSystem(HANDLE object);

// An object only this user (and the system) may use: all access for them, nothing for anyone else.
std::wstring PrivateObjectSddl(const std::wstring& userSid);
