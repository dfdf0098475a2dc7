// tests/native/test_bridge_callback.cpp: unsubscribing waits for every callback of the listener
// that runs on another thread, also when a library calls one listener from several threads.
#include "Callback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using vexa2::python::APythonCallback;
using vexa2::python::CallbackGuard;

namespace {

// A callback on a thread of its own that runs until released.
class RunningCallback
{
public:
    explicit RunningCallback(APythonCallback& listener)
        : m_thread([this, &listener] {
              CallbackGuard guard(listener);
              m_entered.set_value(guard.active());
              m_release.get_future().wait();
          })
    {
        m_active = m_entered.get_future().get();
    }
    ~RunningCallback()
    {
        end();
    }
    void end()
    {
        if (m_thread.joinable())
        {
            m_release.set_value();
            m_thread.join();
        }
    }
    bool active() const { return m_active; }

private:
    std::promise<bool> m_entered;
    std::promise<void> m_release;
    bool m_active = false;
    std::thread m_thread;
};

bool stillWaiting(std::future<void>& stop)
{
    return stop.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout;
}

}  // namespace

TEST(BridgeCallback, UnsubscribeWaitsForTheCallbacksOfEveryOtherThread)
{
    APythonCallback listener;
    RunningCallback first(listener), second(listener);
    ASSERT_TRUE(first.active() && second.active());
    auto stop = std::async(std::launch::async, [&] { listener.stopAndWait(); });
    first.end();
    EXPECT_TRUE(stillWaiting(stop)) << "returned while the second thread's callback ran";
    second.end();
    EXPECT_EQ(stop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    RunningCallback late(listener);
    EXPECT_FALSE(late.active());
}

TEST(BridgeCallback, SubscribingAgainDuringACallbackKeepsItCounted)
{
    APythonCallback listener;
    RunningCallback running(listener);
    listener.reset();  // a re-subscribe while the callback still runs
    auto stop = std::async(std::launch::async, [&] { listener.stopAndWait(); });
    EXPECT_TRUE(stillWaiting(stop)) << "the reset forgot the running callback";
    running.end();
    EXPECT_EQ(stop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}
