// source/Callback.cpp: the listener flags behind unsubscribing while a callback runs, and the
// missing-override error.
#include "Callback.h"

#include <algorithm>

namespace vexa2 { namespace python {

void APythonCallback::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped.store(false);
    // Busy tells whether a callback runs: a listener subscribed again from inside its own
    // callback is still running it.
    m_busy.store(!m_running.empty());
}

void APythonCallback::stopAndWait()
{
    m_stopped.store(true);
    waitWhileRunning();
}

void APythonCallback::waitWhileRunning()
{
    const std::thread::id self = std::this_thread::get_id();
    // Callbacks of other threads are waited for; the ones this thread is inside of are not.
    auto othersIdle = [this, self] {
        return std::all_of(m_running.begin(), m_running.end(),
                           [self](std::thread::id running) { return running == self; });
    };
    std::unique_lock<std::mutex> lock(m_mutex);
    if (othersIdle())
        return;
    // The running callback may need the interpreter lock to end; it is taken back only after
    // the mutex is let go, so this thread never waits for the lock while holding the mutex.
    PyThreadState* saved = nullptr;
    if (holdsInterpreterLock())
        saved = PyEval_SaveThread();
    m_idle.wait(lock, othersIdle);
    lock.unlock();
    if (saved)
        restoreThread(saved);
}

CallbackGuard::CallbackGuard(APythonCallback& callback) : m_callback(callback)
{
    std::lock_guard<std::mutex> lock(m_callback.m_mutex);
    if (m_callback.m_stopped.load())
        return;
    m_active = true;
    m_callback.m_running.push_back(std::this_thread::get_id());
    m_callback.m_busy.store(true);
}

CallbackGuard::~CallbackGuard()
{
    if (!m_active)
        return;
    std::lock_guard<std::mutex> lock(m_callback.m_mutex);
    auto& running = m_callback.m_running;
    running.erase(std::find(running.begin(), running.end(), std::this_thread::get_id()));
    m_callback.m_busy.store(!running.empty());
    m_callback.m_idle.notify_all();
}

void raisePureVirtualCalled(const char* name)
{
    raiseMessage(PyExc_Exception, msgPureVirtualCalled(name));
}

} }  // namespace vexa2::python
