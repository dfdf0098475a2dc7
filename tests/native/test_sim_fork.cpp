// tests/native/test_sim_fork.cpp: the simulated world across a fork of the process. A fork made
// while another thread holds the world's dispatcher lock, or while the dispatcher's thread is
// inside a delivery, leaves the child a dispatcher that delivers on a thread of its own, and a
// child that ends normally.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "core/World.h"

namespace
{

using namespace std::chrono_literals;

// In the child: 0 when a delivery posted now runs, on a thread other than the caller's.
int childDelivers()
{
    std::promise<std::thread::id> ran;
    std::future<std::thread::id> runner = ran.get_future();
    sim::world().dispatcher().post([&ran] { ran.set_value(std::this_thread::get_id()); });
    if (runner.wait_for(5s) != std::future_status::ready)
        return 2;
    return runner.get() == std::this_thread::get_id() ? 3 : 0;
}

// Forks a child that checks its dispatcher and ends by exit(), running the process's destructors;
// gives its exit status, or -1 when it did not end within 10 seconds (it is killed then).
int forkedChildStatus()
{
    const pid_t pid = fork();
    if (pid == 0)
        std::exit(childDelivers());
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{handle, POLLIN, 0};
    const bool done = ::poll(&ended, 1, 10000) == 1;
    ::close(handle);
    if (!done)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SimFork, AForkWhileAnotherThreadHoldsTheDispatcherLockWaitsForItAndTheChildDelivers)
{
    sim::Dispatcher& dispatcher = sim::world().dispatcher();
    ASSERT_EQ(childDelivers(), 0);  // the parent's thread is running
    std::promise<void> holding;
    // A change of the clock runs under the dispatcher's lock; this one keeps it a while, so that
    // the fork below is made while it is held.
    std::thread holder([&] {
        dispatcher.retime([&] {
            holding.set_value();
            std::this_thread::sleep_for(200ms);
            return std::int64_t{0};
        });
    });
    holding.get_future().wait();
    EXPECT_EQ(forkedChildStatus(), 0);
    holder.join();
}

TEST(SimFork, AForkWhileTheDispatcherIsInsideADeliveryLeavesTheChildADispatcherOfItsOwn)
{
    sim::Dispatcher& dispatcher = sim::world().dispatcher();
    std::promise<void> inside;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    dispatcher.post([&] {
        inside.set_value();
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
    });
    inside.get_future().wait();
    EXPECT_EQ(forkedChildStatus(), 0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(dispatcher.flush(5000));
}
