#include "server/module.h"

#include "server/class_table.h"
#include "server/identity.h"
#include "server/registrar.h"

HINSTANCE g_moduleInstance = nullptr;
bool g_perUserRegistration = false;

namespace {

bool g_initializationFailed = false;
CVelnorIEModule* g_modulePointer = nullptr;

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

bool InitializeModuleCriticalSection(CRITICAL_SECTION* section) noexcept {
#ifdef VELNOR_FORCE_CRITICAL_SECTION_FAILURE
    // Built only into a test copy of the DLL, to prove that a failed load sequence refuses the load.
    (void)section;
    g_initializationFailed = true;
    return false;
#else
    if (!InitializeCriticalSectionAndSpinCount(section, 0)) {
        g_initializationFailed = true;
        return false;
    }
    return true;
#endif
}

bool ModuleInitializationFailed() noexcept { return g_initializationFailed; }
void SetModuleInitializationFailed() noexcept { g_initializationFailed = true; }

CVelnorIEModule::CVelnorIEModule() : m_libraryId(LIBID_VelnorIELib) {
    g_modulePointer = this;
    m_initialized = InitializeModuleCriticalSection(&m_moduleLock);
}

CVelnorIEModule::~CVelnorIEModule() {
    if (!m_initialized) return;
    // Most recently added first.
    while (TerminationNode* node = m_terminationList) {
        m_terminationList = node->next;
        node->callback(node->argument);
        delete node;
    }
    DeleteCriticalSection(&m_moduleLock);
    if (g_modulePointer == this) g_modulePointer = nullptr;
}

HRESULT CVelnorIEModule::AddTerminationCallback(TerminationCallback callback, void* argument) noexcept {
    auto* node = new (std::nothrow) TerminationNode{callback, argument, nullptr};
    if (!node) return E_OUTOFMEMORY;
    EnterCriticalSection(&m_moduleLock);
    node->next = m_terminationList;
    m_terminationList = node;
    LeaveCriticalSection(&m_moduleLock);
    return S_OK;
}

CVelnorIEModule* GetModule() noexcept { return g_modulePointer; }
void SetModuleForTesting(CVelnorIEModule* module) noexcept { g_modulePointer = module; }

LONG LockModule() noexcept { return g_modulePointer->Lock(); }
LONG UnlockModule() noexcept { return g_modulePointer->Unlock(); }
LONG GetModuleLockCount() noexcept { return g_modulePointer->LockCount(); }

HRESULT AddTerminationCallback(TerminationCallback callback, void* argument) noexcept {
    return g_modulePointer->AddTerminationCallback(callback, argument);
}

HRESULT AddCommonVariables(IRegistrarBase* registrar) noexcept {
    return registrar->AddVariable(L"APPID", kAppIdText);
}

// The load sequence: the three objects are constructed in this order when the DLL is loaded
// and destroyed in the reverse order when it is unloaded.
namespace {
CResourceInstanceHolder g_resourceInstance;
}
CClassTable g_classTable;
CVelnorIEModule g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    g_moduleInstance = instance;
    if (reason == DLL_PROCESS_ATTACH && g_initializationFailed) return FALSE;
    return TRUE;
}
