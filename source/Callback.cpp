// source/Callback.cpp: the listener flags behind unsubscribing while a callback runs, and the
// missing-override error.
#include "Callback.h"

namespace vexa2 { namespace python {

void APythonCallback::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped.store(false);
    m_busy.store(false);
}

void APythonCallback::stopAndWait()
{
    m_stopped.store(true);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_busy.load() || m_busyThread == std::this_thread::get_id())
        return;
    // The running callback may need the interpreter lock to end; it is taken back only after
    // the mutex is let go, so this thread never waits for the lock while holding the mutex.
    PyThreadState* saved = nullptr;
    if (Py_IsInitialized() && PyGILState_Check())
        saved = PyEval_SaveThread();
    m_idle.wait(lock, [this] { return !m_busy.load(); });
    lock.unlock();
    if (saved)
        PyEval_RestoreThread(saved);
}

CallbackGuard::CallbackGuard(APythonCallback& callback)
    : m_mutex(&callback.m_mutex), m_idle(&callback.m_idle), m_busy(&callback.m_busy),
      m_busyThread(&callback.m_busyThread)
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    if (callback.m_stopped.load())
        return;
    m_active = true;
    const std::thread::id self = std::this_thread::get_id();
    if (m_busy->load() && *m_busyThread == self)
    {
        m_nested = true;
        return;
    }
    m_busy->store(true);
    *m_busyThread = self;
}

CallbackGuard::~CallbackGuard()
{
    if (!m_active || m_nested)
        return;
    std::lock_guard<std::mutex> lock(*m_mutex);
    m_busy->store(false);
    *m_busyThread = std::thread::id();
    m_idle->notify_all();
}

void raisePureVirtualCalled(const char* name)
{
    raiseMessage(PyExc_Exception, msgPureVirtualCalled(name));
}

} }  // namespace vexa2::python
