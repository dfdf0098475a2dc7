// velvix_sim: running a piece of the control faces' work on the simulated world's dispatcher (or,
// when asked, on a thread of its own) and, when asked, waiting for it with the interpreter lock
// let go (the listeners it reaches need it).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "Control.h"
#include "core/World.h"

namespace control
{

namespace
{

std::atomic<bool> g_onThreads{false};

// As a library with several threads of its own delivers: the delivery may run beside any other.
// After finialize nothing is delivered; a thread that starts after exit began leaves the delivery
// and what it holds, as the dispatcher leaves what it drops.
bool runOnThreadOfItsOwn(std::function<void()> delivery)
{
    sim::World& world = sim::world();
    if (world.dispatcher().stopped())
        return false;
    std::thread([delivery = std::move(delivery)]() mutable {
        if (sim::world().dispatcher().exiting())
        {
            new std::function<void()>(std::move(delivery));
            return;
        }
        delivery();
    }).detach();
    return true;
}

}  // namespace

void hooksOnThreads(bool on)
{
    g_onThreads.store(on);
}

bool onDispatcher(std::function<void()> what, bool wait, double timeout)
{
    struct Done
    {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        void set()
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
            cv.notify_all();
        }
    };
    auto done = std::make_shared<Done>();
    auto job = std::make_shared<std::function<void()>>(std::move(what));
    sim::World& world = sim::world();
    std::function<void()> delivery = [job, done] {
        struct Mark
        {
            Done& d;
            ~Mark() { d.set(); }
        } mark{*done};
        // The work and what it captured are gone before the waiter wakes, so a caller reading
        // reference counts afterwards sees none of the delivery's own references.
        std::function<void()> run = std::move(*job);
        run();
        run = nullptr;
    };
    const bool posted = g_onThreads.load() ? runOnThreadOfItsOwn(std::move(delivery))
                                           : world.dispatcher().post(std::move(delivery));
    if (!posted)
        return false;
    if (!wait)
        return true;
    if (world.dispatcher().onDispatcherThread())
        return false;
    WithoutGil unlocked;
    std::unique_lock<std::mutex> lock(done->mutex);
    const auto ms = static_cast<std::int64_t>(std::max(timeout, 0.0) * 1000.0);
    return done->cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done->done; });
}

}  // namespace control
