// The process-wide map from thread-timer identifiers to extension objects. Page timers and
// debug timers of every object in the process live here; OnUpdate finds its object through it.
// The map holds no reference: objects remove their own entries before they go away.
#pragma once

#include "common/critical_section.h"

#include <windows.h>

#include <unordered_map>

class CVelnorIEExt;

// The guard through which the map's lock is taken: critical_section_lock with the lock's trace
// lines, "CCritSecALock::Lock(%X)" before entering and "CCritSecALock::Unlock(%X)" before leaving,
// through LogUtils (level 4).
class CCritSecALock {
public:
    explicit CCritSecALock(CRITICAL_SECTION* section);
    ~CCritSecALock();
    CCritSecALock(const CCritSecALock&) = delete;
    CCritSecALock& operator=(const CCritSecALock&) = delete;

    void Lock();
    void Unlock();

private:
    CRITICAL_SECTION* m_section;
    critical_section_lock m_held;
};

extern std::unordered_map<UINT_PTR, CVelnorIEExt*> g_timerMap;
extern CRITICAL_SECTION g_timerMapLock;

// Each is one locked access (one Lock/Unlock trace pair).
bool TimerMapInsert(UINT_PTR timerId, CVelnorIEExt* object);   // false when out of memory
CVelnorIEExt* TimerMapLookup(UINT_PTR timerId);
bool TimerMapRemove(UINT_PTR timerId);   // true when the entry was there
