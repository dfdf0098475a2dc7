// Reading TZif files (version 1, and the 64-bit data and footer rule of versions 2 and later) and
// evaluating POSIX TZ rules, for zone conversions that touch no process-wide state.
#include "TimeZones.h"

#include "core/OleDate.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sim::tz
{

namespace
{

constexpr std::int64_t Day = 86400;

std::int64_t yearOf(std::int64_t days)
{
    std::int64_t y;
    unsigned m, d;
    ole::civilFromDays(days, y, m, d);
    return y;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The local midnight (in days since the epoch) of a rule's change in year `y`.
std::int64_t changeDay(const Rule::Change& c, std::int64_t y)
{
    const std::int64_t jan1 = ole::daysFromCivil(y, 1, 1);
    if (c.kind == 'J')  // February 29 is never counted
        return jan1 + c.day - 1 + (ole::leap(y) && c.day >= 60 ? 1 : 0);
    if (c.kind == 'D')
        return jan1 + c.day;
    const unsigned month = static_cast<unsigned>(c.month);
    const std::int64_t first = ole::daysFromCivil(y, month, 1);
    const int weekday = static_cast<int>(((first + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    int mday = 1 + (c.day - weekday + 7) % 7 + (c.week - 1) * 7;
    while (mday > static_cast<int>(ole::daysInMonth(y, month)))
        mday -= 7;
    return first + mday - 1;
}

// --- POSIX TZ text ------------------------------------------------------------------------------

struct Reader
{
    const std::string& s;
    std::size_t i = 0;

    bool done() const { return i >= s.size(); }
    char peek() const { return done() ? '\0' : s[i]; }

    bool name()
    {
        if (peek() == '<')
        {
            const std::size_t close = s.find('>', i);
            if (close == std::string::npos || close - i < 4)
                return false;
            i = close + 1;
            return true;
        }
        const std::size_t from = i;
        while (std::isalpha(static_cast<unsigned char>(peek())))
            ++i;
        return i - from >= 3;
    }

    bool number(int& out, int max)
    {
        const std::size_t from = i;
        out = 0;
        while (std::isdigit(static_cast<unsigned char>(peek())) && i - from < 3)
            out = out * 10 + (s[i++] - '0');
        return i > from && out <= max;
    }

    // [+-]hh[:mm[:ss]] in seconds.
    bool time(std::int64_t& out, int maxHours)
    {
        int sign = 1;
        if (peek() == '+' || peek() == '-')
            sign = s[i++] == '-' ? -1 : 1;
        int h = 0, m = 0, sec = 0;
        if (!number(h, maxHours))
            return false;
        if (peek() == ':' && (++i, !number(m, 59)))
            return false;
        if (peek() == ':' && (++i, !number(sec, 59)))
            return false;
        out = sign * (h * 3600 + m * 60 + sec);
        return true;
    }

    bool change(Rule::Change& c)
    {
        if (peek() == 'M')
        {
            ++i;
            c.kind = 'M';
            if (!number(c.month, 12) || c.month < 1 || peek() != '.')
                return false;
            ++i;
            if (!number(c.week, 5) || c.week < 1 || peek() != '.')
                return false;
            ++i;
            if (!number(c.day, 6))
                return false;
        }
        else
        {
            c.kind = peek() == 'J' ? (++i, 'J') : 'D';
            if (!number(c.day, 365) || (c.kind == 'J' && c.day < 1))
                return false;
        }
        c.time = 7200;
        return peek() != '/' || (++i, time(c.time, 167));
    }
};

}  // namespace

std::optional<Rule> Rule::parse(const std::string& text)
{
    Reader r{text};
    Rule rule;
    std::int64_t west = 0;
    if (!r.name() || !r.time(west, 24))
        return std::nullopt;
    rule.standard = -west;
    if (r.done())
        return rule;
    if (!r.name())
        return std::nullopt;
    rule.hasDaylight = true;
    rule.daylight = rule.standard + 3600;
    if (!r.done() && r.peek() != ',')
    {
        if (!r.time(west, 24))
            return std::nullopt;
        rule.daylight = -west;
    }
    // Without dates the changes default to the United States' rule, as the C library's do.
    if (r.done())
    {
        rule.start = {'M', 3, 2, 0, 7200};
        rule.end = {'M', 11, 1, 0, 7200};
        return rule;
    }
    if (r.peek() != ',' || (++r.i, !r.change(rule.start)) || r.peek() != ',' || (++r.i, !r.change(rule.end)) ||
        !r.done())
        return std::nullopt;
    return rule;
}

std::int64_t Rule::offsetAt(std::int64_t utc) const
{
    if (!hasDaylight)
        return standard;
    const std::int64_t year = yearOf(floorDiv(utc + standard, Day));
    // Daylight time starts at a standard-time wall clock and ends at a daylight-time one.
    const std::int64_t start = changeDay(this->start, year) * Day + this->start.time - standard;
    const std::int64_t end = changeDay(this->end, year) * Day + this->end.time - daylight;
    const bool inDaylight = start < end ? (utc >= start && utc < end) : !(utc >= end && utc < start);
    return inDaylight ? daylight : standard;
}

// --- TZif files ---------------------------------------------------------------------------------

namespace
{

struct Bytes
{
    const std::string& s;
    std::size_t i = 0;

    bool has(std::size_t n) const { return i + n <= s.size(); }
    std::int64_t be(int n)
    {
        std::uint64_t v = 0;
        for (int k = 0; k < n; ++k)
            v = (v << 8) | static_cast<unsigned char>(s[i++]);
        if (n == 4)
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        return static_cast<std::int64_t>(v);
    }
};

struct Header
{
    char version = 0;
    std::int64_t isut = 0, isstd = 0, leaps = 0, times = 0, types = 0, chars = 0;
};

bool header(Bytes& b, Header& h)
{
    if (!b.has(44) || b.s.compare(b.i, 4, "TZif") != 0)
        return false;
    h.version = b.s[b.i + 4];
    b.i += 20;
    h.isut = b.be(4);
    h.isstd = b.be(4);
    h.leaps = b.be(4);
    h.times = b.be(4);
    h.types = b.be(4);
    h.chars = b.be(4);
    return h.types > 0 && h.times >= 0 && h.leaps >= 0 && h.chars >= 0 && h.isut >= 0 && h.isstd >= 0;
}

std::size_t dataSize(const Header& h, int timeSize)
{
    return static_cast<std::size_t>(h.times * timeSize + h.times + h.types * 6 + h.chars +
                                    h.leaps * (timeSize + 4) + h.isstd + h.isut);
}

}  // namespace

std::optional<Zone> Zone::parse(const std::string& bytes)
{
    Bytes b{bytes};
    Header h;
    if (!header(b, h))
        return std::nullopt;
    int timeSize = 4;
    if (h.version >= '2')
    {
        // The 64-bit data follows the 32-bit block; only it is read.
        if (!b.has(dataSize(h, 4)))
            return std::nullopt;
        b.i += dataSize(h, 4);
        if (!header(b, h))
            return std::nullopt;
        timeSize = 8;
    }
    if (!b.has(dataSize(h, timeSize)))
        return std::nullopt;
    Zone zone;
    std::vector<std::int64_t> times(static_cast<std::size_t>(h.times));
    for (auto& t : times)
        t = b.be(timeSize);
    std::vector<int> kinds(static_cast<std::size_t>(h.times));
    for (auto& k : kinds)
        k = static_cast<unsigned char>(bytes[b.i++]);
    std::vector<std::int64_t> offsets(static_cast<std::size_t>(h.types));
    for (auto& o : offsets)
    {
        o = b.be(4);
        b.i += 2;  // daylight flag and name index: not needed for offsets
    }
    for (std::size_t n = 0; n < times.size(); ++n)
    {
        if (kinds[n] >= static_cast<int>(offsets.size()) || (n > 0 && times[n] <= times[n - 1]))
            return std::nullopt;
        zone.transitions_.push_back(times[n]);
        zone.offsets_.push_back(offsets[static_cast<std::size_t>(kinds[n])]);
    }
    zone.initial_ = offsets[0];
    b.i += static_cast<std::size_t>(h.chars + h.leaps * (timeSize + 4) + h.isstd + h.isut);
    if (timeSize == 8 && b.has(1) && bytes[b.i] == '\n')
    {
        const std::size_t end = bytes.find('\n', b.i + 1);
        if (end != std::string::npos && end > b.i + 1)
            zone.footer_ = Rule::parse(bytes.substr(b.i + 1, end - b.i - 1));
    }
    return zone;
}

std::optional<Zone> Zone::load(const std::string& name)
{
    const char* dir = std::getenv("TZDIR");
    const std::string path = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return parse(content.str());
}

Zone Zone::ofRule(const Rule& rule)
{
    Zone zone;
    zone.initial_ = rule.standard;
    zone.footer_ = rule;
    return zone;
}

std::int64_t Zone::offsetAt(std::int64_t utc) const
{
    if (transitions_.empty() || utc >= transitions_.back())
    {
        if (footer_)
            return footer_->offsetAt(utc);
        if (transitions_.empty())
            return initial_;
    }
    const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
    if (after == transitions_.begin())
        return initial_;
    return offsets_[static_cast<std::size_t>(std::distance(transitions_.begin(), after) - 1)];
}

std::int64_t Zone::toUtc(std::int64_t wall) const
{
    // The offsets in force a day either side; clock changes are further apart than that.
    const std::int64_t before = offsetAt(wall - Day);
    const std::int64_t after = offsetAt(wall + Day);
    const bool beforeFits = offsetAt(wall - before) == before;
    const bool afterFits = offsetAt(wall - after) == after;
    if (beforeFits && afterFits)
        return std::min(wall - before, wall - after);
    if (afterFits)
        return wall - after;
    return wall - before;  // fits, or a time the clocks skip
}

}  // namespace sim::tz
