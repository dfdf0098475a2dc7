// tests/native/test_late_caller.cpp: the late-call worker's ordering, its stop, and a stop made
// from the worker itself. Tests that stop use a worker of their own: the shared one never restarts.
#include "LateCaller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

using vexa2::python::LateCaller;

namespace {

// Posts a job that fulfils a promise and waits for it: every earlier job has run by then.
bool drain(LateCaller& worker)
{
    auto done = std::make_shared<std::promise<void>>();
    auto f = done->get_future();
    worker.post([done] { done->set_value(); });
    return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

}  // namespace

TEST(LateCaller, JobsFromTwoThreadsRunOnceEachInTheirPostingOrder)
{
    LateCaller& worker = LateCaller::instance();
    std::mutex seenMutex;
    std::map<int, std::vector<int>> seen;  // poster -> job numbers in the order they ran
    auto poster = [&](int who) {
        for (int i = 0; i < 500; ++i)
            worker.post([&, who, i] {
                std::lock_guard<std::mutex> lock(seenMutex);
                seen[who].push_back(i);
            });
    };
    std::thread a(poster, 0), b(poster, 1);
    a.join();
    b.join();
    ASSERT_TRUE(drain(worker));
    for (int who : {0, 1})
    {
        ASSERT_EQ(seen[who].size(), 500u);
        for (int i = 0; i < 500; ++i)
            ASSERT_EQ(seen[who][i], i);
    }
}

TEST(LateCaller, JobsRunOnTheWorkerThread)
{
    std::promise<std::thread::id> ran;
    LateCaller::instance().post([&ran] { ran.set_value(std::this_thread::get_id()); });
    auto f = ran.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(f.get(), std::this_thread::get_id());
    EXPECT_EQ(&LateCaller::instance(), &LateCaller::instance());
}

TEST(LateCaller, StopOnTheWorkerFailsButStillDropsPendingAndLaterJobs)
{
    LateCaller worker;
    worker.start();
    std::atomic<bool> pendingRan{false}, laterRan{false};
    std::promise<void> pendingPosted;
    auto posted = pendingPosted.get_future().share();
    std::promise<std::error_code> stopResult;
    worker.post([&] {
        posted.wait();
        try
        {
            worker.stop();
            stopResult.set_value({});
        }
        catch (const std::system_error& e)
        {
            stopResult.set_value(e.code());
        }
    });
    worker.post([&] { pendingRan = true; });
    pendingPosted.set_value();
    auto code = stopResult.get_future();
    ASSERT_EQ(code.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(code.get(), std::make_error_code(std::errc::resource_deadlock_would_occur));

    worker.post([&] { laterRan = true; });
    worker.stop();  // from here it joins the ended worker
    worker.stop();  // and a second stop finds no thread to wait for
    EXPECT_FALSE(pendingRan);
    EXPECT_FALSE(laterRan);
}

TEST(LateCaller, StopWaitsForTheRunningJob)
{
    LateCaller worker;
    worker.start();
    std::atomic<bool> finished{false};
    std::promise<void> entered;
    worker.post([&] {
        entered.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    entered.get_future().wait();
    worker.stop();
    EXPECT_TRUE(finished);
}

TEST(LateCaller, AWorkerNeverStartedStopsAtOnce)
{
    LateCaller worker;
    std::atomic<bool> ran{false};
    worker.post([&] { ran = true; });
    worker.stop();
    EXPECT_FALSE(ran);
}

TEST(LateCaller, AJobPostedAfterAStopIsDestroyedAtOnceUnrun)
{
    for (const bool started : {true, false})
    {
        LateCaller worker;
        if (started)
            worker.start();
        worker.stop();
        std::atomic<bool> ran{false};
        auto held = std::make_shared<int>(0);
        worker.post([&ran, held] { ran = true; });
        EXPECT_EQ(held.use_count(), 1) << "started: " << started;
        EXPECT_FALSE(ran);
    }
}
