// The instruments, the price path and the demo account. The path is a sum of smoothed noise at
// several time scales (seconds to weeks), each knot's value hashed from its key, in log space:
// it wanders like a walk, never goes negative, and needs no state to be evaluated anywhere.
#include "Market.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "core/Fork.h"
#include "core/OleDate.h"
#include "core/World.h"

namespace sim::velvix::market
{

namespace
{

const std::vector<Instrument> Instruments = {
    {"1", "EUR/USD", 5, 0.0001, "EUR", 1.0850, 0.0045, 0.3, 1, 1, 0.1},
    {"2", "USD/JPY", 3, 0.01, "USD", 149.20, 0.0050, 0.5, 1, 1, 0.067},
    {"3", "GBP/USD", 5, 0.0001, "GBP", 1.2650, 0.0050, 0.6, 1, 1, 0.1},
    {"4", "USD/CHF", 5, 0.0001, "USD", 0.8820, 0.0045, 0.7, 1, 1, 0.113},
    {"5", "AUD/USD", 5, 0.0001, "AUD", 0.6580, 0.0060, 0.4, 1, 1, 0.1},
    {"6", "EUR/JPY", 3, 0.01, "EUR", 161.90, 0.0055, 0.9, 1, 1, 0.067},
    {"7", "USD/CAD", 5, 0.0001, "USD", 1.3540, 0.0040, 0.8, 1, 1, 0.074},
    {"8", "XAU/USD", 2, 0.01, "XAU", 2035.50, 0.0090, 35.0, 4, 1, 0.01},
    {"9", "US30", 0, 1.0, "USD", 37800.0, 0.0080, 2.0, 2, 1, 1.0},
};

constexpr std::int64_t DayMs = 86400000;

// Knot spacing and relative weight of each scale (weights in units of daily volatility).
struct Scale
{
    std::int64_t spacingMs;
    double weight;
};
const Scale Scales[] = {{2000, 0.02}, {60000, 0.10}, {1800000, 0.35}, {28800000, 0.60}, {5 * DayMs, 1.20}};

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// A uniform value in [-1, 1] for a key.
double knot(std::uint64_t seed, int instrument, int scale, std::int64_t index)
{
    std::uint64_t h = mix(seed ^ mix(static_cast<std::uint64_t>(instrument) * 0x100000001b3ull + scale));
    h = mix(h ^ static_cast<std::uint64_t>(index));
    return static_cast<double>(h >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

double roundTo(double v, int digits)
{
    const double p = std::pow(10.0, digits);
    return std::round(v * p) / p;
}

std::mutex settingsMutex;
Settings current;

// The published prices, by instrument; an empty slot takes the path's price at its first use.
std::mutex boardMutex;
std::vector<std::optional<Price>> board(Instruments.size());

void clearBoard()
{
    std::lock_guard<std::mutex> lock(boardMutex);
    for (auto& slot : board)
        slot.reset();
}

struct ResetSettings
{
    ResetSettings()
    {
        world().onReset([] {
            {
                std::lock_guard<std::mutex> lock(settingsMutex);
                current = Settings{};
            }
            clearBoard();
        });
        lockAcrossFork(settingsMutex);
        lockAcrossFork(boardMutex);
    }
} resetSettings;

}  // namespace

const std::vector<Instrument>& instruments()
{
    return Instruments;
}

int findInstrument(const std::string& offerId)
{
    for (std::size_t i = 0; i < Instruments.size(); ++i)
        if (offerId == Instruments[i].offerId)
            return static_cast<int>(i);
    return -1;
}

double mid(std::uint64_t seed, int instrument, std::int64_t timeMs)
{
    const Instrument& in = Instruments[static_cast<std::size_t>(instrument)];
    double logOffset = 0.0;
    for (int s = 0; s < static_cast<int>(std::size(Scales)); ++s)
    {
        const std::int64_t k = floorDiv(timeMs, Scales[s].spacingMs);
        const double f = static_cast<double>(timeMs - k * Scales[s].spacingMs) / static_cast<double>(Scales[s].spacingMs);
        const double smooth = f * f * (3.0 - 2.0 * f);
        const double a = knot(seed, instrument, s, k), b = knot(seed, instrument, s, k + 1);
        logOffset += Scales[s].weight * in.dailyVolatility * (a + (b - a) * smooth);
    }
    return in.base * std::exp(logOffset);
}

Quote quote(std::uint64_t seed, int instrument, std::int64_t timeMs)
{
    const Instrument& in = Instruments[static_cast<std::size_t>(instrument)];
    const double tick = std::pow(10.0, -in.digits);
    const double spread = std::max(tick, roundTo(in.spreadPips * in.pointSize, in.digits));
    Quote q;
    q.bid = roundTo(mid(seed, instrument, timeMs) - spread / 2.0, in.digits);
    q.ask = roundTo(q.bid + spread, in.digits);
    return q;
}

Bar bar(std::uint64_t seed, int instrument, std::int64_t timeframeMs, std::int64_t startMs)
{
    const Instrument& in = Instruments[static_cast<std::size_t>(instrument)];
    timeframeMs = std::max<std::int64_t>(timeframeMs, 1000);
    Bar b;
    b.open = quote(seed, instrument, startMs).bid;
    b.close = quote(seed, instrument, startMs + timeframeMs).bid;
    b.high = std::max(b.open, b.close);
    b.low = std::min(b.open, b.close);
    constexpr int Samples = 24;
    for (int i = 1; i < Samples; ++i)
    {
        const double p = quote(seed, instrument, startMs + timeframeMs * i / Samples).bid;
        b.high = std::max(b.high, p);
        b.low = std::min(b.low, p);
    }
    const std::uint64_t h = mix(seed ^ mix(static_cast<std::uint64_t>(startMs) ^ mix(timeframeMs + instrument)));
    b.volume = 1 + static_cast<std::int64_t>(h % 50) * std::max<std::int64_t>(1, timeframeMs / 60000);
    b.high = roundTo(b.high, in.digits);
    b.low = roundTo(b.low, in.digits);
    return b;
}

Settings settings()
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    return current;
}

void setSettings(const Settings& s)
{
    bool reseeded;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        reseeded = s.seed != current.seed;
        current = s;
    }
    if (reseeded)
        clearBoard();  // another path: the prices start again from it
}

Price tick(std::uint64_t seed, int instrument, std::int64_t timeMs, const Price& before)
{
    const Quote q = quote(seed, instrument, timeMs);
    return {q.bid, q.ask, std::max(before.high, q.bid), std::min(before.low, q.bid), ole::fromUnixMs(timeMs)};
}

Price published(int instrument)
{
    const std::uint64_t seed = settings().seed;
    const std::int64_t now = world().clock().nowMs();
    std::lock_guard<std::mutex> lock(boardMutex);
    std::optional<Price>& slot = board[static_cast<std::size_t>(instrument)];
    if (!slot)
    {
        // The day so far gives High and Low.
        const std::int64_t dayStart = floorDiv(now, DayMs) * DayMs;
        const Bar day = bar(seed, instrument, std::max<std::int64_t>(now - dayStart, 1000), dayStart);
        const Quote q = quote(seed, instrument, now);
        slot = Price{q.bid, q.ask, std::max(day.high, q.bid), std::min(day.low, q.bid), ole::fromUnixMs(now)};
    }
    return *slot;
}

void publish(int instrument, const Price& price)
{
    std::lock_guard<std::mutex> lock(boardMutex);
    board[static_cast<std::size_t>(instrument)] = price;
}

CellValues priceCells(const Price& p)
{
    return {{"Bid", p.bid}, {"Ask", p.ask}, {"Time", p.time}, {"High", p.high}, {"Low", p.low}};
}

std::vector<CellValues> initialRows(K7RTable table, std::int64_t timeMs)
{
    const double now = ole::fromUnixMs(timeMs);
    std::vector<CellValues> rows;
    switch (table)
    {
    case K7RTable::Offers:
        for (int i = 0; i < static_cast<int>(Instruments.size()); ++i)
        {
            const Instrument& in = Instruments[static_cast<std::size_t>(i)];
            const Price p = published(i);
            const int fractional = static_cast<int>(std::lround(in.pointSize * std::pow(10.0, in.digits)));
            rows.push_back({{"OfferID", std::string(in.offerId)},
                            {"Instrument", std::string(in.symbol)},
                            {"QuoteID", std::string("Q") + in.offerId},
                            {"Bid", p.bid},
                            {"Ask", p.ask},
                            {"Low", p.low},
                            {"High", p.high},
                            {"Volume", static_cast<std::int64_t>(1000 + 37 * i)},
                            {"Time", p.time},
                            {"BidTradable", true},
                            {"AskTradable", true},
                            {"SellInterest", -0.25 - 0.1 * i},
                            {"BuyInterest", 0.05 * i - 0.5},
                            {"ContractCurrency", std::string(in.currency)},
                            {"Digits", static_cast<std::int64_t>(in.digits)},
                            {"PointSize", in.pointSize},
                            {"SubscriptionStatus", std::string("T")},
                            {"InstrumentType", static_cast<std::int64_t>(in.instrumentType)},
                            {"ContractMultiplier", static_cast<std::int64_t>(in.contractMultiplier)},
                            {"TradingStatus", std::string("O")},
                            {"ValueDate", std::string()},
                            {"BidID", std::string()},
                            {"AskID", std::string()},
                            {"BidExpireDate", 0.0},
                            {"AskExpireDate", 0.0},
                            {"DividendSell", 0.0},
                            {"DividendBuy", 0.0},
                            {"PipCost", in.pipCost},
                            {"BidChangeDirection", std::int64_t{0}},
                            {"AskChangeDirection", std::int64_t{0}},
                            {"HiChangeDirection", std::int64_t{0}},
                            {"LowChangeDirection", std::int64_t{0}},
                            {"DefaultSortOrder", static_cast<std::int64_t>(i + 1)},
                            {"FractionalPipSize", static_cast<std::int64_t>(std::max(fractional, 1))}});
        }
        break;
    case K7RTable::Accounts:
        rows.push_back({{"AccountID", std::string(DemoAccountId)},
                        {"AccountName", std::string(DemoAccountName)},
                        {"AccountKind", std::string("32")},
                        {"Balance", DemoBalance},
                        {"NonTradeEquity", 0.0},
                        {"M2MEquity", DemoBalance},
                        {"MarginCallFlag", std::string("N")},
                        {"LastMarginCallDate", 0.0},
                        {"MaintenanceType", std::string("N")},
                        {"AmountLimit", std::int64_t{0}},
                        {"BaseUnitSize", std::int64_t{1000}},
                        {"MaintenanceFlag", false},
                        {"ManagerAccountID", std::string()},
                        {"LeverageProfileID", std::string()},
                        {"HedgeMarginPCT", 0.0},
                        {"ATPID", std::string()},
                        {"ARPID", std::string()},
                        {"UsedMargin", 0.0},
                        {"UsedMargin3", 0.0},
                        {"Equity", DemoBalance},
                        {"DayPL", 0.0},
                        {"UsableMargin", DemoBalance},
                        {"GrossPL", 0.0},
                        {"UsableMarginInPercentage", 100.0},
                        {"UsableMaintMarginInPercentage", 100.0}});
        break;
    case K7RTable::Messages:
        rows.push_back({{"MsgID", std::string("1")},
                        {"Time", now},
                        {"From", std::string("Demo dealing desk")},
                        {"Type", std::string("1")},
                        {"Feature", std::string()},
                        {"Text", std::string("Welcome to the demo trading server. Prices are simulated.")},
                        {"Subject", std::string("Welcome")},
                        {"HTMLFragmentFlag", false}});
        break;
    default:
        break;
    }
    return rows;
}

}  // namespace sim::velvix::market
