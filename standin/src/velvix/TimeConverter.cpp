// The time converter: dates between UTC, the process's local zone, New York time (EST, the zone
// the trading day ends in) and the server's zone, which is UTC on the demo server. New York's
// rules are the system time zone database's, read by the stand-in (so every year follows its own
// rule, and no process-wide TZ is touched); the local zone is the C library's. Each conversion is
// journaled as "IK7RTimeConverter::convert".
#include <boost/date_time/posix_time/posix_time.hpp>

#include <ctime>
#include <optional>

#include "SessionServices.h"
#include "core/OleDate.h"
#include "core/TimeZones.h"

namespace sim::velvix
{

namespace
{

namespace pt = boost::posix_time;

using Zone = IK7RTimeConverter::TimeZone;

// The rule New York has followed since 2007, for a system without time zone data.
constexpr const char* NewYorkSince2007 = "EST5EDT,M3.2.0,M11.1.0";

// Read once, on first use, and never changed: safe from any thread.
const tz::Zone& newYork()
{
    static const tz::Zone zone = [] {
        if (std::optional<tz::Zone> read = tz::Zone::load("America/New_York"))
            return *read;
        return tz::Zone::ofRule(*tz::Rule::parse(NewYorkSince2007));
    }();
    return zone;
}

const pt::ptime Epoch(boost::gregorian::date(1970, 1, 1));

std::int64_t unixSeconds(const pt::ptime& t)
{
    return (t - Epoch).total_seconds();
}

pt::ptime fromUnix(std::int64_t seconds)
{
    return Epoch + pt::seconds(static_cast<long>(seconds));
}

// A wall-clock time of New York as UTC. A time the clocks skip is read with standard time (the
// offset before the change); a time they pass twice is the first of the two, daylight time.
pt::ptime fromNewYork(const pt::ptime& wall)
{
    return fromUnix(newYork().toUtc(unixSeconds(wall)));
}

pt::ptime toNewYork(const pt::ptime& utc)
{
    return fromUnix(newYork().fromUtc(unixSeconds(utc)));
}

// The local zone is the C library's (TZ, else the system's), so both ways go through it.
std::optional<pt::ptime> fromLocal(const pt::ptime& wall)
{
    std::tm fields = pt::to_tm(wall);
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return fromUnix(seconds);
}

std::optional<pt::ptime> toLocal(const pt::ptime& utc)
{
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds(utc));
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
    case Zone::EST: return toNewYork(utc);
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
