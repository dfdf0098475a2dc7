// The timeframe factory: trading-library timeframes built from an identifier ("m5", "H12") or a
// unit and a size. An identifier that does not parse is no error, only no timeframe; a size
// below 1 is a bad argument.
#include "Communicator.h"

#include <cctype>
#include <cstring>
#include <climits>
#include <string>

#include "plenta/Errors.h"

#include "core/World.h"
#include "velvix/Timeframes.h"

namespace plenta_sim
{

namespace
{

constexpr char UnitLetters[] = "tmHDWMY";  // by K7RTimeframeUnit

// The server's depth for a timeframe it lists, else a day's worth of that unit's bars.
int depthOf(const std::string& id)
{
    for (const sim::velvix::TimeframeSpec& s : sim::velvix::serverTimeframes())
        if (s.id == id)
            return s.queryDepth;
    return 1000;
}

IK7RTimeframe* build(K7RTimeframeUnit unit, int size)
{
    std::string id = UnitLetters[static_cast<int>(unit)] + std::to_string(size);
    const int depth = depthOf(id);
    return sim::make<sim::velvix::Timeframe>(sim::velvix::TimeframeSpec{std::move(id), unit, size, depth}).detach();
}

}  // namespace

TimeframeFactory::TimeframeFactory() : RefCounted("plenta::ITimeframeFactory") {}

IK7RTimeframe* TimeframeFactory::createByUnit(K7RTimeframeUnit unit, int size, plenta::IError** error)
{
    sim::journal("plenta", "ITimeframeFactory::createByUnit", {sim::number(static_cast<int>(unit)), sim::number(size)});
    if (scriptedFailure("createByUnit", error))
        return nullptr;
    const int u = static_cast<int>(unit);
    if (size <= 0 || u < 0 || u > static_cast<int>(K7RTimeframeUnit::Year))
    {
        const char* why = size <= 0 ? "The timeframe size must be positive" : "Unknown timeframe unit";
        if (error)
            *error = makeError(plenta::IError::BAD_ARGUMENTS, why);
        return nullptr;
    }
    return build(unit, size);
}

IK7RTimeframe* TimeframeFactory::create(const char* id, plenta::IError** error)
{
    sim::journal("plenta", "ITimeframeFactory::create", {sim::text(id)});
    if (scriptedFailure("create", error))
        return nullptr;
    if (!id || !id[0] || !id[1])
        return nullptr;
    const char* letter = std::strchr(UnitLetters, id[0]);
    if (!letter)
        return nullptr;
    long long size = 0;
    for (const char* p = id + 1; *p; ++p)
    {
        if (!std::isdigit(static_cast<unsigned char>(*p)) || size > INT_MAX / 10)
            return nullptr;
        size = size * 10 + (*p - '0');
    }
    if (size <= 0 || size > INT_MAX || id[1] == '0')
        return nullptr;
    return build(static_cast<K7RTimeframeUnit>(letter - UnitLetters), static_cast<int>(size));
}

}  // namespace plenta_sim
