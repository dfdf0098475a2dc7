// source/GILGuard.h: the one scoped guard through which native code takes the interpreter lock.
#pragma once

#include <Python.h>

namespace vexa2 { namespace python {

// Nests: a thread that already holds the lock may take another guard.
class GILGuard
{
public:
    GILGuard() : m_state(PyGILState_Ensure()) {}
    // A thread that the finalizing interpreter ends while it waits for the lock unwinds through
    // here without holding it: there is nothing to give back then.
    ~GILGuard()
    {
        if (PyGILState_Check())
            PyGILState_Release(m_state);
    }
    GILGuard(const GILGuard&) = delete;
    GILGuard& operator=(const GILGuard&) = delete;

private:
    PyGILState_STATE m_state = PyGILState_UNLOCKED;
};

} }  // namespace vexa2::python
