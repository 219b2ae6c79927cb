// The module object: lock count, termination callbacks, module lock; the DLL's instance
// handle and the per-user registration switch beside it.
#pragma once

#include <windows.h>

struct IRegistrarBase;

extern HINSTANCE g_moduleInstance;     // stored by the DLL entry point on every call
extern bool g_perUserRegistration;     // set only by DllInstall(…, L"user")

using TerminationCallback = void (*)(void* argument);

class CVelnorIEModule {
public:
    CVelnorIEModule();
    ~CVelnorIEModule();
    CVelnorIEModule(const CVelnorIEModule&) = delete;
    CVelnorIEModule& operator=(const CVelnorIEModule&) = delete;

    LONG Lock() noexcept { return InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_lockCount); }
    LONG LockCount() const noexcept { return m_lockCount; }

    // E_OUTOFMEMORY when the node cannot be allocated; otherwise inserted at the head.
    HRESULT AddTerminationCallback(TerminationCallback callback, void* argument) noexcept;

    // The lock under which the termination list and the type-information cache are filled.
    CRITICAL_SECTION* ModuleLock() noexcept { return &m_moduleLock; }
    const GUID& LibraryId() const noexcept { return m_libraryId; }

private:
    struct TerminationNode {
        TerminationCallback callback;
        void* argument;
        TerminationNode* next;
    };

    volatile LONG m_lockCount = 0;
    TerminationNode* m_terminationList = nullptr;
    CRITICAL_SECTION m_moduleLock;
    bool m_initialized = false;
    GUID m_libraryId;
};

// The one module object of the process (set by its constructor).
CVelnorIEModule* GetModule() noexcept;
void SetModuleForTesting(CVelnorIEModule* module) noexcept;

LONG LockModule() noexcept;
LONG UnlockModule() noexcept;
LONG GetModuleLockCount() noexcept;
HRESULT AddTerminationCallback(TerminationCallback callback, void* argument) noexcept;

// Adds APPID to a registrar for every registry script this module runs.
HRESULT AddCommonVariables(IRegistrarBase* registrar) noexcept;

// Set when a critical section of the load sequence could not be initialised; the DLL entry
// point then refuses the load.
bool ModuleInitializationFailed() noexcept;
void SetModuleInitializationFailed() noexcept;
// The load sequence initialises critical sections through this, so that a failure has one path.
bool InitializeModuleCriticalSection(CRITICAL_SECTION* section) noexcept;
