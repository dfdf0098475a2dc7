// simcore: the simulated world's clock. Real time by default; tests switch it to virtual time,
// which stands still until advanced, so that delays and timeouts become deterministic. Time is
// kept as milliseconds since 1970-01-01 UTC and handed out as an OLE date when asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace sim
{

class Dispatcher;

class Clock
{
public:
    bool isVirtual() const { return virtual_.load(std::memory_order_acquire); }
    std::int64_t nowMs() const;
    double nowOle() const;

    // Virtual time from `startMs` (the current real time when not given). Pending timers keep
    // the time they still had to wait.
    void setVirtual(std::optional<std::int64_t> startMs = std::nullopt);
    void setVirtualOle(double startOle);
    void setReal();
    // Virtual time only: moves it on and queues the timers that fell due. False in real time.
    bool advance(std::int64_t ms);

    static std::int64_t realNowMs();

    // The dispatcher whose timers follow this clock (the world wires its own pair).
    void attach(Dispatcher* dispatcher) { dispatcher_ = dispatcher; }

private:

    Dispatcher* dispatcher_ = nullptr;
    std::atomic<bool> virtual_{false};
    std::atomic<std::int64_t> virtualMs_{0};
};

}  // namespace sim
