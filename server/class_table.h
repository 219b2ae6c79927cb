// The class table: one entry per served class (here exactly one), with its cached class object.
#pragma once

#include <windows.h>
#include <unknwn.h>

using CreatorFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
using UpdateRegistryFunction = HRESULT (*)(bool doRegister);
using ClassObjectCreatorFunction = HRESULT (*)(CreatorFunction instanceCreator, REFIID iid, void** out);

struct ClassTableEntry {
    const CLSID* clsid;
    UpdateRegistryFunction updateRegistry;          // runs the class's registry script
    ClassObjectCreatorFunction classObjectCreator;  // makes the cached class object
    CreatorFunction instanceCreator;                // makes an instance; refuses aggregation
    void* cachedClassObject;                        // encoded IUnknown*, empty at load
};

class CClassTable {
public:
    CClassTable();
    ~CClassTable();
    CClassTable(const CClassTable&) = delete;
    CClassTable& operator=(const CClassTable&) = delete;

    // DllGetClassObject's walk: E_POINTER, E_UNEXPECTED when not initialised, the cached class
    // object's answer, or CLASS_E_CLASSNOTAVAILABLE.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);

    ClassTableEntry* begin() noexcept { return m_entries; }
    ClassTableEntry* end() noexcept { return m_entries + m_count; }

private:
    ClassTableEntry* m_entries;
    size_t m_count;
    CRITICAL_SECTION m_lock;
    bool m_initialized = false;
};

extern CClassTable g_classTable;
