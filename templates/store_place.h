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

// The inputs of this process (its context, its user, the AppContainer the store grants).
StorePlaceInputs CurrentStorePlaceInputs();
