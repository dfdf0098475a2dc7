// simcore: the dispatcher thread, its FIFO queue and its timers.
#include "core/Dispatcher.h"

#include <cxxabi.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "core/Clock.h"
#include "core/Fork.h"

namespace sim
{

namespace
{
thread_local const Dispatcher* tlsDispatcher = nullptr;
}

struct Dispatcher::Worker
{
    std::thread thread;
    long tid = 0;
    bool quit = false;      // under the dispatcher lock
    bool finished = false;  // under the dispatcher lock
};

Dispatcher::Dispatcher(Clock& clock) : clock_(clock) {}

Dispatcher::~Dispatcher()
{
    shutdownForExit();
    // Threads left behind still touch this object when their job ends: give them a bounded while.
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait_for(lock, std::chrono::milliseconds(StopWaitMs), [&] {
        for (const auto& w : leftBehind_)
            if (!w->finished)
                return false;
        return true;
    });
}

void Dispatcher::ensureStarted()
{
    if (worker_ || stopped_)
        return;
    worker_ = std::make_shared<Worker>();
    worker_->thread = std::thread(&Dispatcher::run, this, worker_);
}

void Dispatcher::run(std::shared_ptr<Worker> worker)
{
    tlsDispatcher = this;
    // Marks the end even when the thread is torn down inside a job (an interpreter that is
    // finalizing ends threads that ask for its lock).
    struct Finish
    {
        Dispatcher* d;
        Worker* w;
        ~Finish()
        {
            std::lock_guard<std::mutex> lock(d->mutex_);
            w->finished = true;
            d->progress_.notify_all();
        }
    } finish{this, worker.get()};

    std::unique_lock<std::mutex> lock(mutex_);
    worker->tid = static_cast<long>(::syscall(SYS_gettid));
    progress_.notify_all();
    while (!worker->quit)
    {
        promoteDue();
        if (!queue_.empty())
        {
            auto [seq, job] = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            try
            {
                job();
            }
            catch (abi::__forced_unwind&)
            {
                throw;
            }
            catch (const std::exception& e)
            {
                std::fprintf(stderr, "simulated library: a delivery failed: %s\n", e.what());
            }
            catch (...)
            {
                std::fprintf(stderr, "simulated library: a delivery failed\n");
            }
            job = nullptr;  // its captures are released with no lock held
            lock.lock();
            if (!worker->quit && seq > doneSeq_)
                doneSeq_ = seq;
            progress_.notify_all();
            continue;
        }
        if (!timers_.empty() && !clock_.isVirtual())
        {
            const std::int64_t remaining = timers_.begin()->first - clock_.nowMs();
            if (remaining > 0)
                wake_.wait_for(lock, std::chrono::milliseconds(remaining));
        }
        else
        {
            wake_.wait(lock);
        }
    }
}

void Dispatcher::promoteDue()
{
    if (timers_.empty())
        return;
    const std::int64_t now = clock_.nowMs();
    while (!timers_.empty() && timers_.begin()->first <= now)
    {
        auto it = timers_.begin();
        timerIndex_.erase(it->second.id);
        queue_.emplace_back(++postedSeq_, std::move(it->second.job));
        timers_.erase(it);
    }
}

bool Dispatcher::post(Job job)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_)
    {
        lock.unlock();
        return false;  // `job` is destroyed with no lock held
    }
    queue_.emplace_back(++postedSeq_, std::move(job));
    ensureStarted();
    wake_.notify_one();
    return true;
}

Dispatcher::TimerId Dispatcher::postAfter(std::int64_t delayMs, Job job)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_)
    {
        lock.unlock();
        return 0;
    }
    const TimerId id = nextTimer_++;
    const std::int64_t deadline = clock_.nowMs() + (delayMs > 0 ? delayMs : 0);
    auto it = timers_.emplace(deadline, Timer{id, std::move(job)});
    timerIndex_.emplace(id, it);
    ensureStarted();
    wake_.notify_one();
    return id;
}

bool Dispatcher::cancel(TimerId id)
{
    Job job;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = timerIndex_.find(id);
        if (found == timerIndex_.end())
            return false;
        job = std::move(found->second->second.job);
        timers_.erase(found->second);
        timerIndex_.erase(found);
    }
    return true;
}

void Dispatcher::cancelAllTimers()
{
    TimerMap dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(timers_);
        timerIndex_.clear();
    }
}

std::size_t Dispatcher::pendingTimers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.size();
}

