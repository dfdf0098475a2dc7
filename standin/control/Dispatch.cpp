// velvix_sim: running a piece of the control faces' work on the simulated world's dispatcher and,
// when asked, waiting for it with the interpreter lock let go (the listeners it reaches need it).
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Control.h"
#include "core/World.h"

namespace control
{

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
    const bool posted = world.dispatcher().post([job, done] {
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
    });
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
