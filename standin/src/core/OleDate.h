// simcore: OLE Automation date arithmetic, the trading library's date format: days since
// 1899-12-30, the fraction the time of day. Before that day the integer part counts back and the
// fraction still runs forward from midnight (-1.25 is 1899-12-29 06:00). Proleptic Gregorian
// calendar, years 100 to 9999, no time zone: the calendar fields are taken as they are.
#pragma once

#include <cstdint>
#include <ctime>

namespace sim::ole
{

constexpr double UnixEpoch = 25569.0;  // 1970-01-01
constexpr std::int64_t MsPerDay = 86400000;

// Rounds to the nearest second; fills wday and yday, isdst 0. False (out untouched) when the
// value is not finite or falls outside years 100..9999.
bool toCalendar(double ole, std::tm& out);
// Reads year, month, day, hour, minute, second only; false when any is out of range.
bool fromCalendar(const std::tm& in, double& out);

// The OLE date of a calendar moment given in fields (month 1..12); false when out of range.
bool fromFields(int year, int month, int day, int hour, int minute, int second, double& out);

double fromUnixMs(std::int64_t ms);
std::int64_t toUnixMsRounded(double ole);  // to the nearest millisecond

// Days from 1970-01-01 for a proleptic Gregorian date (month 1..12), and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d);
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d);

// Proleptic Gregorian too, any year.
inline bool leap(std::int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

inline unsigned daysInMonth(std::int64_t y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

}  // namespace sim::ole
