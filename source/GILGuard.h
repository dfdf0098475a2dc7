// source/GILGuard.h: the one scoped guard through which native code takes the interpreter lock.
#pragma once

#include <Python.h>

#include "PythonExit.h"

namespace vexa2 { namespace python {

// Nests: a thread that already holds the lock may take another guard. A thread coming back while
// the interpreter exits parks in the constructor (see PythonExit.h).
class GILGuard
{
public:
    GILGuard() : m_state(ensureThread()) {}
    // A thread that the finalizing interpreter ends unwinds through here without holding the
    // lock: there is nothing to give back then.
    ~GILGuard()
    {
        if (!m_released)
            releaseThread(m_state);
    }
    GILGuard(const GILGuard&) = delete;
    GILGuard& operator=(const GILGuard&) = delete;

    // Ends the guard early where the lock is surely held, sparing the test that the destructor
    // makes for a thread being ended.
    void release()
    {
        m_released = true;
        releaseHeldThread(m_state);
    }

private:
    PyGILState_STATE m_state = PyGILState_UNLOCKED;
    bool m_released = false;
};

} }  // namespace vexa2::python
