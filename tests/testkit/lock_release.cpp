// tests/testkit/lock_release.cpp: calls bound without the interpreter lock. A Gate blocks its
// callers until a test opens their lane, so tests can hold several threads inside such calls.
#include <boost/python.hpp>

#include "Bindings.h"
#include "CallPolicies.h"
#include "Messages.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

using namespace boost::python;
using vexa2::python::raiseMessage;
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

}  // namespace

void bindLockRelease()
{
    class_<Gate, boost::noncopyable>("Gate", "Holds callers in lock-free calls until a lane opens.")
        .def("wait", withoutGil(&Gate::wait), "Blocks until the lane opens; gives whether the lock was held.")
        .def("await_waiting", withoutGil(&Gate::awaitWaiting), "Waits until that many callers are in the gate.")
        .def("raise_empty_queue", withoutGil(&Gate::raiseEmptyQueue), "Raises the empty-queue error without the lock.")
        .def("lock_held_inside", withoutGil(&Gate::lockHeldInside), "Whether the lock is held inside a lock-free call.")
        .def("open", &Gate::open, "Lets the callers of a lane go.")
        .add_property("waiting", &Gate::waiting, "How many callers wait now.");
    def("lock_held", &lockHeld, "Whether the calling thread holds the interpreter lock.");
    def("thread_state", &threadState, "The calling thread's interpreter state, as an integer.");
}
