#include "server/class_factory.h"

#include "common/com_object.h"
#include "server/module.h"

namespace {

class CClassFactory final : public IClassFactory {
public:
    explicit CClassFactory(CreatorFunction creator) : m_creator(creator) {
        InitializeCriticalSection(&m_lock);
    }
    ~CClassFactory() { DeleteCriticalSection(&m_lock); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        static const InterfaceEntry kInterfaces[] = {
            INTERFACE_ENTRY(CClassFactory, IID_IUnknown, IClassFactory),
            INTERFACE_ENTRY(CClassFactory, IID_IClassFactory, IClassFactory),
        };
        return QueryInterfaceFromTable(this, kInterfaces, iid, out);
    }

    // The first reference belongs to the class table's cache; every further one is a
    // caller's and keeps the module loaded.
    STDMETHODIMP_(ULONG) AddRef() override {
        const LONG count = InterlockedIncrement(&m_refCount);
        if (count == 2) LockModule();
        return static_cast<ULONG>(count);
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 1) UnlockModule();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer && !InlineIsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        return m_creator(outer, iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }

private:
    volatile LONG m_refCount = 0;
    CRITICAL_SECTION m_lock;
    CreatorFunction m_creator;
};

}  // namespace

HRESULT CreateCachedClassFactory(CreatorFunction instanceCreator, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // The query's reference is the cache's own (the creation's passing reference locks and
    // unlocks the module once).
    return CreateComObject([&] { return new CClassFactory(instanceCreator); }, iid, out);
}
