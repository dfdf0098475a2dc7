// source/LateCaller.h: the one process-wide worker thread that runs jobs later and elsewhere:
// table listener subscriptions and table manager status reports, which must not run on the
// thread that asked for them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vexa2 { namespace python {

class LateCaller
{
public:
    using Job = std::function<void()>;

    // The one object; the first call starts the worker, which is never restarted after a stop.
    static LateCaller& instance();

    // Queues a job behind those already posted; never waits for a running job. A job posted
    // after a stop never runs: it is destroyed at once, giving back what it holds.
    void post(Job job);

    // Drops the pending jobs and waits, without the interpreter lock, for the worker to end.
    // Called on the worker itself it throws std::system_error (resource_deadlock_would_occur).
    void stop();

    // instance() starts the shared worker; a worker of one's own (tests) is started with start().
    void start();

    LateCaller();
    ~LateCaller();
    LateCaller(const LateCaller&) = delete;
    LateCaller& operator=(const LateCaller&) = delete;

private:
    friend class LateCallerForks;

    void run(unsigned generation);

    // Around a fork of the process: the locks are taken before it and given back after it; the
    // child has none of the parent's threads, so its worker is not running and starts on first
    // use, as in a new process.
    void prepareFork();
    void afterForkInParent();
    void afterForkInChild();

    std::thread m_thread;
    std::condition_variable m_wakeUp;
    std::mutex m_wakeUpMutex;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    std::deque<Job> m_jobs;
    std::recursive_mutex m_jobsMutex;
    // Lets process exit wait a bounded time for a worker stuck in a job instead of hanging.
    std::atomic<bool> m_finished{false};
    // Bumped in a fork's child: a worker of an older generation leaves the queue to a new one.
    std::atomic<unsigned> m_generation{0};
};

} }  // namespace vexa2::python
