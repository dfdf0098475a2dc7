// simcore: the world's life: creation on first use, reset between tests, its parts kept whole
// across a fork, and the bounded stop of its thread when the process exits.
#include "core/World.h"

namespace sim
{

World::World() : dispatcher_(clock_)
{
    clock_.attach(&dispatcher_);
    registry_.keepWholeAcrossFork();
    journal_.keepWholeAcrossFork();
    faults_.keepWholeAcrossFork();
    scenario_.keepWholeAcrossFork();
    lockAcrossFork(hooksMutex_);
    dispatcher_.keepWholeAcrossFork();
}

World& World::instance()
{
    static World* world = new World;
    return *world;
}

void World::reset()
{
    faults_.clear();
    journal_.clear();
    registry_.resetReleaseCalls();
    dispatcher_.cancelAllTimers();
    clock_.setReal();
    scenario_.set(ScenarioState{});
    finalizeCalls_.store(0);
    finalized_.store(false, std::memory_order_release);
    dispatcher_.restart();
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> lock(hooksMutex_);
        hooks = resetHooks_;
    }
    for (auto& hook : hooks)
        hook();
}

void World::onReset(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(hooksMutex_);
    resetHooks_.push_back(std::move(hook));
}

void World::finalize(int deliveryWaitMs)
{
    finalizeCalls_.fetch_add(1);
    finalized_.store(true, std::memory_order_release);
    dispatcher_.stop(deliveryWaitMs);
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> lock(hooksMutex_);
        hooks = finalizeHooks_;
    }
    for (auto& hook : hooks)
        hook();
}

void World::onFinalize(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(hooksMutex_);
    finalizeHooks_.push_back(std::move(hook));
}

void World::sessionClosed(std::uint64_t sessionId)
{
    std::vector<std::function<void(std::uint64_t)>> hooks;
    {
        std::lock_guard<std::mutex> lock(hooksMutex_);
        hooks = sessionClosedHooks_;
    }
    for (auto& hook : hooks)
        hook(sessionId);
}

void World::onSessionClosed(std::function<void(std::uint64_t)> hook)
{
    std::lock_guard<std::mutex> lock(hooksMutex_);
    sessionClosedHooks_.push_back(std::move(hook));
}

namespace
{
// At exit the dispatcher is stopped with a bounded wait and never runs a job again.
struct ExitStop
{
    ~ExitStop() { World::instance().dispatcher().shutdownForExit(); }
} exitStop;
}  // namespace

}  // namespace sim
