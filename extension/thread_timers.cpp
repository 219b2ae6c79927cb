#include "extension/thread_timers.h"

#include "extension/timer_map.h"

#include <algorithm>

UINT_PTR ThreadTimers::Start(UINT milliseconds) {
    const UINT_PTR timerId = SetTimer(nullptr, 0, milliseconds, m_callback);
    if (timerId == 0) return 0;
    if (!TimerMapInsert(timerId, m_owner)) {
        KillTimer(nullptr, timerId);
        return 0;
    }
    try {
        m_timerIds.push_back(timerId);
    } catch (...) {
        Stop(timerId);
        return 0;
    }
    return timerId;
}

void ThreadTimers::Stop(UINT_PTR timerId, HWND window) {
    KillTimer(window, timerId);
    TimerMapRemove(timerId);
    m_timerIds.erase(std::remove(m_timerIds.begin(), m_timerIds.end(), timerId), m_timerIds.end());
}

void ThreadTimers::StopAll() {
    while (!m_timerIds.empty()) Stop(m_timerIds.back());
}
