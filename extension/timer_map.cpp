#include "extension/timer_map.h"

#include "logging/log_writer.h"

#include <cstdint>

std::unordered_map<UINT_PTR, CVelnorIEExt*> g_timerMap;
CRITICAL_SECTION g_timerMapLock;

namespace {

unsigned AddressText(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

// Initialised when the module is loaded, deleted (with the map emptied) when it is unloaded.
struct TimerMapLifetime {
    TimerMapLifetime() { InitializeCriticalSection(&g_timerMapLock); }
    ~TimerMapLifetime() {
        g_timerMap.clear();
        DeleteCriticalSection(&g_timerMapLock);
    }
} g_timerMapLifetime;

}  // namespace

CCritSecALock::CCritSecALock(CRITICAL_SECTION* section) : m_section(section) { Lock(); }

CCritSecALock::~CCritSecALock() {
    if (m_held) Unlock();
}

void CCritSecALock::Lock() {
    LogUtils(L"CCritSecALock::Lock(%X)", AddressText(m_section));
    m_held = critical_section_lock(m_section);
}

void CCritSecALock::Unlock() {
    LogUtils(L"CCritSecALock::Unlock(%X)", AddressText(m_section));
    m_held.unlock();
}

bool TimerMapInsert(UINT_PTR timerId, CVelnorIEExt* object) {
    CCritSecALock lock(&g_timerMapLock);
    try {
        g_timerMap[timerId] = object;
        return true;
    } catch (...) {
        return false;
    }
}

CVelnorIEExt* TimerMapLookup(UINT_PTR timerId) {
    CCritSecALock lock(&g_timerMapLock);
    const auto found = g_timerMap.find(timerId);
    return found == g_timerMap.end() ? nullptr : found->second;
}

bool TimerMapRemove(UINT_PTR timerId) {
    CCritSecALock lock(&g_timerMapLock);
    return g_timerMap.erase(timerId) != 0;
}
