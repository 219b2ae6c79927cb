// The COM server's exports.
#include "server/exports.h"

#include "server/class_table.h"
#include "server/identity.h"
#include "server/module.h"
#include "server/registrar.h"
#include "server/type_library.h"

namespace {

class ThreadLocaleScope {
public:
    ThreadLocaleScope() : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~ThreadLocaleScope() { SetThreadLocale(m_saved); }
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

private:
    LCID m_saved;
};

const ScriptVariable kModuleScriptVariables[] = {
    {L"APPID", kAppIdText},
    {nullptr, nullptr},
};

constexpr UINT kModuleScript = 101;

// ASCII letters without regard to case, the terminating null included: "USER" matches,
// "users" and "user " do not.
bool IsUserCommandLine(const wchar_t* text) {
    static const wchar_t kUser[] = L"user";
    for (size_t i = 0; i < ARRAYSIZE(kUser); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        if (c != kUser[i]) return false;
    }
    return true;
}

}  // namespace

HRESULT RegisterModule(bool registerTypeLibrary) {
    ThreadLocaleScope locale;
    HRESULT hr = UpdateRegistryFromScript(kModuleScript, true, kModuleScriptVariables);
    if (FAILED(hr)) return hr;
    for (ClassTableEntry& entry : g_classTable) {
        hr = entry.updateRegistry(true);
        if (FAILED(hr)) return hr;
        // No component categories to register.
    }
    if (registerTypeLibrary) hr = RegisterTypeLibrary(g_moduleInstance, nullptr);
    return hr;
}

HRESULT UnregisterModule(bool unregisterTypeLibrary) {
    ThreadLocaleScope locale;
    HRESULT hr = S_OK;
    for (ClassTableEntry& entry : g_classTable) {
        // No component categories to unregister.
        hr = entry.updateRegistry(false);
        if (FAILED(hr)) return hr;
    }
    if (unregisterTypeLibrary) {
        hr = UnregisterTypeLibrary(g_moduleInstance, nullptr);
        if (FAILED(hr)) return hr;
    }
    hr = UpdateRegistryFromScript(kModuleScript, false, kModuleScriptVariables);
    if (FAILED(hr)) return hr;
    return S_OK;
}

STDAPI DllCanUnloadNow() {
    return GetModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    return g_classTable.GetClassObject(clsid, iid, out);
}

STDAPI DllRegisterServer() {
    return RegisterModule(true);
}

STDAPI DllUnregisterServer() {
    return UnregisterModule(true);
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    // Once set, per-user mode stays for every later registration in this process.
    if (commandLine && IsUserCommandLine(commandLine)) g_perUserRegistration = true;
    if (!install) return UnregisterModule(true);
    const HRESULT hr = RegisterModule(true);
    if (FAILED(hr)) UnregisterModule(true);
    return hr;
}
