// simcore: the one simulated world of the process, shared by the three stand-in libraries and
// the control extension: its registry, journal, faults, clock, dispatcher and scenario.
// Never destroyed, so that a thread left behind at exit still finds it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "core/Clock.h"
#include "core/Dispatcher.h"
#include "core/Faults.h"
#include "core/Journal.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim
{

class World
{
public:
    static World& instance();

    Registry& registry() { return registry_; }
    Journal& journal() { return journal_; }
    Faults& faults() { return faults_; }
    Clock& clock() { return clock_; }
    Dispatcher& dispatcher() { return dispatcher_; }
    Guarded<ScenarioState>& scenario() { return scenario_; }

    // Back to the default scenario: faults, journal and release counters cleared, real time,
    // pending timers cancelled, the transport alive again after a finialize. Live objects stay;
    // deliveries already queued still run. Hooks then restore what the libraries keep.
    void reset();
    void onReset(std::function<void()> hook);

    // The trading library was finalized: no sessions, no threads, until reset(). The delivery in
    // progress is waited for at most `deliveryWaitMs` (Dispatcher::stop). Hooks then end what the
    // libraries still had pending; the dispatcher no longer runs anything for them.
    void finalize(int deliveryWaitMs);
    void onFinalize(std::function<void()> hook);
    bool finalized() const { return finalized_.load(std::memory_order_acquire); }
    std::int64_t finalizeCalls() const { return finalizeCalls_.load(); }

    // A session began to log out or was lost: the libraries end what they had pending for it.
    void sessionClosed(std::uint64_t sessionId);
    void onSessionClosed(std::function<void(std::uint64_t)> hook);

private:
    World();

    Registry registry_;
    Journal journal_;
    Faults faults_;
    Clock clock_;
    Dispatcher dispatcher_;
    Guarded<ScenarioState> scenario_;
    std::atomic<bool> finalized_{false};
    std::atomic<std::int64_t> finalizeCalls_{0};
    std::mutex hooksMutex_;
    std::vector<std::function<void()>> resetHooks_;
    std::vector<std::function<void()>> finalizeHooks_;
    std::vector<std::function<void(std::uint64_t)>> sessionClosedHooks_;
};

inline World& world()
{
    return World::instance();
}

// Shorthands for stand-in operations.
inline void journal(const char* library, const char* op, Values args = {})
{
    world().journal().record(library, op, std::move(args));
}

inline std::optional<Fault> takeFault(std::string_view op)
{
    return world().faults().take(op);
}

}  // namespace sim
