// Where this process runs: in an AppContainer (an Enhanced Protected Mode tab) or not, and at
// which integrity level. Read once per process from its own token.
//
// Everything newer than Windows 7 (the AppContainer token classes answer only from Windows 8 on,
// DeriveAppContainerSidFromAppContainerName lives in userenv.dll from Windows 8 on) is asked for
// at run time: the DLL loads on Windows 7, where the answers are "not in an AppContainer" and
// "no AppContainer SID".
#pragma once

#include <windows.h>

#include <string>

struct ProcessContext {
    bool appContainer = false;
    // SECURITY_MANDATORY_*_RID of the token; medium when it cannot be read.
    DWORD integrityRid = SECURITY_MANDATORY_MEDIUM_RID;
    // The token's own AppContainer SID as SDDL text; empty outside an AppContainer.
    std::wstring appContainerSid;
    // The terminal-services session, for names of the session's namespace seen from inside.
    DWORD sessionId = 0;
};

// The token's context. A token that cannot be read gives the defaults.
ProcessContext ReadProcessContext(HANDLE token);

// This process's context, read on first use and kept.
const ProcessContext& CurrentProcessContext();

// The AppContainer SID of Internet Explorer's Enhanced Protected Mode tabs (derived from the
// package family name "windows_ie_ac_001") as SDDL text; empty where it cannot be derived
// (Windows 7, Wine). Derived on first use and kept.
std::wstring InternetExplorerAppContainerSid();

// The name from which Internet Explorer's AppContainer SID is derived.
constexpr wchar_t kInternetExplorerAppContainerName[] = L"windows_ie_ac_001";
