// The simulated server's price history: one deterministic generator of bars and ticks, keyed by
// instrument, timeframe and bar time, so that every query (market data snapshots now, the
// historical-price library later) sees the same past. No state: it reads the market's price path
// (a function of the market seed, the instrument and time), the very path the live offers quote,
// so the last bar ends at the live price.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "velvix/K7REnums.h"

namespace sim::history
{

// The instruments the server quotes ("EUR/USD", ...), in the offers' order.
std::vector<std::string> instruments();
bool knownInstrument(const std::string& name);

struct Frame
{
    K7RTimeframeUnit unit = K7RTimeframeUnit::Min;
    int size = 1;
};

// One bar, or one tick (then every bid field is the bid and every ask field the ask).
struct Bar
{
    double date = 0.0;  // OLE date of the bar's start, or of the tick
    double bidOpen = 0.0, bidHigh = 0.0, bidLow = 0.0, bidClose = 0.0;
    double askOpen = 0.0, askHigh = 0.0, askLow = 0.0, askClose = 0.0;
    int volume = 0;
};

struct Series
{
    bool isBar = true;
    std::vector<Bar> items;  // ascending dates
};

constexpr int DefaultCount = 300;
constexpr int MaxItems = 1000000;

// The bars (ticks for a TICK frame) of [from, to], OLE dates read at the nearest whole second,
// both bounds inclusive: the bar holding `from` first, the bar holding `to` last; a tick belongs
// to the second its date reads at. At most `count` of them, the latest ones when there are more.
// to == 0 means now; from == 0 means `count` items back from `to` (DefaultCount when count <= 0);
// count <= 0 with a start means all of them (at most MaxItems). A start after the end gives none.
// Nothing after `nowMs` exists yet: the bar running at `nowMs` closes at the price of that
// moment. An unknown instrument or a frame size below 1 gives no items.
Series bars(const std::string& instrument, Frame frame, double from, double to, int count, std::int64_t nowMs);

// Why the server refuses to answer the query rather than answer it cut, or nothing: a start
// after the end, or an answer that would hold more than MaxItems items (the smaller of what is
// asked for and what the range holds, counted without building them). The text names the bounds
// as given, at whole seconds, or the cap.
std::optional<std::string> refusal(const std::string& instrument, Frame frame, double from, double to, int count,
                                   std::int64_t nowMs);

// The bid the market quoted for an instrument at a moment (Unix ms); 0 for an unknown one.
double bidAt(const std::string& instrument, std::int64_t ms);

// Bar boundaries of a frame, in Unix seconds: the start of the bar holding `t`, and the start of
// the next bar after a bar starting at `start`.
std::int64_t alignDown(Frame frame, std::int64_t t);
std::int64_t nextStart(Frame frame, std::int64_t start);

}  // namespace sim::history
