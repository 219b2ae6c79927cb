// Counted COM reference: the API of unique_ptr plus put() for out-parameters and copy with AddRef.
#pragma once

#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(m_p, nullptr)) old->Release();
    }
    // Adopts a reference the caller already owns.
    void attach(T* p) noexcept {
        reset();
        m_p = p;
    }
    // Hands the reference to the caller.
    T* detach() noexcept { return std::exchange(m_p, nullptr); }
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface for U; *out is reset either way.
    template <typename U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (!m_p) {
            out->reset();
            return E_POINTER;
        }
        return m_p->QueryInterface(__uuidof(U), out->put_void());
    }
    // QueryInterface for an interface without a uuid declaration in the headers.
    template <typename U>
    HRESULT As(REFIID iid, ComPtr<U>* out) const noexcept {
        if (!m_p) {
            out->reset();
            return E_POINTER;
        }
        return m_p->QueryInterface(iid, out->put_void());
    }
    // Copies the reference into an out-parameter for a caller.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = m_p;
        if (m_p) m_p->AddRef();
        return S_OK;
    }

private:
    T* m_p = nullptr;
};
