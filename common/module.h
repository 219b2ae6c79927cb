// The module object: the DLL's lock count, its termination callbacks and the module lock, and
// the instance handle beside it. Every layer leans on it (each extension object holds a lock,
// the type-information cache registers its clean-up); the COM server (server/module.cpp)
// constructs the one instance in the DLL's load sequence and stores the instance handle, and a
// program that carries the product's code without the server constructs its own.
#pragma once

#include <windows.h>

extern HINSTANCE g_moduleInstance;     // stored by the DLL entry point on every call

using TerminationCallback = void (*)(void* argument);

class CVelnorIEModule {
public:
    // `libraryId`: the module's type library (LIBID_VelnorIELib in the DLL).
    explicit CVelnorIEModule(const GUID& libraryId);
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

// Set when a critical section of the load sequence could not be initialised; the DLL entry
// point then refuses the load.
bool ModuleInitializationFailed() noexcept;
void SetModuleInitializationFailed() noexcept;
// The load sequence initialises critical sections through this, so that a failure has one path.
bool InitializeModuleCriticalSection(CRITICAL_SECTION* section) noexcept;
