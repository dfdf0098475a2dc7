// tests/testkit/lock_release.cpp: calls bound without the interpreter lock. A Gate blocks its
// callers until a test opens their lane, so tests can hold several threads inside such calls; a
// native thread entering Python as a library callback does stands in for the library's threads.
#include <boost/python.hpp>

#include "Bindings.h"
#include "CallPolicies.h"
#include "GILGuard.h"
#include "Messages.h"
#include "PythonExit.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

using namespace boost::python;
using vexa2::python::raiseMessage;
using vexa2::python::refuse_on_library_thread_policy;
using vexa2::python::withoutGil;

namespace {

// Bounds every native wait here, so that a fault fails a test instead of hanging it.
constexpr auto kWaitLimit = std::chrono::seconds(30);

class Gate
{
public:
    // Blocks until `lane` is opened; gives whether the lock was held meanwhile.
    bool wait(const std::string& lane)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        const bool opened = m_changed.wait_for(lock, kWaitLimit, [&] { return m_open.count(lane) > 0; });
        --m_waiting;
        if (!opened)
        {
            lock.unlock();
            raiseMessage(PyExc_TimeoutError, "gate lane never opened: " + lane);
        }
        return PyGILState_Check() == 1;
    }

    // Blocks until `count` callers wait in the gate; false when that does not happen in time.
    bool awaitWaiting(int count, double seconds)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::duration<double>(seconds),
                                  [&] { return m_waiting >= count; });
    }

    void open(const std::string& lane)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.insert(lane);
        m_changed.notify_all();
    }

    int waiting()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }

    // The queue's empty-case raise, made from inside the lock-free call.
    void raiseEmptyQueue() { raiseMessage(PyExc_ValueError, msgEventQueueEmpty()); }

    bool lockHeldInside() { return PyGILState_Check() == 1; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::string> m_open;
    int m_waiting = 0;
};

bool lockHeld()
{
    return PyGILState_Check() == 1;
}

// Identifies the calling thread's interpreter state, to see that a call gives back the same one.
std::uintptr_t threadState()
{
    return reinterpret_cast<std::uintptr_t>(PyThreadState_Get());
}

// Calls `function` on a native thread that enters Python as a library callback does; gives its
// result, or raises what it raised.
object callOnLibraryThread(object function)
{
    PyObject* result = nullptr;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    std::thread library([&] {
        vexa2::python::PythonEntry entry;
        vexa2::python::GILGuard gil;
        result = PyObject_CallNoArgs(function.ptr());
        if (!result)
            PyErr_Fetch(&type, &value, &traceback);
    });
    {
        vexa2::python::ScopedGilRelease release;
        library.join();
    }
    if (!result)
    {
        PyErr_Restore(type, value, traceback);
        throw_error_already_set();
    }
    return object(handle<>(result));
}

}  // namespace

void bindLockRelease()
{
    class_<Gate, boost::noncopyable>("Gate", "Holds callers in lock-free calls until a lane opens.")
        .def("wait", withoutGil(&Gate::wait), "Blocks until the lane opens; gives whether the lock was held.")
        .def("await_waiting", withoutGil(&Gate::awaitWaiting), "Waits until that many callers are in the gate.")
        .def("raise_empty_queue", withoutGil(&Gate::raiseEmptyQueue), "Raises the empty-queue error without the lock.")
        .def("lock_held_inside", withoutGil(&Gate::lockHeldInside), "Whether the lock is held inside a lock-free call.")
        .def("refusing_wait", withoutGil(&Gate::wait), refuse_on_library_thread_policy<>(),
             "As wait, refused on a library thread.")
        .def("open", &Gate::open, "Lets the callers of a lane go.")
        .add_property("waiting", &Gate::waiting, "How many callers wait now.");
    def("lock_held", &lockHeld, "Whether the calling thread holds the interpreter lock.");
    def("call_on_library_thread", &callOnLibraryThread,
        "Calls a function on a native thread that enters Python as a library callback does.");
    def("thread_state", &threadState, "The calling thread's interpreter state, as an integer.");
}
