// Timeframes and their collection. Query depths follow what a demo server would allow: a day of
// minutes, a few months of hours, ten years of days.
#include "Timeframes.h"

#include <cstring>
#include <mutex>

#include "core/Fork.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

const std::vector<TimeframeSpec>& defaults()
{
    using U = K7RTimeframeUnit;
    static const std::vector<TimeframeSpec> list{
        {"t1", U::Tick, 1, 300}, {"m1", U::Min, 1, 1440},   {"m5", U::Min, 5, 2016},  {"m15", U::Min, 15, 2880},
        {"m30", U::Min, 30, 1440}, {"H1", U::Hour, 1, 2160}, {"H2", U::Hour, 2, 2160}, {"H3", U::Hour, 3, 2000},
        {"H4", U::Hour, 4, 2190}, {"H6", U::Hour, 6, 1460},  {"H8", U::Hour, 8, 1095}, {"D1", U::Day, 1, 3650},
        {"W1", U::Week, 1, 520},  {"M1", U::Month, 1, 240},
    };
    return list;
}

struct Script
{
    std::mutex mutex;
    std::optional<std::vector<TimeframeSpec>> specs;

    Script()
    {
        world().onReset([this] { scriptTimeframes(std::nullopt); });
        lockAcrossFork(mutex);
    }
};

Script& script()
{
    static Script s;
    return s;
}

// The reset hook is in place before any test scripts a list.
const bool scriptReady = (script(), true);

}  // namespace

std::vector<TimeframeSpec> serverTimeframes()
{
    (void)scriptReady;
    std::lock_guard<std::mutex> lock(script().mutex);
    return script().specs ? *script().specs : defaults();
}

void scriptTimeframes(std::optional<std::vector<TimeframeSpec>> specs)
{
    std::lock_guard<std::mutex> lock(script().mutex);
    script().specs = std::move(specs);
}

Timeframe::Timeframe(TimeframeSpec spec) : RefCounted("IK7RTimeframe"), spec_(std::move(spec)) {}

const char* Timeframe::getId()
{
    return spec_.id.c_str();
}

K7RTimeframeUnit Timeframe::getUnit()
{
    return spec_.unit;
}

int Timeframe::getQueryDepth()
{
    return spec_.queryDepth;
}

int Timeframe::getSize()
{
    return spec_.size;
}

TimeframeCollection::TimeframeCollection(const std::vector<TimeframeSpec>& specs)
    : RefCounted("IK7RTimeframeCollection")
{
    for (const TimeframeSpec& spec : specs)
        items_.push_back(make<Timeframe>(spec));
}

int TimeframeCollection::size()
{
    return static_cast<int>(items_.size());
}

IK7RTimeframe* TimeframeCollection::getById(const char* id)
{
    journal("velvix", "IK7RTimeframeCollection::getById", {text(id)});
    if (!id)
        return nullptr;
    for (const Ref<Timeframe>& t : items_)
        if (std::strcmp(t->getId(), id) == 0)
            return t.share();
    return nullptr;
}

IK7RTimeframe* TimeframeCollection::get(int index)
{
    journal("velvix", "IK7RTimeframeCollection::get", {number(index)});
    if (index < 0 || index >= size())
        return nullptr;
    return items_[static_cast<std::size_t>(index)].share();
}

history::Frame frameOf(IK7RTimeframe* timeframe)
{
    history::Frame frame;
    frame.unit = timeframe->getUnit();
    frame.size = timeframe->getSize();
    return frame;
}

}  // namespace sim::velvix
