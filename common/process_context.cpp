#include "common/process_context.h"

#include "common/unique_owner.h"

#include <sddl.h>

#include <vector>

namespace {

// TOKEN_INFORMATION_CLASS values of Windows 8; Windows 7 refuses them (ERROR_INVALID_PARAMETER),
// which reads as "not an AppContainer".
constexpr int kTokenIsAppContainer = 29;
constexpr int kTokenAppContainerSid = 31;

std::vector<BYTE> TokenInformation(HANDLE token, int infoClass) {
    DWORD size = 0;
    GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), buffer.data(), size, &size))
        return {};
    return buffer;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return std::wstring();
    unique_localmem owner(text);
    return text;
}

// The system folder's copy of a DLL, never one beside the browser or in the current folder.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenW(name) >= MAX_PATH) return nullptr;
    std::wstring full(path, length);
    full += L'\\';
    full += name;
    return LoadLibraryExW(full.c_str(), nullptr, 0);
}

}  // namespace

ProcessContext ReadProcessContext(HANDLE token) {
    ProcessContext context;
    try {
        const std::vector<BYTE> isAppContainer = TokenInformation(token, kTokenIsAppContainer);
        if (isAppContainer.size() >= sizeof(DWORD))
            context.appContainer = *reinterpret_cast<const DWORD*>(isAppContainer.data()) != 0;
        if (context.appContainer) {
            const std::vector<BYTE> sid = TokenInformation(token, kTokenAppContainerSid);
            // TOKEN_APPCONTAINER_INFORMATION: one PSID.
            if (sid.size() >= sizeof(PSID)) context.appContainerSid = SidText(*reinterpret_cast<PSID const*>(sid.data()));
        }
        const std::vector<BYTE> label = TokenInformation(token, TokenIntegrityLevel);
        if (label.size() >= sizeof(TOKEN_MANDATORY_LABEL)) {
            PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
            if (sid && IsValidSid(sid) && *GetSidSubAuthorityCount(sid) > 0)
                context.integrityRid = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
        }
        DWORD session = 0, size = 0;
        if (GetTokenInformation(token, TokenSessionId, &session, sizeof(session), &size)) context.sessionId = session;
    } catch (...) {
        // Out of memory: what was read so far stands.
    }
    return context;
}

const ProcessContext& CurrentProcessContext() {
    static const ProcessContext context = [] {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return ProcessContext();
        unique_handle owned(token);
        return ReadProcessContext(token);
    }();
    return context;
}

std::wstring InternetExplorerAppContainerSid() {
    static const std::wstring sid = [] {
        using DeriveFn = HRESULT(WINAPI*)(PCWSTR, PSID*);
        // Kept loaded: the answer is kept for the process anyway.
        HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
        auto derive = userenv ? reinterpret_cast<DeriveFn>(
                                    GetProcAddress(userenv, "DeriveAppContainerSidFromAppContainerName"))
                              : nullptr;
        PSID derived = nullptr;
        if (!derive || FAILED(derive(kInternetExplorerAppContainerName, &derived)) || !derived) return std::wstring();
        std::wstring text;
        try {
            text = SidText(derived);
        } catch (...) {
        }
        // Allocated as AllocateAndInitializeSid allocates: FreeSid gives it back.
        FreeSid(derived);
        return text;
    }();
    return sid;
}
