#include "common/module.h"

#include "common/critical_section.h"

#include <new>

HINSTANCE g_moduleInstance = nullptr;

namespace {

bool g_initializationFailed = false;
CVelnorIEModule* g_modulePointer = nullptr;

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

CVelnorIEModule::CVelnorIEModule(const GUID& libraryId) : m_libraryId(libraryId) {
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
    critical_section_lock lock(&m_moduleLock);
    node->next = m_terminationList;
    m_terminationList = node;
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
