// Where the template store lives and how a process names and secures it, as pure functions of
// where the process runs.
//
// Every process of the logon session meets on one store, in the session's namespace:
// "Local\VelnorSSOTemplates" for the browser's medium and low integrity tabs, the store tool and
// any agent preparing sign-ons. A tab in an AppContainer (Enhanced Protected Mode) has its own
// namespace behind "Local\" and reaches the session's by "Session\<id>\VelnorSSOTemplates"; it
// only opens the store there, with no more rights than the objects grant its container, and
// never creates it, since the session's namespace is not the container's to create in. Only
// when nothing outside has made the store does such a tab fall back to a store of its own in its
// container's namespace, which is what it had before: pages of the container still share it.
#pragma once

#include <windows.h>

#include <string>

struct StorePlaceInputs {
    bool appContainer = false;   // this process runs in an AppContainer
    std::wstring userSid;        // the user, as SDDL text
    std::wstring containerSid;   // the AppContainer the objects grant (empty when unknown: Windows 7)
    DWORD sessionId = 0;         // the logon session's terminal-services session
};

struct StorePlace {
    // The session's store and lock, as this process spells them.
    std::wstring sectionName;
    std::wstring lockName;
    // Inside an AppContainer: the container's own store, when the session's cannot be opened.
    // Empty outside one.
    std::wstring fallbackSectionName;
    std::wstring fallbackLockName;
    // The descriptors the objects are made with (empty: default security).
    std::wstring sectionSddl;
    std::wstring lockSddl;
    // The rights the session's objects are opened with.
    DWORD sectionAccess = FILE_MAP_ALL_ACCESS;
    DWORD lockAccess = MUTEX_ALL_ACCESS;
    // Whether this process may create the session's objects when they do not exist.
    bool createsSessionObjects = true;
};

StorePlace TemplateStorePlace(const StorePlaceInputs& inputs);

// Enhanced Protected Mode tabs run in an AppContainer: an access check there passes only when the
// DACL grants both the user and the container's SID. The store's objects therefore grant Internet
// Explorer's own AppContainer SID too, and only what a tab needs of them; never ALL APPLICATION
// PACKAGES, which would open the passwords to every packaged app of the user. These functions are
// pure: what they give depends on their arguments alone, so each case can be checked with the
// values given.

// What an AppContainer tab is given: of the store's section, query, map for reading and map for
// writing; of its lock, wait and release. Nothing that changes an object's security.
constexpr DWORD kContainerSectionAccess = SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE;   // 0x7
constexpr DWORD kContainerMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;                          // 0x100001

// The store's section: all access for the user; the AppContainer (when not empty) what a tab
// needs; the low label. Empty when the user is empty.
std::wstring StoreSectionSddl(const std::wstring& userSid, const std::wstring& containerSid);
// The store's lock: all access for the user; wait and release for the AppContainer; the label.
std::wstring StoreLockSddl(const std::wstring& userSid, const std::wstring& containerSid);

// A name of the logon session's namespace as this process must spell it: "Local\NAME" outside
// an AppContainer; inside one (where "Local\" is the container's own namespace)
// "Session\<id>\NAME", which leads to the session's namespace.
std::wstring SessionObjectName(const wchar_t* name, bool inAppContainer, DWORD sessionId);

// The AppContainer SID the store's objects grant: this process's own inside an AppContainer,
// else Internet Explorer's (empty where it cannot be derived).
std::wstring StoreAppContainerSid();
// The store section's descriptor for this process: its user, Internet Explorer's AppContainer.
std::wstring SessionObjectSddl();

// The inputs of this process (its context, its user, the AppContainer the store grants).
StorePlaceInputs CurrentStorePlaceInputs();
