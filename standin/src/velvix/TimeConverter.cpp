// The time converter: dates between UTC, the process's local zone, New York time (EST, the zone
// the trading day ends in) and the server's zone, which is UTC on the demo server. Zone rules are
// the date library's POSIX rule for New York and the C library's for the local zone; no offset is
// worked out here. Each conversion is journaled as "IK7RTimeConverter::convert".
#include <boost/date_time/local_time/local_time.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <ctime>
#include <optional>

#include "SessionServices.h"
#include "core/OleDate.h"

namespace sim::velvix
{

namespace
{

namespace pt = boost::posix_time;
namespace lt = boost::local_time;

using Zone = IK7RTimeConverter::TimeZone;

// New York: five hours behind UTC, daylight saving from the second Sunday of March to the first
// Sunday of November, at 02:00 local time.
const lt::time_zone_ptr& newYork()
{
    static const lt::time_zone_ptr zone(new lt::posix_time_zone("EST-05EDT+01,M3.2.0/02:00,M11.1.0/02:00"));
    return zone;
}

const pt::ptime Epoch(boost::gregorian::date(1970, 1, 1));

// A wall-clock time of New York as UTC. A time the clocks skip is read with standard time; a time
// they pass twice is the first of the two, daylight time.
pt::ptime fromNewYork(const pt::ptime& wall)
{
    const auto kind = lt::local_date_time::check_dst(wall.date(), wall.time_of_day(), newYork());
    if (kind == boost::date_time::invalid_time_label)
        return wall - newYork()->base_utc_offset();
    const bool daylight = kind == boost::date_time::is_in_dst || kind == boost::date_time::ambiguous;
    return lt::local_date_time(wall.date(), wall.time_of_day(), newYork(), daylight).utc_time();
}

// The local zone is the C library's (TZ, else the system's), so both ways go through it.
std::optional<pt::ptime> fromLocal(const pt::ptime& wall)
{
    std::tm fields = pt::to_tm(wall);
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return Epoch + pt::seconds(static_cast<long>(seconds));
}

std::optional<pt::ptime> toLocal(const pt::ptime& utc)
{
    const std::time_t seconds = static_cast<std::time_t>((utc - Epoch).total_seconds());
    std::tm fields{};
    if (!localtime_r(&seconds, &fields))
        return std::nullopt;
    return pt::ptime_from_tm(fields);
}

std::optional<pt::ptime> toUtc(const pt::ptime& t, Zone zone)
{
    switch (zone)
    {
    case Zone::UTC:
    case Zone::Server: return t;
    case Zone::EST: return fromNewYork(t);
    case Zone::Local: return fromLocal(t);
    }
    return std::nullopt;
}

std::optional<pt::ptime> fromUtc(const pt::ptime& utc, Zone zone)
{
    switch (zone)
    {
    case Zone::UTC:
    case Zone::Server: return utc;
    case Zone::EST: return lt::local_date_time(utc, newYork()).local_time();
    case Zone::Local: return toLocal(utc);
    }
    return std::nullopt;
}

// Whole seconds, as OLE dates reach callers; nullopt for a date or zone the conversion cannot
// take (a year outside the date library's range, a zone outside the enumeration).
std::optional<double> convertOle(double ole, Zone from, Zone to)
{
    std::tm fields{};
    if (!ole::toCalendar(ole, fields))
        return std::nullopt;
    try
    {
        const std::optional<pt::ptime> utc = toUtc(pt::ptime_from_tm(fields), from);
        const std::optional<pt::ptime> there = utc ? fromUtc(*utc, to) : std::nullopt;
        double out = 0.0;
        if (!there || !ole::fromCalendar(pt::to_tm(*there), out))
            return std::nullopt;
        return out;
    }
    catch (const std::exception&)
    {
        return std::nullopt;
    }
}

class TimeConverter final : public RefCounted<IK7RTimeConverter>
{
public:
    TimeConverter() : RefCounted("IK7RTimeConverter") {}

    // The same zone gives the date back untouched; one the conversion cannot take, too.
    double convert(double oleTime, TimeZone from, TimeZone to) override
    {
        journal("velvix", "IK7RTimeConverter::convert", {number(oleTime), number(from), number(to)});
        const double converted = from == to ? oleTime : convertOle(oleTime, from, to).value_or(oleTime);
        return answer("IK7RTimeConverter::convert", converted);
    }

private:
    ~TimeConverter() override = default;
};

}  // namespace

IK7RTimeConverter* makeTimeConverter()
{
    return make<TimeConverter>().detach();
}

}  // namespace sim::velvix
