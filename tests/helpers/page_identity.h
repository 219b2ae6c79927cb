// A page's document for a binding made outside a browser (the helpers that let pages of the
// content-script suites reach the store): only its identity matters to the binding.
#pragma once

#include <windows.h>
#include <unknwn.h>

class PageIdentity final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_count; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_count;
        if (!count) delete this;
        return count;
    }

private:
    ULONG m_count = 1;
};
