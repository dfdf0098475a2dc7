// The timeframes the simulated server offers for price queries, and the collection the request
// factory hands out: a fresh snapshot of the server's list each time it is asked for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "History.h"
#include "core/Registry.h"

namespace sim::velvix
{

struct TimeframeSpec
{
    std::string id;
    K7RTimeframeUnit unit;
    int size;
    int queryDepth;  // how far back one query may reach, in bars (ticks: in minutes)
};

// "t1", "m1", ... "M1", in that order; a script may replace it (duplicates allowed).
std::vector<TimeframeSpec> serverTimeframes();
void scriptTimeframes(std::optional<std::vector<TimeframeSpec>> specs);  // nullopt: the default

class Timeframe final : public RefCounted<IK7RTimeframe>
{
public:
    explicit Timeframe(TimeframeSpec spec);

    const char* getId() override;
    K7RTimeframeUnit getUnit() override;
    int getQueryDepth() override;
    int getSize() override;

private:
    ~Timeframe() override = default;
    TimeframeSpec spec_;
};

class TimeframeCollection final : public RefCounted<IK7RTimeframeCollection>
{
public:
    explicit TimeframeCollection(const std::vector<TimeframeSpec>& specs);

    int size() override;
    IK7RTimeframe* getById(const char* id) override;  // the first match; null when none
    IK7RTimeframe* get(int index) override;           // null outside 0..size-1

private:
    ~TimeframeCollection() override = default;
    std::vector<Ref<Timeframe>> items_;
};

// The generator's frame of any caller's timeframe (its unit and size).
history::Frame frameOf(IK7RTimeframe* timeframe);

}  // namespace sim::velvix
