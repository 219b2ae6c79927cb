// Debug periods: DebugTime in the store turns the content script's console tracing on, and an
// object that writes a positive value ends the period itself with a one-shot debug timer (on the
// page timers' callback, OnUpdate), or when its timers are killed before it fires.
#include "extension/velnor_ie_ext.h"

#include "extension/page_binding.h"
#include "extension/timer_map.h"
#include "logging/log_writer.h"

// The longest debug period a thread timer can run (USER_TIMER_MAXIMUM, about 24.8 days);
// longer DebugTime values are capped to it.
constexpr UINT kMaxDebugTimerMs = 0x7FFFFFFF;

STDMETHODIMP CVelnorIEExt::get_DebugTime(LONG* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_DebugTime()");
    *pVal = 0;
    TemplateStore::View store = m_templateStore.Access();
    if (!store) return S_OK;
    const LONG value = store.DebugTime();
    LogExt(L"CVelnorIEExt::get_DebugTime() -> %d", static_cast<int>(value));
    // A negative word is read as it stands: tracing stays on until a new value is written (no
    // page can write it under isolation; the store tool and trusted portals can).
    *pVal = value;
    return S_OK;
}

// Tracing is switched on for every page of the session, so under isolation neither a page nor
// the object without a page may write it: the store tool and trusted portals do.
STDMETHODIMP CVelnorIEExt::put_DebugTime(LONG newVal) {
    if (ReachesWholeStore()) return WriteDebugTime(newVal);
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    LogExt(L"CVelnorIEExt::put_DebugTime() -> refused under template isolation");
    return E_ACCESSDENIED;
}

HRESULT CVelnorIEExt::PutDebugTimeForPage(const PageContext& page, LONG newVal) {
    if (!IsolatesPage(page)) return WriteDebugTime(newVal);
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    LogExt(L"CVelnorIEExt::put_DebugTime() -> refused under template isolation");
    return E_ACCESSDENIED;
}

HRESULT CVelnorIEExt::WriteDebugTime(LONG newVal) {
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    if (m_debugTimerId != 0) {
        TimerMapRemove(m_debugTimerId);
        KillTimer(nullptr, m_debugTimerId);
        ForgetTimer(m_debugTimerId);
        m_debugTimerId = 0;
    }
    {
        TemplateStore::View store = m_templateStore.Access();
        if (store) {
            LogExt(L"CVelnorIEExt::put_DebugTime() -> %d", static_cast<int>(store.DebugTime()));
            store.SetDebugTime(newVal);
        }
    }
    if (newVal > 0) {
        const UINT milliseconds = newVal > static_cast<LONG>(kMaxDebugTimerMs / 1000)
                                      ? kMaxDebugTimerMs
                                      : static_cast<UINT>(newVal) * 1000;
        m_debugTimerId = StartTimer(milliseconds);
        m_debugTimeWritten = newVal;
        if (m_debugTimerId == 0)
            LogExt(L"CVelnorIEExt::put_DebugTime() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    }
    return S_OK;
}

void CVelnorIEExt::EndDebugPeriod(HWND window, UINT_PTR timerId) {
    KillTimer(window, timerId);
    TimerMapRemove(timerId);
    ForgetTimer(timerId);
    m_debugTimerId = 0;
    TemplateStore::View store = m_templateStore.Access();
    if (store) store.SetDebugTime(0);
}

void CVelnorIEExt::EndDebugPeriodEarly() {
    // A debug period this object started ends with it, so that tracing is never left on for
    // the session; a period that another object's later write started is not touched.
    TemplateStore::View store = m_templateStore.Access();
    if (store && store.DebugTime() == m_debugTimeWritten) {
        store.SetDebugTime(0);
        LogExt(L"CVelnorIEExt::put_DebugTime() -> ended early: %d", static_cast<int>(m_debugTimeWritten));
    }
}
