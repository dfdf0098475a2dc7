// source/PythonExit.cpp: the interpreter-entry gate of library threads and its closing at exit.
#include "PythonExit.h"

#include <Python.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vexa2 { namespace python {

namespace {

std::atomic<bool> g_closed{false};
std::atomic<int> g_inside{0};
std::mutex g_leftMutex;
std::condition_variable g_left;
std::once_flag g_watched;

// How long exit waits for callbacks still running; one that runs longer is left to the
// interpreter.
constexpr auto kExitWait = std::chrono::seconds(5);

void leave()
{
    if (g_inside.fetch_sub(1) == 1)
    {
        std::lock_guard<std::mutex> lock(g_leftMutex);
        g_left.notify_all();
    }
}

PyObject* closeGate(PyObject*, PyObject*)
{
    g_closed.store(true);
    Py_BEGIN_ALLOW_THREADS
    std::unique_lock<std::mutex> lock(g_leftMutex);
    g_left.wait_for(lock, kExitWait, [] { return g_inside.load() == 0; });
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

PyMethodDef g_closeGate = {"_close_interpreter_gate", closeGate, METH_NOARGS, nullptr};

}  // namespace

PythonEntry::PythonEntry()
{
    // Counted before the test, so that a closing gate waits for an entry that passed it.
    g_inside.fetch_add(1);
    m_admitted = !g_closed.load();
    if (!m_admitted)
        leave();
}

PythonEntry::~PythonEntry()
{
    if (m_admitted)
        leave();
}

void watchInterpreterExit()
{
    std::call_once(g_watched, [] {
        PyObject* close = PyCFunction_New(&g_closeGate, nullptr);
        PyObject* atexit = PyImport_ImportModule("atexit");
        PyObject* done = close && atexit ? PyObject_CallMethod(atexit, "register", "O", close) : nullptr;
        if (!done)
            PyErr_Clear();  // without the hook exit is as before: nothing worse
        Py_XDECREF(done);
        Py_XDECREF(atexit);
        Py_XDECREF(close);
    });
}

} }  // namespace vexa2::python
