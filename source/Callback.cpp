// source/Callback.cpp: the listener flags behind unsubscribing while a callback runs, and the
// missing-override error.
#include "Callback.h"

namespace vexa2 { namespace python {

namespace {

// The innermost active guard of this thread; each links to the next one out.
thread_local CallbackGuard* t_innermost = nullptr;

}  // namespace

APythonCallback::APythonCallback()
{
    listForRenewal(this, &renewAfterFork);
}

APythonCallback::~APythonCallback()
{
    unlistForRenewal(this);
}

void APythonCallback::renewAfterFork(void* renewed)
{
    APythonCallback& self = *static_cast<APythonCallback*>(renewed);
    renewInChild(self.m_mutex);
    renewInChild(self.m_idle);
    self.m_running.store(self.m_ended.load() + CallbackGuard::heldByThisThread(self));
    self.m_waiting.store(0);
}

void APythonCallback::reset()
{
    m_stopped.store(false);
}

void APythonCallback::stopAndWait()
{
    m_stopped.store(true);
    waitWhileRunning();
}

void APythonCallback::waitWhileRunning()
{
    // Every guard is made inside a callback or on the late-call worker, so a thread waiting here
    // is inside none of them.
    auto idle = [this] { return running() == 0; };
    if (onLibraryThread() || idle())
        return;
    m_waiting.fetch_add(1);
    // The running callback may need the interpreter lock to end; it is taken back only after
    // the mutex is let go, so this thread never waits for the lock while holding the mutex.
    PyThreadState* saved = nullptr;
    if (holdsInterpreterLock())
        saved = PyEval_SaveThread();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, idle);
    }
    m_waiting.fetch_sub(1);
    if (saved)
        restoreThread(saved);
}

int APythonCallback::running() const
{
    // The ended first: the count read after it is no older, so the difference is never short.
    const int ended = m_ended.load();
    return m_running.load() - ended;
}

void APythonCallback::leave()
{
    m_running.store(m_running.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    if (m_waiting.load(std::memory_order_relaxed) > 0)
    {
        // Under the mutex, so that a waiter is either before its test or inside its wait.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idle.notify_all();
    }
}

void APythonCallback::leaveEnded()
{
    m_ended.fetch_add(1);
    if (m_waiting.load() > 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idle.notify_all();
    }
}

CallbackGuard::CallbackGuard(APythonCallback& callback) : m_callback(callback)
{
    m_callback.m_running.store(m_callback.m_running.load(std::memory_order_relaxed) + 1,
                               std::memory_order_relaxed);
    if (m_callback.m_stopped.load(std::memory_order_relaxed))
    {
        m_callback.leave();
        return;
    }
    m_active = true;
    m_outer = t_innermost;
    t_innermost = this;
}

void CallbackGuard::end()
{
    if (!m_active)
        return;
    m_active = false;
    t_innermost = m_outer;
    m_callback.leave();
}

CallbackGuard::~CallbackGuard()
{
    if (!m_active)
        return;
    t_innermost = m_outer;
    m_callback.leaveEnded();
}

int CallbackGuard::heldByThisThread(const APythonCallback& callback)
{
    int held = 0;
    for (const CallbackGuard* guard = t_innermost; guard; guard = guard->m_outer)
        held += &guard->m_callback == &callback;
    return held;
}

void raisePureVirtualCalled(const char* name)
{
    raiseMessage(PyExc_Exception, msgPureVirtualCalled(name));
}

} }  // namespace vexa2::python
