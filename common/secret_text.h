// Text that holds a password: kept only in memory that is zeroed (SecureZeroMemory) before it
// is freed, on every path, also when the buffer grows. A vector is used rather than a string
// because a string keeps short texts inside the object itself, where no allocator sees them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>
#include <vector>

template <typename T>
struct ZeroingAllocator {
    using value_type = T;
    ZeroingAllocator() noexcept = default;
    template <typename U>
    ZeroingAllocator(const ZeroingAllocator<U>&) noexcept {}
    T* allocate(size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
    void deallocate(T* p, size_t count) noexcept {
        SecureZeroMemory(p, count * sizeof(T));
        ::operator delete(p);
    }
    template <typename U>
    bool operator==(const ZeroingAllocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const ZeroingAllocator<U>&) const noexcept { return false; }
};

// UTF-16 text without a terminator inside; c_str() adds one at the end of the buffer.
class SecretText {
public:
    SecretText() = default;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    SecretText(SecretText&&) noexcept = default;
    SecretText& operator=(SecretText&&) noexcept = default;

    void Append(const wchar_t* text, size_t length) {
        Reserve(m_units.size() + length);
        m_units.insert(m_units.end(), text, text + length);
    }
    void Append(wchar_t unit) {
        Reserve(m_units.size() + 1);
        m_units.push_back(unit);
    }
    // Room for `count` more units at the end, returned for the caller to fill.
    wchar_t* Extend(size_t count) {
        Reserve(m_units.size() + count);
        m_units.resize(m_units.size() + count);
        return m_units.data() + m_units.size() - count;
    }
    void Clear() {
        if (!m_units.empty()) SecureZeroMemory(m_units.data(), m_units.size() * sizeof(wchar_t));
        m_units.clear();
    }
    // Drops the last unit (a line end read with the text), zeroing it.
    void PopBack() {
        m_units.back() = 0;
        m_units.pop_back();
    }

    const wchar_t* data() const { return m_units.data(); }
    size_t size() const { return m_units.size(); }
    bool empty() const { return m_units.empty(); }
    wchar_t back() const { return m_units.back(); }

    // The text with a terminator, valid until the next change.
    const wchar_t* c_str() {
        Reserve(m_units.size() + 1);
        m_units.push_back(L'\0');
        m_units.pop_back();
        return m_units.data();
    }

private:
    // Grows by doubling ourselves so that no growth copies the text into memory the allocator
    // would not zero (it zeroes every block it frees, so this is only about fewer copies).
    void Reserve(size_t units) {
        if (units + 1 <= m_units.capacity()) return;
        size_t capacity = m_units.capacity() ? m_units.capacity() : 64;
        while (capacity < units + 1) capacity *= 2;
        m_units.reserve(capacity);
    }

    std::vector<wchar_t, ZeroingAllocator<wchar_t>> m_units;
};
