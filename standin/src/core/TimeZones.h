// Zone rules from the system's time zone database (TZif files, under TZDIR or
// /usr/share/zoneinfo), read by the stand-in itself: the C library offers only one zone per
// process (TZ), and changing it would reach every thread. A zone is immutable once read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim::tz
{

// A POSIX TZ rule ("EST5EDT,M3.2.0,M11.1.0"), as a TZif footer gives it for the times after the
// file's last transition.
struct Rule
{
    struct Change
    {
        char kind = 'M';  // 'M' month.week.day, 'J' day 1..365 without leap days, 'D' day 0..365
        int month = 0, week = 0, day = 0;
        std::int64_t time = 7200;  // local seconds after midnight
    };
    std::int64_t standard = 0;  // seconds east of UTC
    std::int64_t daylight = 0;
    bool hasDaylight = false;
    Change start, end;

    // Nullopt for a text that is not such a rule.
    static std::optional<Rule> parse(const std::string& text);
    std::int64_t offsetAt(std::int64_t utc) const;
};

class Zone
{
public:
    // The zone of that name in the database; nullopt when the file is missing or unreadable.
    static std::optional<Zone> load(const std::string& name);
    // A zone from the bytes of a TZif file; nullopt when they are not one.
    static std::optional<Zone> parse(const std::string& bytes);
    // A zone that follows `rule` at every time.
    static Zone ofRule(const Rule& rule);

    // Seconds east of UTC in force at `utc` (Unix seconds).
    std::int64_t offsetAt(std::int64_t utc) const;
    // UTC of a wall-clock time (Unix seconds counted on the wall clock). A time the clocks pass
    // twice is the first; one they skip is read with the offset in force before the change.
    std::int64_t toUtc(std::int64_t wall) const;
    std::int64_t fromUtc(std::int64_t utc) const { return utc + offsetAt(utc); }

private:
    std::vector<std::int64_t> transitions_;  // ascending
    std::vector<std::int64_t> offsets_;      // in force from each transition on
    std::int64_t initial_ = 0;               // before the first transition
    std::optional<Rule> footer_;             // after the last one
};

}  // namespace sim::tz
