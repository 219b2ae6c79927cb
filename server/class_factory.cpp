#include "server/class_factory.h"

#include "server/module.h"

#include <new>

namespace {

class CClassFactory final : public IClassFactory {
public:
    explicit CClassFactory(CreatorFunction creator) : m_creator(creator) {
        InitializeCriticalSection(&m_lock);
    }
    ~CClassFactory() { DeleteCriticalSection(&m_lock); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
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
    auto* factory = new (std::nothrow) CClassFactory(instanceCreator);
    if (!factory) return E_OUTOFMEMORY;
    // new → QueryInterface → nothing else: the query's reference is the cache's own.
    const HRESULT hr = factory->QueryInterface(iid, out);
    if (FAILED(hr)) delete factory;
    return hr;
}
