// source/BreakableWait.h: the waits for the library that Ctrl-C ends. The library's own wait is
// made in slices; between two slices the waiting thread looks whether a signal came, and only
// then takes the interpreter lock back to run the signal handlers.
#pragma once

#include <Python.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "CallPolicies.h"

namespace vexa2 { namespace python {

enum class WaitOutcome
{
    over,
    timedOut,
    raised  // a signal handler raised: its error is set
};

// The longest slice: how late a wait sees Ctrl-C.
constexpr std::chrono::milliseconds kSignalSlice{50};

// The scope of one wait on the thread that runs the signal handlers. While it lasts the
// interpreter writes each signal it catches to a pipe of ours too (its wake-up file descriptor),
// so that the wait sees a signal come without taking the lock. Made and ended with the lock held.
// Where the wake-up descriptor is someone else's (an event loop's), it is left alone and the wait
// takes the lock after every slice instead.
class SignalWatch
{
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Without the lock: whether a signal may have come since the last call.
    bool signalled();
    // With the lock, after the handlers ran: one of them may have set a descriptor of its own,
    // or ended a wait of its own, which gave back the one it found.
    void rewatch();

private:
    int m_previous = -1;  // what the wait found: none, or ours (a wait around this one)
    bool m_watching = false;
};

// Waits with the interpreter lock let go; called with it held. `waitFor(limit)` waits for at most
// `limit` (nullopt: for as long as it takes) and returns true once the wait is over, false when the
// limit ran out. On the thread that runs the signal handlers, `tryNow()` first says, with the lock
// held and without waiting, whether the wait is over already (a queue's item is there: it is
// taken at once); if not, `waitFor` is called with limits of at most kSignalSlice, and the
// handlers run as soon as a signal came, with the lock held: one that raises (KeyboardInterrupt)
// ends the wait, also one that came in the last slice of a time limit. Any other thread, which no
// signal handler interrupts, waits in one call with the whole limit. An `over` outcome is never
// undone: what the last slice brought goes back to the caller, and a signal that came meanwhile
// is handled by the interpreter once the call returned.
template <class TryNow, class WaitFor>
WaitOutcome waitBreakably(TryNow&& tryNow, WaitFor&& waitFor,
                          std::optional<std::chrono::milliseconds> limit = std::nullopt)
{
    using std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;
    if (!_PyOS_IsMainThread())
    {
        ScopedGilRelease release;
        return waitFor(limit) ? WaitOutcome::over : WaitOutcome::timedOut;
    }
    if (tryNow())
        return WaitOutcome::over;
    const Clock::time_point deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
    SignalWatch watch;
    for (bool first = true;; first = false)
    {
        // Also what came before the watch began, which left no mark on the pipe.
        if (PyErr_CheckSignals() < 0)
            return WaitOutcome::raised;
        if (!first)
            watch.rewatch();
        ScopedGilRelease release;
        for (;;)
        {
            milliseconds slice = kSignalSlice;
            if (limit)
                slice = std::min(slice, std::chrono::ceil<milliseconds>(deadline - Clock::now()));
            if (waitFor(std::optional<milliseconds>(std::max(slice, milliseconds::zero()))))
                return WaitOutcome::over;
            if (watch.signalled())
                break;
            if (limit && Clock::now() >= deadline)
                return WaitOutcome::timedOut;
        }
    }
}

} }  // namespace vexa2::python