bool Dispatcher::flush(std::int64_t timeoutMs)
{
    if (tlsDispatcher == this)
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    promoteDue();
    const std::uint64_t target = postedSeq_;
    if (doneSeq_ >= target)
        return true;
    ensureStarted();
    wake_.notify_one();
    return progress_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                              [&] { return doneSeq_ >= target; });
}

void Dispatcher::stopLocked(std::unique_lock<std::mutex>& lock, int waitMs, bool forExit)
{
    leftBehind_.erase(std::remove_if(leftBehind_.begin(), leftBehind_.end(),
                                     [](const std::shared_ptr<Worker>& w) { return w->finished; }),
                      leftBehind_.end());
    stopped_ = true;
    if (forExit)
        exiting_ = true;
    std::deque<std::pair<std::uint64_t, Job>> droppedJobs;
    droppedJobs.swap(queue_);
    TimerMap droppedTimers;
    droppedTimers.swap(timers_);
    timerIndex_.clear();
    doneSeq_ = postedSeq_;
    std::shared_ptr<Worker> worker = std::move(worker_);
    progress_.notify_all();

    if (worker)
    {
        worker->quit = true;
        wake_.notify_all();
        if (tlsDispatcher == this && worker->thread.get_id() == std::this_thread::get_id())
        {
            worker->thread.detach();  // a job stopping its own thread: it ends after the job
            leftBehind_.push_back(worker);
        }
        else
        {
            const bool finished = progress_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                                     [&] { return worker->finished; });
            if (!finished)
                leftBehind_.push_back(worker);
            lock.unlock();
            if (finished)
                worker->thread.join();
            else
                worker->thread.detach();  // stuck in a callback: left to end with the process
        }
    }
    if (lock.owns_lock())
        lock.unlock();
    if (forExit)
    {
        // At exit the jobs' captures may lead into an interpreter that is gone: never run their
        // destructors.
        new std::deque<std::pair<std::uint64_t, Job>>(std::move(droppedJobs));
        new TimerMap(std::move(droppedTimers));
    }
}

void Dispatcher::stop(int waitMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    stopLocked(lock, waitMs, false);
}

void Dispatcher::shutdownForExit(int waitMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    stopLocked(lock, waitMs, true);
}

void Dispatcher::restart()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!exiting_)
        stopped_ = false;
}

bool Dispatcher::stopped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

bool Dispatcher::exiting() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return exiting_;
}

bool Dispatcher::onDispatcherThread() const
{
    return tlsDispatcher == this;
}

long Dispatcher::nativeThreadId()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ensureStarted();
    if (!worker_)
        return 0;
    std::shared_ptr<Worker> worker = worker_;
    progress_.wait_for(lock, std::chrono::seconds(5), [&] { return worker->tid != 0; });
    return worker->tid;
}

void Dispatcher::keepWholeAcrossFork()
{
    aroundFork([this] { mutex_.lock(); }, [this] { mutex_.unlock(); }, [this] { afterForkInChild(); });
}

void Dispatcher::afterForkInChild()
{
    renewAfterFork(mutex_);
    renewAfterFork(wake_);
    renewAfterFork(progress_);
    // The parent's deliveries and timers are for its threads and its callers: they never run here,
    // and are never destroyed, as what they hold may be in use by threads the fork left behind.
    new std::deque<std::pair<std::uint64_t, Job>>(std::move(queue_));
    queue_.clear();
    new TimerMap(std::move(timers_));
    timers_.clear();
    timerIndex_.clear();
    doneSeq_ = postedSeq_;
    new std::vector<std::shared_ptr<Worker>>(std::move(leftBehind_));
    leftBehind_.clear();
    // The worker is not in the child: forgotten, as it can be neither joined nor detached, and a
    // new one starts on first use. A fork made by a delivery goes on in the child on the worker's
    // thread, which ends once the delivery returned, leaving the queue to the new worker.
    if (worker_)
    {
        worker_->quit = true;
        new std::shared_ptr<Worker>(std::move(worker_));
    }
}

void Dispatcher::retime(const std::function<std::int64_t()>& mutate)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t shift = mutate();
    if (shift != 0 && !timers_.empty())
    {
        TimerMap moved;
        timerIndex_.clear();
        for (auto& [deadline, timer] : timers_)
        {
            const TimerId id = timer.id;
            auto it = moved.emplace_hint(moved.end(), deadline + shift, std::move(timer));
            timerIndex_.emplace(id, it);
        }
        timers_.swap(moved);
        // `moved` now holds only moved-from jobs
    }
    promoteDue();
    wake_.notify_all();
}

}  // namespace sim
