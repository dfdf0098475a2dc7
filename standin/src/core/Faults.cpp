// simcore: the fault table.
#include "core/Faults.h"

namespace sim
{

std::optional<std::int64_t> Fault::asInt() const
{
    if (auto p = std::get_if<std::int64_t>(&value))
        return *p;
    if (auto p = std::get_if<bool>(&value))
        return *p ? 1 : 0;
    return std::nullopt;
}

std::optional<double> Fault::asDouble() const
{
    if (auto p = std::get_if<double>(&value))
        return *p;
    if (auto i = asInt())
        return static_cast<double>(*i);
    return std::nullopt;
}

std::optional<std::string> Fault::asText() const
{
    if (auto p = std::get_if<std::string>(&value))
        return *p;
    return std::nullopt;
}

void Faults::arm(const std::string& op, FaultKind kind, sim::Value value, int times)
{
    if (times == 0 || times < Persistent)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[op] = Entry{Fault{kind, std::move(value)}, times};
    count_.store(entries_.size());
}

void Faults::disarm(const std::string& op)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(op);
    count_.store(entries_.size());
}

void Faults::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    count_.store(0);
}

std::optional<Fault> Faults::take(std::string_view op)
{
    if (count_.load(std::memory_order_relaxed) == 0)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(op);
    if (it == entries_.end())
        return std::nullopt;
    Fault fault = it->second.fault;
    if (it->second.remaining != Persistent && --it->second.remaining == 0)
    {
        entries_.erase(it);
        count_.store(entries_.size());
    }
    return fault;
}

bool Faults::armed(std::string_view op) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.find(op) != entries_.end();
}

}  // namespace sim
