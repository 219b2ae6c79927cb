#include "extension/debug_period.h"

#include "logging/log_writer.h"

// The longest debug period a thread timer can run (USER_TIMER_MAXIMUM, about 24.8 days);
// longer DebugTime values are capped to it.
constexpr UINT kMaxDebugTimerMs = 0x7FFFFFFF;

HRESULT DebugPeriod::Read(LONG* pVal) const {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_DebugTime()");
    *pVal = 0;
    TemplateStore::View store = m_store.Access();
    if (!store) return S_OK;
    const LONG value = store.DebugTime();
    LogExt(L"CVelnorIEExt::get_DebugTime() -> %d", static_cast<int>(value));
    // A negative word is read as it stands: tracing stays on until a new value is written (no
    // page can write it under isolation; the store tool and trusted portals can).
    *pVal = value;
    return S_OK;
}

HRESULT DebugPeriod::Write(LONG newVal) {
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    if (m_debugTimerId != 0) {
        m_timers.Stop(m_debugTimerId);
        m_debugTimerId = 0;
    }
    {
        TemplateStore::View store = m_store.Access();
        if (store) {
            LogExt(L"CVelnorIEExt::put_DebugTime() -> %d", static_cast<int>(store.DebugTime()));
            store.SetDebugTime(newVal);
        }
    }
    if (newVal > 0) {
        const UINT milliseconds = newVal > static_cast<LONG>(kMaxDebugTimerMs / 1000)
                                      ? kMaxDebugTimerMs
                                      : static_cast<UINT>(newVal) * 1000;
        m_debugTimerId = m_timers.Start(milliseconds);
        m_debugTimeWritten = newVal;
        if (m_debugTimerId == 0)
            LogExt(L"CVelnorIEExt::put_DebugTime() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    }
    return S_OK;
}

void DebugPeriod::Expire(HWND window, UINT_PTR timerId) {
    m_timers.Stop(timerId, window);
    m_debugTimerId = 0;
    TemplateStore::View store = m_store.Access();
    if (store) store.SetDebugTime(0);
}

void DebugPeriod::EndEarly() {
    if (m_debugTimerId == 0) return;
    m_debugTimerId = 0;
    // Tracing is never left on for the session by an object that is gone; a period that
    // another object's later write started is not touched.
    TemplateStore::View store = m_store.Access();
    if (store && store.DebugTime() == m_debugTimeWritten) {
        store.SetDebugTime(0);
        LogExt(L"CVelnorIEExt::put_DebugTime() -> ended early: %d", static_cast<int>(m_debugTimeWritten));
    }
}
