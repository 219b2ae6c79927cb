// The DebugTime word of the store and the debug period it starts: a positive value turns the
// content script's console tracing on for every page of the session, and the object that wrote
// it ends the period itself with a one-shot debug timer (on the page timers' callback, OnUpdate),
// or when its timers are stopped before that.
#pragma once

#include "extension/thread_timers.h"
#include "templates/template_store.h"

#include <windows.h>

class DebugPeriod {
public:
    // `store` is the object's store, `timers` the object's timers (the debug timer is one).
    DebugPeriod(const TemplateStore& store, ThreadTimers& timers) : m_store(store), m_timers(timers) {}
    DebugPeriod(const DebugPeriod&) = delete;
    DebugPeriod& operator=(const DebugPeriod&) = delete;

    // get_DebugTime: the word as it stands (0 without a store). Always S_OK.
    HRESULT Read(LONG* pVal) const;
    // put_DebugTime, once allowed: stops this object's debug timer, stores the value and, when
    // it is positive, starts a new one. Always S_OK.
    HRESULT Write(LONG newVal);
    // The debug timer fired: it is stopped and the word reset to 0.
    void Expire(HWND window, UINT_PTR timerId);
    // The object's timers are about to be stopped: a period this object started ends with it.
    void EndEarly();

    UINT_PTR TimerId() const { return m_debugTimerId; }

private:
    const TemplateStore& m_store;
    ThreadTimers& m_timers;
    UINT_PTR m_debugTimerId = 0;   // this object's debug timer, 0 when none runs
    LONG m_debugTimeWritten = 0;   // what Write stored when it started the debug timer
};
