// simcore: the one thread that delivers every listener call of the simulated libraries, in the
// order posted, plus the timers that later work (login delays, price ticks) is scheduled with.
// It never holds its own lock while a job runs, so a job may post, schedule, or block on the
// interpreter lock without stalling callers. Stopping is bounded: a job stuck in a callback is
// left behind (detached) rather than joined forever.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sim
{

class Clock;

class Dispatcher
{
public:
    using Job = std::function<void()>;
    using TimerId = std::uint64_t;

    static constexpr int StopWaitMs = 1000;

    explicit Dispatcher(Clock& clock);
    ~Dispatcher();

    // Queues a job; the thread starts on first use. False (job dropped) once stopped.
    bool post(Job job);
    // Runs `job` on the dispatcher after `delayMs` on the active clock; 0 when stopped.
    TimerId postAfter(std::int64_t delayMs, Job job);
    bool cancel(TimerId id);
    void cancelAllTimers();
    std::size_t pendingTimers() const;

    // Waits until every job posted before the call (and every timer due at the call) has run.
    // False on timeout, and at once when called from the dispatcher thread itself.
    bool flush(std::int64_t timeoutMs);

    // Ends the thread: pending jobs and timers are dropped, a running job is waited for at most
    // `waitMs`, then left to finish on its own. Later posts are dropped until restart().
    void stop(int waitMs = StopWaitMs);
    // Process exit: as stop(), and nothing ever runs again.
    void shutdownForExit(int waitMs = StopWaitMs);
    void restart();
    bool stopped() const;
    // Process exit began: other threads of the simulation run nothing more either.
    bool exiting() const;

    bool onDispatcherThread() const;
    // Native id of the running thread, starting it if it never ran; 0 when stopped.
    long nativeThreadId();

    // The clock changed: `mutate` runs under the dispatcher lock and returns how far pending
    // deadlines move (0 when time only advanced); due timers are then queued in deadline order.
    void retime(const std::function<std::int64_t()>& mutate);

    // For the world's own dispatcher, which lives as long as the process: its lock stays whole
    // across a fork, and the child keeps none of the parent's threads, deliveries or timers; its
    // thread starts again on first use (core/Fork.h).
    void keepWholeAcrossFork();

private:
    struct Worker;
    struct Timer
    {
        TimerId id;
        Job job;
    };
    using TimerMap = std::multimap<std::int64_t, Timer>;

    void ensureStarted();  // under mutex_
    void run(std::shared_ptr<Worker> worker);
    void promoteDue();     // under mutex_
    void stopLocked(std::unique_lock<std::mutex>& lock, int waitMs, bool forExit);
    void afterForkInChild();

    Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable progress_;
    std::deque<std::pair<std::uint64_t, Job>> queue_;
    TimerMap timers_;
    std::unordered_map<TimerId, TimerMap::iterator> timerIndex_;
    TimerId nextTimer_ = 1;
    std::uint64_t postedSeq_ = 0;
    std::uint64_t doneSeq_ = 0;
    bool stopped_ = false;
    bool exiting_ = false;
    std::shared_ptr<Worker> worker_;
    std::vector<std::shared_ptr<Worker>> leftBehind_;  // detached, maybe still in a job
};

}  // namespace sim
