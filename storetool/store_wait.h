// Waiting on the store for what pages write there (an outcome, the drafts of a login form), as
// launch, change and record do: until what is looked for is there, the time runs out, or Ctrl+C,
// which is noted rather than ending the process, so that the command can take what it put into the
// store out again.
#pragma once

#include "storetool/tool_output.h"

#include <windows.h>

enum class WaitEnd { kDone, kTimeUp, kInterrupted };

// Calls look(timeUp) about every `stepMs` until it returns true (kDone), the `seconds` have passed
// (kTimeUp, after one last look with timeUp true) or Ctrl+C (kInterrupted, without a last look).
template <typename Look>
WaitEnd WaitOnStore(long long seconds, DWORD stepMs, Look look) {
    const ConsoleInterrupt interrupt;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    for (;;) {
        if (interrupt.raised()) return WaitEnd::kInterrupted;
        const bool timeUp = GetTickCount64() >= deadline;
        if (look(timeUp)) return WaitEnd::kDone;
        if (timeUp) return WaitEnd::kTimeUp;
        Sleep(stepMs);
    }
}
