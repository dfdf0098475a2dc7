// The price-history generator. Bars read the market's quotes at their boundaries and inside, so a
// bar's close is the next bar's open, the bar running now closes at the live quote, and a query
// never depends on what was asked before. Highs and lows reach a little beyond the sampled quotes,
// by an amount hashed from the bar's key.
#include "History.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "Market.h"
#include "core/OleDate.h"

namespace sim::history
{

namespace
{

namespace market = sim::velvix::market;

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

std::uint64_t hash(std::uint64_t seed, std::uint64_t a, std::uint64_t b = 0)
{
    return mix(seed ^ mix(a ^ mix(b)));
}

double unit01(std::uint64_t h)
{
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

int indexOf(const std::string& name)
{
    const auto& all = market::instruments();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (name == all[i].symbol)
            return static_cast<int>(i);
    return -1;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::int64_t floorMod(std::int64_t a, std::int64_t b)
{
    return a - floorDiv(a, b) * b;
}

// One instrument's quotes under one market seed.
struct Path
{
    const market::Instrument& inst;
    int index;
    std::uint64_t marketSeed;
    std::uint64_t seed;  // of the bars' own hashes
    double scale;        // 10^digits
    double spread;

    Path(int i, std::uint64_t quotesSeed)
        : inst(market::instruments()[static_cast<std::size_t>(i)]), index(i), marketSeed(quotesSeed),
          seed(mix(quotesSeed ^ static_cast<std::uint64_t>(i + 1))), scale(std::pow(10.0, inst.digits)),
          spread(market::quote(quotesSeed, i, 0).ask - market::quote(quotesSeed, i, 0).bid)
    {
    }

    double bid(std::int64_t ms) const { return market::quote(marketSeed, index, ms).bid; }
    double round(double price) const { return std::round(price * scale) / scale; }
    double ask(double bid) const { return round(bid + spread); }
    // How far a bar of that many seconds may reach beyond its sampled quotes.
    double reach(double seconds) const
    {
        return inst.base * inst.dailyVolatility * std::sqrt(seconds / 86400.0) * 0.15;
    }
};

double oleOf(std::int64_t ms)
{
    return ole::fromUnixMs(ms);
}

// The earliest bar the server keeps: 1900-01-01, inside the dates every caller converts.
constexpr std::int64_t EarliestSecond = -2208988800;

Bar makeBar(const Path& path, Frame frame, std::int64_t start, std::int64_t nowMs)
{
    const std::int64_t startMs = start * 1000;
    const std::int64_t endMs = std::min(nextStart(frame, start) * 1000, nowMs);
    const std::int64_t span = std::max<std::int64_t>(endMs - startMs, 0);
    const std::uint64_t h = hash(path.seed, 0x6261727300ull + static_cast<std::uint64_t>(frame.unit) * 131 +
                                                static_cast<std::uint64_t>(frame.size),
                                 static_cast<std::uint64_t>(start));

    Bar bar;
    bar.date = oleOf(startMs);
    bar.bidOpen = path.bid(startMs);
    bar.bidClose = path.bid(endMs);
    double high = std::max(bar.bidOpen, bar.bidClose);
    double low = std::min(bar.bidOpen, bar.bidClose);
    constexpr int Samples = 8;
    for (int i = 1; i < Samples; ++i)
    {
        const double p = path.bid(startMs + span * i / Samples);
        high = std::max(high, p);
        low = std::min(low, p);
    }
    const double reach = path.reach(static_cast<double>(span) / 1000.0);
    bar.bidHigh = path.round(high + reach * unit01(mix(h ^ 1)));
    bar.bidLow = path.round(std::max(low - reach * unit01(mix(h ^ 2)), low * 0.5));
    bar.askOpen = path.ask(bar.bidOpen);
    bar.askClose = path.ask(bar.bidClose);
    bar.askHigh = path.ask(bar.bidHigh);
    bar.askLow = path.ask(bar.bidLow);
    const double ticks = std::max(1.0, static_cast<double>(span) / 5000.0 * (0.5 + unit01(mix(h ^ 3))));
    bar.volume = static_cast<int>(std::min(ticks, static_cast<double>(INT_MAX)));
    return bar;
}

// A tick in second `s`, if the server had one then: about three seconds in four.
std::optional<Bar> makeTick(const Path& path, std::int64_t s)
{
    const std::uint64_t h = hash(path.seed, 0x7469636b00ull, static_cast<std::uint64_t>(s));
    if ((h & 3) == 0)
        return std::nullopt;
    const std::int64_t ms = s * 1000 + static_cast<std::int64_t>((h >> 8) % 1000);
    Bar tick;
    tick.date = oleOf(ms);
    const double bid = path.bid(ms);
    const double ask = path.ask(bid);
    tick.bidOpen = tick.bidHigh = tick.bidLow = tick.bidClose = bid;
    tick.askOpen = tick.askHigh = tick.askLow = tick.askClose = ask;
    tick.volume = 1 + static_cast<int>((h >> 20) % 5);
    return tick;
}

}  // namespace

std::vector<std::string> instruments()
{
    std::vector<std::string> out;
    for (const market::Instrument& i : market::instruments())
        out.emplace_back(i.symbol);
    return out;
}

bool knownInstrument(const std::string& name)
{
    return indexOf(name) >= 0;
}

std::int64_t alignDown(Frame frame, std::int64_t t)
{
    const std::int64_t n = std::max(frame.size, 1);
    switch (frame.unit)
    {
    case K7RTimeframeUnit::Tick:
        return t;
    case K7RTimeframeUnit::Min:
        return floorDiv(t, 60 * n) * 60 * n;
    case K7RTimeframeUnit::Hour:
        return floorDiv(t, 3600 * n) * 3600 * n;
    case K7RTimeframeUnit::Day:
        return floorDiv(floorDiv(t, 86400), n) * n * 86400;
    case K7RTimeframeUnit::Week:
    {
        // Weeks start on Sunday, 00:00 (1970-01-04 was one).
        const std::int64_t week = floorDiv(floorDiv(t, 86400) - 3, 7);
        return (3 + floorDiv(week, n) * n * 7) * 86400;
    }
    case K7RTimeframeUnit::Month:
    case K7RTimeframeUnit::Year:
    {
        std::int64_t y;
        unsigned m, d;
        ole::civilFromDays(floorDiv(t, 86400), y, m, d);
        std::int64_t months = (y - 1970) * 12 + (m - 1);
        const std::int64_t step = frame.unit == K7RTimeframeUnit::Year ? 12 * n : n;
        months = floorDiv(months, step) * step;
        return ole::daysFromCivil(1970 + floorDiv(months, 12), static_cast<unsigned>(floorMod(months, 12) + 1), 1) *
               86400;
    }
    }
    return t;
}

std::int64_t nextStart(Frame frame, std::int64_t start)
{
    const std::int64_t n = std::max(frame.size, 1);
    switch (frame.unit)
    {
    case K7RTimeframeUnit::Tick: return start + 1;
    case K7RTimeframeUnit::Min: return start + 60 * n;
    case K7RTimeframeUnit::Hour: return start + 3600 * n;
    case K7RTimeframeUnit::Day: return start + 86400 * n;
    case K7RTimeframeUnit::Week: return start + 7 * 86400 * n;
    case K7RTimeframeUnit::Month:
    case K7RTimeframeUnit::Year:
    {
        std::int64_t y;
        unsigned m, d;
        ole::civilFromDays(floorDiv(start, 86400), y, m, d);
        const std::int64_t months = (y - 1970) * 12 + (m - 1) + (frame.unit == K7RTimeframeUnit::Year ? 12 * n : n);
        return ole::daysFromCivil(1970 + floorDiv(months, 12), static_cast<unsigned>(floorMod(months, 12) + 1), 1) *
               86400;
    }
    }
    return start + 1;
}

double bidAt(const std::string& instrument, std::int64_t ms)
{
    const int i = indexOf(instrument);
    return i < 0 ? 0.0 : market::quote(market::settings().seed, i, ms).bid;
}

namespace
{

std::int64_t roundedSecond(std::int64_t ms)
{
    return floorDiv(ms + 500, 1000);
}

// How the server reads a query: bounds at whole seconds, `to` 0 as now, nothing after now.
struct Reach
{
    std::optional<std::int64_t> fromS;  // the start given
    std::int64_t endS = 0;              // the end given, or now
    std::int64_t lastS = 0;             // the end, or now when that comes first
    std::size_t wanted = 0;             // items asked for; SIZE_MAX: every one of the range

    bool inverted() const { return fromS && *fromS > endS; }
    std::int64_t firstS() const { return std::max(EarliestSecond, fromS.value_or(EarliestSecond)); }
};

Reach reachOf(double from, double to, int count, std::int64_t nowMs)
{
    Reach r;
    if (from != 0.0)
        r.fromS = roundedSecond(ole::toUnixMsRounded(from));
    r.endS = roundedSecond(to == 0.0 ? nowMs : ole::toUnixMsRounded(to));
    r.lastS = std::min(r.endS, floorDiv(nowMs, 1000));
    r.wanted = count > 0 ? static_cast<std::size_t>(count)
                         : (r.fromS ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(DefaultCount));
    return r;
}

// Calls visit(start) for each bar of the range, the latest first, while it returns true.
template <class Visit>
void eachBar(Frame frame, const Reach& r, Visit visit)
{
    const std::int64_t first = alignDown(frame, r.firstS());
    for (std::int64_t start = alignDown(frame, r.lastS); start >= first; start = alignDown(frame, start - 1))
        if (!visit(start))
            return;
}

// Calls visit(tick) for each tick of the range, the latest first, while it returns true. A tick
// belongs to the second its date reads at, so two ranges that meet at a second share no tick.
template <class Visit>
void eachTick(const Path& path, const Reach& r, std::int64_t nowMs, Visit visit)
{
    const std::int64_t firstS = r.firstS();
    // A tick late in the second before the start reads as the start.
    for (std::int64_t s = r.lastS; s >= firstS - 1; --s)
    {
        std::optional<Bar> tick = makeTick(path, s);
        if (!tick)
            continue;
        const std::int64_t ms = ole::toUnixMsRounded(tick->date);
        const std::int64_t shown = roundedSecond(ms);
        if (ms > nowMs || shown > r.endS || shown < firstS)
            continue;
        if (!visit(*tick))
            return;
    }
}

bool usable(int index, Frame frame, double from, double to)
{
    return index >= 0 && frame.size >= 1 && std::isfinite(from) && std::isfinite(to);
}

// A bound as a user wrote it: the date at whole seconds.
std::string shown(double ole)
{
    std::tm t{};
    char out[40];
    if (ole::toCalendar(ole, t))
        std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(out, sizeof out, "%g", ole);
    return out;
}

}  // namespace

Series bars(const std::string& instrument, Frame frame, double from, double to, int count, std::int64_t nowMs)
{
    Series series;
    series.isBar = frame.unit != K7RTimeframeUnit::Tick;
    const int index = indexOf(instrument);
    if (!usable(index, frame, from, to))
        return series;
    const Reach reach = reachOf(from, to, count, nowMs);
    if (reach.inverted())
        return series;
    const Path path(index, market::settings().seed);
    const std::size_t limit = std::min<std::size_t>(reach.wanted, MaxItems);

    std::vector<Bar>& out = series.items;
    if (series.isBar)
        eachBar(frame, reach, [&](std::int64_t start) {
            out.push_back(makeBar(path, frame, start, nowMs));
            return out.size() < limit;
        });
    else
        eachTick(path, reach, nowMs, [&](const Bar& tick) {
            out.push_back(tick);
            return out.size() < limit;
        });
    std::reverse(out.begin(), out.end());
    return series;
}

std::optional<std::string> refusal(const std::string& instrument, Frame frame, double from, double to, int count,
                                   std::int64_t nowMs)
{
    const int index = indexOf(instrument);
    if (!usable(index, frame, from, to))
        return std::nullopt;
    const Reach reach = reachOf(from, to, count, nowMs);
    const std::string range = "The range from " + shown(from) + " to " + (to == 0.0 ? "now" : shown(to));
    if (reach.inverted())
        return range + " starts after it ends";
    if (reach.wanted <= static_cast<std::size_t>(MaxItems))
        return std::nullopt;
    // Asked for more than the cap: refused only when the range holds more too.
    std::size_t held = 0;
    const auto counted = [&held](const auto&) { return ++held <= static_cast<std::size_t>(MaxItems); };
    const bool ticks = frame.unit == K7RTimeframeUnit::Tick;
    if (ticks)
        eachTick(Path(index, market::settings().seed), reach, nowMs, counted);
    else
        eachBar(frame, reach, counted);
    if (held <= static_cast<std::size_t>(MaxItems))
        return std::nullopt;
    const std::string cap = "the server's cap of " + std::to_string(MaxItems) + (ticks ? " ticks" : " bars");
    if (count > 0)
        return "The count " + std::to_string(count) + " is above " + cap + ": ask for the range in parts";
    return range + " holds more than " + cap + ": ask for it in parts";
}

}  // namespace sim::history
