// Tests of the simulated libraries' delivery thread: FIFO order, the flush barrier, timers on the
// virtual and the real clock, and bounded stopping. Each test runs its own dispatcher and clock,
// so the shared world is left alone.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Dispatcher.h"

namespace
{

using namespace std::chrono_literals;

// A one-way gate with bounded waits.
class Gate
{
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(std::chrono::milliseconds timeout = 5000ms)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

class SimDispatcher : public testing::Test
{
protected:
    SimDispatcher() { clock.attach(&dispatcher); }

    // What the jobs saw, read after a flush (the flush orders it before the read).
    std::vector<std::string> seen;
    sim::Clock clock;
    sim::Dispatcher dispatcher{clock};

    sim::Dispatcher::Job note(std::string what)
    {
        return [this, what] { seen.push_back(what); };
    }
};

TEST_F(SimDispatcher, RunsJobsInPostingOrderOnItsOwnThread)
{
    std::vector<int> order;
    std::vector<long> threads;
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(dispatcher.post([&, i] {
            order.push_back(i);
            threads.push_back(static_cast<long>(::syscall(SYS_gettid)));
        }));
    ASSERT_TRUE(dispatcher.flush(5000));
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    const long tid = dispatcher.nativeThreadId();
    EXPECT_NE(tid, static_cast<long>(::syscall(SYS_gettid)));
    for (long t : threads)
        EXPECT_EQ(t, tid);
}

TEST_F(SimDispatcher, JobsPostAndScheduleFromInsideWithoutDeadlock)
{
    clock.setVirtual(0);
    dispatcher.post([&] {
        seen.push_back("outer");
        dispatcher.post(note("inner"));
        dispatcher.cancel(dispatcher.postAfter(10, note("cancelled")));
    });
    ASSERT_TRUE(dispatcher.flush(5000));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
    EXPECT_EQ(dispatcher.pendingTimers(), 0u);
}

TEST_F(SimDispatcher, FlushWaitsForEarlierJobsAndTimesOutWhileOneBlocks)
{
    Gate gate;
    dispatcher.post([&] { gate.wait(); });
    dispatcher.post(note("after"));
    EXPECT_FALSE(dispatcher.flush(50));
    EXPECT_TRUE(seen.empty());
    gate.open();
    EXPECT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, std::vector<std::string>{"after"});
    EXPECT_TRUE(dispatcher.flush(0));  // nothing pending
}

TEST_F(SimDispatcher, FlushOnTheDispatcherThreadGivesUpAtOnce)
{
    std::atomic<int> result{-1};
    dispatcher.post([&] { result = dispatcher.flush(10000) ? 1 : 0; });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(SimDispatcher, AThrowingJobDoesNotStopTheThread)
{
    dispatcher.post([] { throw std::runtime_error("scripted failure"); });
    dispatcher.post(note("still running"));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, std::vector<std::string>{"still running"});
}

TEST_F(SimDispatcher, VirtualTimersFireWhenAdvancedInDeadlineThenPostingOrder)
{
    clock.setVirtual(1000);
    dispatcher.postAfter(300, note("c"));
    dispatcher.postAfter(100, note("a"));
    dispatcher.postAfter(100, note("b"));
    const auto dropped = dispatcher.postAfter(200, note("dropped"));
    EXPECT_TRUE(dispatcher.cancel(dropped));
    EXPECT_FALSE(dispatcher.cancel(dropped));

    ASSERT_TRUE(clock.advance(99));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(clock.advance(1));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(clock.advance(10000));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(clock.nowMs(), 1000 + 100 + 10000);
    EXPECT_EQ(dispatcher.pendingTimers(), 0u);
}

TEST_F(SimDispatcher, SwitchingClocksKeepsTheTimeATimerStillHadToWait)
{
    dispatcher.postAfter(60000, note("due"));
    clock.setVirtual(0);  // far before the real time the timer was set against
    ASSERT_TRUE(dispatcher.flush(5000));
    ASSERT_TRUE(clock.advance(59000));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(clock.advance(1500));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, std::vector<std::string>{"due"});
}

TEST_F(SimDispatcher, RealTimersRunOnTheirOwnAndAdvanceIsRefused)
{
    Gate fired;
    dispatcher.postAfter(20, [&] { fired.open(); });
    dispatcher.postAfter(600000, note("much later"));
    EXPECT_TRUE(fired.wait());
    EXPECT_FALSE(clock.advance(1000));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(dispatcher.pendingTimers(), 1u);
}

TEST_F(SimDispatcher, StopIsBoundedDropsPendingWorkAndRestartRunsAgain)
{
    Gate started, release, finished;
    dispatcher.post([&] {
        started.open();
        release.wait();
        finished.open();
    });
    ASSERT_TRUE(started.wait());
    dispatcher.post(note("dropped"));
    dispatcher.postAfter(0, note("dropped timer"));

    const auto start = std::chrono::steady_clock::now();
    dispatcher.stop(100);  // the running job is stuck: left behind
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(dispatcher.stopped());
    EXPECT_FALSE(dispatcher.post(note("after stop")));
    EXPECT_EQ(dispatcher.postAfter(1, note("after stop")), 0u);
    EXPECT_EQ(dispatcher.nativeThreadId(), 0);
    EXPECT_TRUE(dispatcher.flush(100));

    release.open();
    ASSERT_TRUE(finished.wait());
    dispatcher.restart();
    dispatcher.post(note("restarted"));
    ASSERT_TRUE(dispatcher.flush(5000));
    EXPECT_EQ(seen, std::vector<std::string>{"restarted"});
}

TEST_F(SimDispatcher, AJobMayStopItsOwnThread)
{
    Gate stopped;
    dispatcher.post([&] {
        dispatcher.stop();
        stopped.open();
    });
    ASSERT_TRUE(stopped.wait());
    EXPECT_TRUE(dispatcher.stopped());
    EXPECT_FALSE(dispatcher.post(note("never")));
}

TEST_F(SimDispatcher, NothingRunsAfterShutdownForExit)
{
    dispatcher.post(note("before"));
    ASSERT_TRUE(dispatcher.flush(5000));
    dispatcher.shutdownForExit(100);
    dispatcher.restart();
    EXPECT_FALSE(dispatcher.post(note("after exit")));
    EXPECT_EQ(seen, std::vector<std::string>{"before"});
}

}  // namespace
