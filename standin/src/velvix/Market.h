// The simulated market: the instruments the demo server quotes, the one price model every price
// comes from (live offers now, snapshots and history later), the demo account's content, and the
// market's settings (seed, tick pacing, table loading). Prices are a deterministic function of
// (seed, instrument, time), so live quotes and any bar of any timeframe agree wherever they meet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Columns.h"

namespace sim::velvix::market
{

struct Instrument
{
    const char* offerId;
    const char* symbol;
    int digits;             // decimals quoted
    double pointSize;       // one pip
    const char* currency;   // contract currency
    double base;            // the price the path wanders around
    double dailyVolatility; // relative
    double spreadPips;
    int instrumentType;     // 1 forex, 2 index, 4 metal
    int contractMultiplier;
    double pipCost;         // per 1000 units, in the account currency
};

const std::vector<Instrument>& instruments();
int findInstrument(const std::string& offerId);  // -1 for none

struct Quote
{
    double bid = 0.0, ask = 0.0;
};

// The mid price path.
double mid(std::uint64_t seed, int instrument, std::int64_t timeMs);
// Bid and ask at a time, rounded to the instrument's digits; bid < ask always.
Quote quote(std::uint64_t seed, int instrument, std::int64_t timeMs);

struct Bar
{
    double open = 0.0, high = 0.0, low = 0.0, close = 0.0;  // bid side
    std::int64_t volume = 0;
};
// The bar of `timeframeMs` starting at `startMs`, keyed only by (seed, instrument, timeframe,
// start): the same query always gives the same bar, and a bar's close is the next one's open.
Bar bar(std::uint64_t seed, int instrument, std::int64_t timeframeMs, std::int64_t startMs);

struct Settings
{
    std::uint64_t seed = 42;
    bool ticks = true;             // live offer updates
    std::int64_t tickMs = 250;
    std::int64_t loadDelayMs = 50; // from TABLES_LOADING to TABLES_LOADED
    bool loadFails = false;        // tables FAILED and TABLES_LOAD_FAILED instead
};
Settings settings();
void setSettings(const Settings& s);

// An offer's price as the server last published it: what every session's offers table shows and
// what the desk deals at. The board takes each instrument's price from the path at its first use
// (after a reset or a change of seed) and moves only when the price feed or a script publishes.
struct Price
{
    double bid = 0.0, ask = 0.0, high = 0.0, low = 0.0;  // the day's range of the bid
    double time = 0.0;                                   // OLE date of the publication
};
Price published(int instrument);
void publish(int instrument, const Price& price);
// The price's cells of an offer row: Bid, Ask, Time, High, Low.
CellValues priceCells(const Price& price);

// The demo account.
constexpr const char* DemoAccountId = "1000101";
constexpr const char* DemoAccountName = "01000101";
constexpr double DemoBalance = 50000.0;

// The server's rows of a table as a new account opens it, as cell values, at `timeMs`: the offers
// at their published prices, the account row, the welcome message; the rest empty.
std::vector<CellValues> initialRows(K7RTable table, std::int64_t timeMs);
// The price the path gives an instrument at `timeMs`, its day's range stretched from `before`.
Price tick(std::uint64_t seed, int instrument, std::int64_t timeMs, const Price& before);

}  // namespace sim::velvix::market
