// source/PythonExit.h: the gate through which threads come back to the interpreter, and what must
// hold when the interpreter exits while they are away. A finalizing interpreter ends any other
// thread that asks for its lock, by unwinding it; unwound inside a destructor (a lock-release
// guard) that is std::terminate, and unwound through Python objects it crashes. So, before it
// finalizes, the gate closes: it waits a while for the library threads inside callbacks and the
// threads taking the lock back, and every thread that comes back after that parks for good
// instead. A callback still running when the wait gives up is ended by the interpreter; the bridge
// then holds its Python objects through PythonReference, which drops none of them while unwinding.
#pragma once

#include <Python.h>

namespace vexa2 { namespace python {

// Scope of one entry into the interpreter from a library thread (a callback, a late-call job).
// Once the gate is closed the entry is refused: the caller must then not touch Python at all.
// Inside an admitted entry the thread counts as a library thread.
class PythonEntry
{
public:
    PythonEntry();
    ~PythonEntry();
    PythonEntry(const PythonEntry&) = delete;
    PythonEntry& operator=(const PythonEntry&) = delete;

    bool admitted() const { return m_admitted; }

private:
    bool m_admitted;
};

// PyEval_RestoreThread through the gate: takes the lock back for a thread that let it go, or
// parks the thread for good when the interpreter is exiting. Never unwinds.
void restoreThread(PyThreadState* state);

// PyGILState_Ensure through the gate, for a thread that may not hold the lock. A thread the
// interpreter had no state for (a library's) keeps the state made here for the rest of its life:
// making and dropping one per entry is by far the dearest part of a callback. The thread gives it
// back when it ends, unless the interpreter is exiting by then (finalizing frees it).
PyGILState_STATE ensureThread();

// PyGILState_Release of what ensureThread gave, when this thread holds the lock. The outermost
// release on a thread that keeps its state drops any error left set, as a dropped state did.
void releaseThread(PyGILState_STATE state);
// The same where the lock is surely held, not on a thread the interpreter is ending.
void releaseHeldThread(PyGILState_STATE state);

// Whether this thread holds the interpreter lock; false on a thread that the finalizing
// interpreter is ending.
bool holdsInterpreterLock();

// True inside a library callback and on the late-call worker: a thread whose wait for the
// library's threads could never end.
bool onLibraryThread();
// Marks the calling thread as a library thread for the rest of its life (the late-call worker).
void markLibraryThread();

// Registers the closing of the gate with the main interpreter's exit handlers, once per process.
// Called with the interpreter lock held; from a sub-interpreter it does nothing.
void watchInterpreterExit();

// Whether the interpreter whose exit the gate watches began to exit: an interpreter started after
// it in the same process would find the module's classes gone with the old one.
bool interpreterExited();
// True once exit stopped waiting for a library thread still inside a callback or a late-call job:
// that thread parks when it comes back, so a wait for it would never end.
bool exitLeftThreadsInside();

// One owned reference that is given back only while this thread holds the interpreter lock: a
// thread unwound by the finalizing interpreter leaves it to the process's end.
class PythonReference
{
public:
    explicit PythonReference(PyObject* owned = nullptr) : m_object(owned) {}
    ~PythonReference()
    {
        if (m_object && holdsInterpreterLock())
            Py_DECREF(m_object);
    }
    PythonReference(const PythonReference&) = delete;
    PythonReference& operator=(const PythonReference&) = delete;

    PyObject* get() const { return m_object; }

    // Gives it back now, where the lock is surely held (after a call into Python returned).
    void drop()
    {
        Py_XDECREF(m_object);
        m_object = nullptr;
    }

private:
    PyObject* m_object;
};

} }  // namespace vexa2::python
