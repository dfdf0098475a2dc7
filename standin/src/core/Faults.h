// simcore: fault injection. A test arms an override for one operation by name; the stand-in
// operation consults takeFault() on entry and, when one is armed, gives the scripted outcome
// instead of its own. Unarmed operations pay one atomic load.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/Fork.h"
#include "core/Value.h"

namespace sim
{

enum class FaultKind
{
    Null,   // return a null object (or the operation's "nothing")
    False,  // return false / fail
    Value,  // return the payload instead of the computed value
    Error   // fail with an error; the payload is the operation's to read
};

struct Fault
{
    FaultKind kind = FaultKind::Null;
    sim::Value value;

    std::optional<std::int64_t> asInt() const;
    std::optional<double> asDouble() const;  // ints widen
    std::optional<std::string> asText() const;
};

class Faults
{
public:
    static constexpr int Persistent = -1;

    // times > 0: the next `times` calls; Persistent: every call until cleared. Replaces any
    // override already armed for the operation.
    void arm(const std::string& op, FaultKind kind, sim::Value value = {}, int times = 1);
    void disarm(const std::string& op);
    void clear();

    // Consumes one use of the override armed for `op`, if any.
    std::optional<Fault> take(std::string_view op);
    bool armed(std::string_view op) const;
    // For a part of the world, which lives as long as the process: its lock stays whole across a
    // fork (core/Fork.h).
    void keepWholeAcrossFork() { lockAcrossFork(mutex_); }

private:
    struct Entry
    {
        Fault fault;
        int remaining;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry, std::less<>> entries_;
    std::atomic<std::size_t> count_{0};
};

}  // namespace sim
