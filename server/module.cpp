#include "server/module.h"

#include "server/class_table.h"
#include "server/identity.h"
#include "server/registrar.h"

bool g_perUserRegistration = false;

namespace {

// Records this DLL as the module and resource instance. It exists for the load order:
// it is set up first and torn down last.
class CResourceInstanceHolder {
public:
    CResourceInstanceHolder() {
        if (!InitializeModuleCriticalSection(&m_lock)) {
            if (IsDebuggerPresent())
                OutputDebugStringW(L"ERROR : Unable to initialize critical section in CAtlBaseModule\n");
            return;
        }
        m_initialized = true;
    }
    ~CResourceInstanceHolder() {
        if (m_initialized) DeleteCriticalSection(&m_lock);
    }

private:
    CRITICAL_SECTION m_lock;
    bool m_initialized = false;
};

}  // namespace

HRESULT AddCommonVariables(IRegistrarBase* registrar) noexcept {
    return registrar->AddVariable(L"APPID", kAppIdText);
}

// The load sequence: the three objects are constructed in this order when the DLL is loaded
// and destroyed in the reverse order when it is unloaded.
namespace {
CResourceInstanceHolder g_resourceInstance;
}
CClassTable g_classTable;
CVelnorIEModule g_module(LIBID_VelnorIELib);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    g_moduleInstance = instance;
    if (reason == DLL_PROCESS_ATTACH && ModuleInitializationFailed()) return FALSE;
    return TRUE;
}
