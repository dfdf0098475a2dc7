// simcore: OLE date conversions, with no use of the C library's time-zone aware functions.
#include "core/OleDate.h"

#include <cmath>

namespace sim::ole
{

namespace
{
constexpr int MinYear = 100;
constexpr int MaxYear = 9999;

// The day (counted from 1899-12-30) and the time of day of an OLE date, to the nearest `unit`
// milliseconds.
bool split(double ole, std::int64_t unitMs, std::int64_t& day, std::int64_t& msOfDay)
{
    if (!std::isfinite(ole) || ole <= -700000.0 || ole >= 3000000.0)
        return false;
    const double whole = std::trunc(ole);
    const double fraction = std::fabs(ole - whole);
    day = static_cast<std::int64_t>(whole);
    std::int64_t units = std::llround(fraction * static_cast<double>(MsPerDay / unitMs));
    msOfDay = units * unitMs;
    if (msOfDay >= MsPerDay)
    {
        // Rounded up to the next midnight: the next calendar day, whichever side of 1899-12-30.
        msOfDay -= MsPerDay;
        day += 1;
    }
    return true;
}

double join(std::int64_t day, std::int64_t msOfDay)
{
    const double fraction = static_cast<double>(msOfDay) / static_cast<double>(MsPerDay);
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}
}  // namespace

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool toCalendar(double ole, std::tm& out)
{
    std::int64_t day, msOfDay;
    if (!split(ole, 1000, day, msOfDay))
        return false;
    const std::int64_t unixDay = day - static_cast<std::int64_t>(UnixEpoch);
    std::int64_t y;
    unsigned m, d;
    civilFromDays(unixDay, y, m, d);
    if (y < MinYear || y > MaxYear)
        return false;
    const std::int64_t secs = msOfDay / 1000;
    std::tm t{};
    t.tm_year = static_cast<int>(y - 1900);
    t.tm_mon = static_cast<int>(m) - 1;
    t.tm_mday = static_cast<int>(d);
    t.tm_hour = static_cast<int>(secs / 3600);
    t.tm_min = static_cast<int>(secs / 60 % 60);
    t.tm_sec = static_cast<int>(secs % 60);
    // 1970-01-01 was a Thursday.
    t.tm_wday = static_cast<int>(((unixDay % 7) + 11) % 7);
    t.tm_yday = static_cast<int>(unixDay - daysFromCivil(y, 1, 1));
    t.tm_isdst = 0;
    out = t;
    return true;
}

bool fromFields(int year, int month, int day, int hour, int minute, int second, double& out)
{
    if (year < MinYear || year > MaxYear || month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month)) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const std::int64_t oleDay =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        static_cast<std::int64_t>(UnixEpoch);
    out = join(oleDay, ((hour * 60LL + minute) * 60 + second) * 1000);
    return true;
}

bool fromCalendar(const std::tm& in, double& out)
{
    // tm_year + 1900 must not overflow for absurd inputs.
    if (in.tm_year < MinYear - 1900 || in.tm_year > MaxYear - 1900)
        return false;
    return fromFields(in.tm_year + 1900, in.tm_mon + 1, in.tm_mday, in.tm_hour, in.tm_min, in.tm_sec,
                      out);
}

double fromUnixMs(std::int64_t ms)
{
    std::int64_t unixDay = ms / MsPerDay;
    std::int64_t msOfDay = ms % MsPerDay;
    if (msOfDay < 0)
    {
        msOfDay += MsPerDay;
        unixDay -= 1;
    }
    return join(unixDay + static_cast<std::int64_t>(UnixEpoch), msOfDay);
}

std::int64_t toUnixMsRounded(double ole)
{
    std::int64_t day, msOfDay;
    if (!split(ole, 1, day, msOfDay))
        return 0;
    return (day - static_cast<std::int64_t>(UnixEpoch)) * MsPerDay + msOfDay;
}

}  // namespace sim::ole
