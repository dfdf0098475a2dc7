// simcore: real and virtual time.
#include "core/Clock.h"

#include <chrono>

#include "core/Dispatcher.h"
#include "core/OleDate.h"

namespace sim
{

std::int64_t Clock::realNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t Clock::nowMs() const
{
    return isVirtual() ? virtualMs_.load(std::memory_order_acquire) : realNowMs();
}

double Clock::nowOle() const
{
    return ole::fromUnixMs(nowMs());
}

void Clock::setVirtual(std::optional<std::int64_t> startMs)
{
    auto mutate = [&]() -> std::int64_t {
        const std::int64_t before = nowMs();
        const std::int64_t start = startMs.value_or(before);
        virtualMs_.store(start, std::memory_order_release);
        virtual_.store(true, std::memory_order_release);
        return start - before;
    };
    if (dispatcher_)
        dispatcher_->retime(mutate);
    else
        mutate();
}

void Clock::setVirtualOle(double startOle)
{
    setVirtual(ole::toUnixMsRounded(startOle));
}

void Clock::setReal()
{
    auto mutate = [&]() -> std::int64_t {
        const std::int64_t before = nowMs();
        virtual_.store(false, std::memory_order_release);
        return realNowMs() - before;
    };
    if (dispatcher_)
        dispatcher_->retime(mutate);
    else
        mutate();
}

bool Clock::advance(std::int64_t ms)
{
    if (!isVirtual() || ms < 0)
        return false;
    auto mutate = [&]() -> std::int64_t {
        virtualMs_.fetch_add(ms, std::memory_order_acq_rel);
        return 0;
    };
    if (dispatcher_)
        dispatcher_->retime(mutate);
    else
        mutate();
    return true;
}

}  // namespace sim
