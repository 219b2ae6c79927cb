// A critical section held for a scope: entered when the guard is made, left when it goes, also
// when the guarded code throws. Move-only, like the other owners; unlock() leaves early.
#pragma once

#include <windows.h>

#include <utility>

class critical_section_lock {
public:
    critical_section_lock() noexcept : m_section(nullptr) {}   // holds nothing
    explicit critical_section_lock(CRITICAL_SECTION* section) noexcept : m_section(section) {
        EnterCriticalSection(m_section);
    }
    critical_section_lock(const critical_section_lock&) = delete;
    critical_section_lock& operator=(const critical_section_lock&) = delete;
    critical_section_lock(critical_section_lock&& other) noexcept : m_section(std::exchange(other.m_section, nullptr)) {}
    critical_section_lock& operator=(critical_section_lock&& other) noexcept {
        if (this != &other) {
            unlock();
            m_section = std::exchange(other.m_section, nullptr);
        }
        return *this;
    }
    ~critical_section_lock() { unlock(); }

    // Leaves the section now; the guard then holds nothing.
    void unlock() noexcept {
        if (CRITICAL_SECTION* section = std::exchange(m_section, nullptr)) LeaveCriticalSection(section);
    }
    explicit operator bool() const noexcept { return m_section != nullptr; }

private:
    CRITICAL_SECTION* m_section;
};
