// Move-only owners for Windows resources: one template, one small traits type per kind.
// The traits say what an empty value is and how a value is given back, so nothing is closed
// the wrong way. put() empties the owner before handing out the address of its slot;
// reset() keeps GetLastError so that an early return can still report the real failure.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

template <typename Traits>
class unique_owner {
public:
    using pointer = typename Traits::type;

    unique_owner() noexcept : m_value(Traits::invalid()) {}
    explicit unique_owner(pointer value) noexcept : m_value(value) {}
    unique_owner(const unique_owner&) = delete;
    unique_owner& operator=(const unique_owner&) = delete;
    unique_owner(unique_owner&& other) noexcept : m_value(other.release()) {}
    unique_owner& operator=(unique_owner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_owner() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    // Gives up ownership without closing.
    pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(m_value, value);
        if (old != Traits::invalid()) {
            const DWORD lastError = GetLastError();
            Traits::close(old);
            SetLastError(lastError);
        }
    }

    // For out-parameters: closes what is held, then returns the slot's address.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value;
};

struct handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CloseHandle(h); }
};
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { CloseHandle(h); }
};
struct hkey_traits {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { RegCloseKey(h); }
};
struct mapview_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { UnmapViewOfFile(p); }
};
struct hmodule_traits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { FreeLibrary(h); }
};
struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type s) noexcept { SysFreeString(s); }
};
struct cotaskmem_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { CoTaskMemFree(p); }
};
struct localmem_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { LocalFree(p); }
};
struct event_source_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { DeregisterEventSource(h); }
};

using unique_handle = unique_owner<handle_traits>;          // null means none
using unique_file = unique_owner<file_handle_traits>;       // INVALID_HANDLE_VALUE means none
using unique_hkey = unique_owner<hkey_traits>;
using unique_mapview = unique_owner<mapview_traits>;
using unique_hmodule = unique_owner<hmodule_traits>;
using unique_bstr = unique_owner<bstr_traits>;
using unique_cotaskmem = unique_owner<cotaskmem_traits>;
using unique_localmem = unique_owner<localmem_traits>;
using unique_event_source = unique_owner<event_source_traits>;   // RegisterEventSourceW's handle

// A BSTR holding a copy of `length` characters at `text` (embedded nulls kept); empty when out
// of memory.
inline unique_bstr MakeBstr(const wchar_t* text, size_t length) {
    return unique_bstr(SysAllocStringLen(text, static_cast<UINT>(length)));
}

// A VARIANT that clears itself. put() clears first, like the other owners.
class unique_variant {
public:
    unique_variant() noexcept { VariantInit(&m_value); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { VariantClear(&m_value); }

    VARIANT* get() noexcept { return &m_value; }
    const VARIANT* get() const noexcept { return &m_value; }
    VARIANT* operator->() noexcept { return &m_value; }
    const VARIANT* operator->() const noexcept { return &m_value; }
    VARIANT* put() noexcept {
        VariantClear(&m_value);
        return &m_value;
    }
    void reset() noexcept { VariantClear(&m_value); }

private:
    VARIANT m_value;
};
