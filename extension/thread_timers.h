// One extension object's thread timers (its page timers and its debug timer): started with
// SetTimer, registered in g_timerMap under the object so that the shared callback finds it, and
// stopped in one way only, whoever stops them.
#pragma once

#include <windows.h>

#include <vector>

class CVelnorIEExt;

class ThreadTimers {
public:
    // `owner` is what g_timerMap maps these timers to; `callback` is what they call.
    ThreadTimers(CVelnorIEExt* owner, TIMERPROC callback) : m_owner(owner), m_callback(callback) {}
    // No timer of a destroyed object may fire into it.
    ~ThreadTimers() { StopAll(); }
    ThreadTimers(const ThreadTimers&) = delete;
    ThreadTimers& operator=(const ThreadTimers&) = delete;

    // A new timer firing every `milliseconds`, registered; 0 when SetTimer fails or memory runs
    // out, and then nothing is left running or registered (identifier 0 never reaches the map).
    UINT_PTR Start(UINT milliseconds);
    // Kills the timer, removes it from g_timerMap and forgets it. `window` is the one the callback
    // was given (thread timers have none).
    void Stop(UINT_PTR timerId, HWND window = nullptr);
    // Stops every timer of the object, the last started first.
    void StopAll();

    const std::vector<UINT_PTR>& Ids() const { return m_timerIds; }

private:
    CVelnorIEExt* m_owner;
    TIMERPROC m_callback;
    std::vector<UINT_PTR> m_timerIds;   // every timer of the object registered in g_timerMap
};
