// source/LateCaller.cpp: the late-call worker's loop, its start on first use and its stop.
#include "LateCaller.h"

#include <Python.h>

#include <pthread.h>

#include <chrono>

#include <cxxabi.h>

#include "ForkRenewal.h"
#include "PythonExit.h"

namespace vexa2 { namespace python {

namespace {
// Constructed by a static initialiser, with no thread until first used.
LateCaller g_lateCaller;
}

// The fork handlers of the one worker.
class LateCallerForks
{
public:
    static void prepare() { g_lateCaller.prepareFork(); }
    static void parent() { g_lateCaller.afterForkInParent(); }
    static void child() { g_lateCaller.afterForkInChild(); }
};

namespace {
const int g_forkWatched = pthread_atfork(&LateCallerForks::prepare, &LateCallerForks::parent,
                                         &LateCallerForks::child);
}

LateCaller::LateCaller() = default;

LateCaller& LateCaller::instance()
{
    if (!g_lateCaller.m_started.load(std::memory_order_acquire))
        g_lateCaller.start();
    return g_lateCaller;
}

void LateCaller::start()
{
    std::lock_guard<std::recursive_mutex> lock(m_jobsMutex);
    if (m_started.load(std::memory_order_relaxed))
        return;
    m_thread = std::thread(&LateCaller::run, this, m_generation.load());
    m_started.store(true, std::memory_order_release);
}

void LateCaller::post(Job job)
{
    bool queued = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_jobsMutex);
        if (!m_stop.load())
        {
            m_jobs.push_back(std::move(job));
            queued = true;
        }
    }
    if (!queued)
    {
        // A stopped worker runs no job: kept, this one would hold what it captured until the
        // process ends. It goes now, outside the lock, as the jobs that the stop dropped did.
        job = nullptr;
        return;
    }
    std::lock_guard<std::mutex> wake(m_wakeUpMutex);
    m_wakeUp.notify_one();
}

void LateCaller::run(unsigned generation)
{
    // A job that waited here for the library would hold up every later job: such waits are refused.
    markLibraryThread();
    // A fork's child that a job made gives the queue to a worker of its own once the job ended.
    while (!m_stop.load() && m_generation.load() == generation)
    {
        Job job;
        {
            std::unique_lock<std::mutex> wake(m_wakeUpMutex);
            {
                std::lock_guard<std::recursive_mutex> lock(m_jobsMutex);
                if (!m_jobs.empty())
                {
                    job = std::move(m_jobs.front());
                    m_jobs.pop_front();
                }
            }
            if (!job)
            {
                // The emptiness test above and this sleep are under the lock that post and stop
                // take to wake us, so no wake-up is lost.
                if (!m_stop.load() && m_generation.load() == generation)
                    m_wakeUp.wait(wake);
                continue;
            }
        }
        try
        {
            job();
        }
        catch (abi::__forced_unwind&)
        {
            throw;  // the interpreter ending this thread at exit: it must go on unwinding
        }
        catch (...)
        {
            // Jobs report their own errors; one that escapes must not end the process.
        }
    }
    if (m_generation.load() == generation)
        m_finished.store(true);
}

void LateCaller::stop()
{
    m_stop.store(true);
    std::deque<Job> dropped;
    {
        std::lock_guard<std::recursive_mutex> lock(m_jobsMutex);
        dropped.swap(m_jobs);
    }
    dropped.clear();
    {
        std::lock_guard<std::mutex> wake(m_wakeUpMutex);
        m_wakeUp.notify_all();
    }
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    // A running job may need the interpreter lock to finish.
    PyThreadState* saved = nullptr;
    if (holdsInterpreterLock())
        saved = PyEval_SaveThread();
    m_thread.join();
    if (saved)
        restoreThread(saved);
}

void LateCaller::prepareFork()
{
    // In the order the worker takes them.
    m_wakeUpMutex.lock();
    m_jobsMutex.lock();
}

void LateCaller::afterForkInParent()
{
    m_jobsMutex.unlock();
    m_wakeUpMutex.unlock();
}

void LateCaller::afterForkInChild()
{
    renewInChild(m_wakeUpMutex);
    renewInChild(m_jobsMutex);
    renewInChild(m_wakeUp);
    // The parent's jobs are for its threads: they never run here, and are never destroyed, as
    // what they hold may be in use by threads the fork left behind.
    new std::deque<Job>(std::move(m_jobs));
    m_jobs.clear();
    // The parent's worker is not in the child: forgotten, as it can be neither joined nor
    // detached. A fork made by a job goes on in the child on the worker's thread, which ends once
    // the job returned. Either way the child's worker starts on first use, as in a new process.
    m_generation.fetch_add(1);
    new (&m_thread) std::thread();
    m_finished.store(false);
    m_stop.store(false);
    m_started.store(false);
}

LateCaller::~LateCaller()
{
    m_stop.store(true);
    {
        std::lock_guard<std::recursive_mutex> lock(m_jobsMutex);
        m_jobs.clear();
    }
    {
        std::lock_guard<std::mutex> wake(m_wakeUpMutex);
        m_wakeUp.notify_all();
    }
    if (!m_thread.joinable())
        return;
    // At exit a job may be stuck waiting for an interpreter that is going away: wait a while,
    // then leave the thread to the process's end rather than hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!m_finished.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (m_finished.load() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    else
        m_thread.detach();
}

} }  // namespace vexa2::python
