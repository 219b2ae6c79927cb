#include "server/class_table.h"

#include "common/com_ptr.h"
#include "common/critical_section.h"
#include "extension/velnor_ie_ext.h"
#include "server/class_factory.h"
#include "server/identity.h"
#include "server/module.h"
#include "server/registrar.h"

namespace {

HRESULT UpdateVelnorIEExtRegistry(bool doRegister) {
    return UpdateRegistryFromScript(102, doRegister, nullptr);
}

ClassTableEntry g_entries[] = {
    {&CLSID_VelnorIEExt, UpdateVelnorIEExtRegistry, CreateCachedClassFactory,
     CVelnorIEExt::CreateInstance, nullptr},
};

IUnknown* DecodeSlot(void* slot) { return static_cast<IUnknown*>(DecodePointer(slot)); }

}  // namespace

CClassTable::CClassTable() : m_entries(g_entries), m_count(ARRAYSIZE(g_entries)) {
    for (ClassTableEntry& entry : *this) entry.cachedClassObject = EncodePointer(nullptr);
    m_initialized = InitializeModuleCriticalSection(&m_lock);
}

CClassTable::~CClassTable() {
    for (ClassTableEntry& entry : *this) {
        ComPtr<IUnknown> cached;   // the table's reference, let go with the slot
        cached.attach(DecodeSlot(entry.cachedClassObject));
        entry.cachedClassObject = EncodePointer(nullptr);
    }
    if (m_initialized) DeleteCriticalSection(&m_lock);
}

HRESULT CClassTable::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_initialized) return E_UNEXPECTED;
    for (ClassTableEntry& entry : *this) {
        if (!InlineIsEqualGUID(*entry.clsid, clsid)) continue;
        HRESULT hr = S_OK;
        IUnknown* cached = DecodeSlot(entry.cachedClassObject);
        if (!cached) {
            critical_section_lock lock(&m_lock);
            cached = DecodeSlot(entry.cachedClassObject);
            if (!cached) {
                IUnknown* created = nullptr;
                hr = entry.classObjectCreator(entry.instanceCreator, IID_IUnknown,
                                              reinterpret_cast<void**>(&created));
                if (SUCCEEDED(hr)) {
                    entry.cachedClassObject = EncodePointer(created);
                    cached = created;
                }
            }
        }
        if (!cached) return hr;
        hr = cached->QueryInterface(iid, out);
        if (SUCCEEDED(hr) && !*out) continue;
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
