// source/Plenta/OneShotReport.h: the state both one-shot waiters share (the history fetch's and
// the instruments update's): a report made once by a library thread, waited for by a Python
// thread with the interpreter lock let go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "BreakableWait.h"

namespace vexa2 { namespace python {

class OneShotReport
{
public:
    // Keeps `object` in `slot` with a reference of its own (giving back what the slot held) and
    // ends the wait. The reporting thread never calls into Python: nothing here waits for the lock.
    template <class T>
    void keep(T*& slot, T* object)
    {
        T* previous = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (object)
                object->addRef();
            previous = slot;
            slot = object;
            finishLocked();
        }
        if (previous)
            previous->release();
    }

    void finish(bool cancelled = false)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = m_cancelled || cancelled;
        finishLocked();
    }

    // Called holding the interpreter lock; lets it go until the report came, and takes it back
    // only after letting go of the mutex. No time limit: the library reports on what it accepted.
    // Ctrl-C reaches a script waiting here (waitBreakably): false when a signal handler raised
    // (KeyboardInterrupt), with the error set and the lock held.
    bool wait()
    {
        const auto done = [this] { return m_done; };
        return waitBreakably(
                   [&] {
                       std::lock_guard<std::mutex> lock(m_mutex);
                       return m_done;
                   },
                   [&](std::optional<std::chrono::milliseconds> limit) {
                       std::unique_lock<std::mutex> lock(m_mutex);
                       if (limit)
                           return m_condition.wait_for(lock, *limit, done);
                       m_condition.wait(lock, done);
                       return true;
                   }) == WaitOutcome::over;
    }

    bool isCanceled()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_cancelled;
    }

    // What `slot` holds, with a reference added for the caller; null when none.
    template <class T>
    T* held(T* const& slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (slot)
            slot->addRef();
        return slot;
    }

private:
    void finishLocked()
    {
        m_done = true;
        m_condition.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_done = false;
    bool m_cancelled = false;
};

} }  // namespace vexa2::python
