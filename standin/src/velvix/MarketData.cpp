// Market data messages and level-2 books of the demo server, built from the offer's live quote and
// the one price history, so that the candle and the book agree with the offers table.
#include "MarketData.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "History.h"
#include "Market.h"
#include "Rows.h"
#include "core/OleDate.h"

namespace sim::velvix
{

namespace
{

constexpr int Levels = 5;                   // on each side of the book
constexpr double LevelAmount = 1000000.0;   // the best level's amount; deeper levels hold more
constexpr std::int64_t CandleMs = 60000;    // the running candle is the minute's
constexpr std::int64_t DayMs = 86400000;

double roundTo(double v, int digits)
{
    const double p = std::pow(10.0, digits);
    return std::round(v * p) / p;
}

}  // namespace

bool liveQuote(const Ref<TableManager>& manager, const std::string& offerId, std::int64_t nowMs, LiveQuote& out)
{
    const int i = market::findInstrument(offerId);
    if (i < 0)
        return false;
    out.instrument = i;
    if (manager)
    {
        if (RowHold row = manager->table(K7RTable::Offers)->find(offerId))
        {
            out.bid = row->doubleOf("Bid");
            out.ask = row->doubleOf("Ask");
            out.low = std::min(row->doubleOf("Low"), out.bid);
            out.high = std::max(row->doubleOf("High"), out.bid);
            out.time = row->doubleOf("Time");
            return true;
        }
    }
    const market::Quote q = market::quote(market::settings().seed, i, nowMs);
    const std::int64_t dayStart = nowMs / DayMs * DayMs;
    const market::Bar day = market::bar(market::settings().seed, i, std::max<std::int64_t>(nowMs - dayStart, 1000), dayStart);
    out.bid = q.bid;
    out.ask = q.ask;
    out.low = std::min(day.low, q.bid);
    out.high = std::max(day.high, q.bid);
    out.time = ole::fromUnixMs(nowMs);
    return true;
}

MarketDataMessage marketDataMessage(const LiveQuote& quote, const std::string& requestId)
{
    const market::Instrument& in = market::instruments()[static_cast<std::size_t>(quote.instrument)];
    const std::int64_t quoteMs = ole::toUnixMsRounded(quote.time);
    // The minute running at the quote: its open from the history, its close the quote itself.
    const history::Series candle =
        history::bars(in.symbol, history::Frame{K7RTimeframeUnit::Min, 1}, 0.0, 0.0, 1, quoteMs);
    history::Bar bar;
    if (!candle.items.empty())
    {
        bar = candle.items.back();
    }
    else
    {
        bar.bidOpen = bar.bidHigh = bar.bidLow = quote.bid;
        bar.askOpen = bar.askHigh = bar.askLow = quote.ask;
    }

    const std::string id = std::string("Q") + in.offerId + "-" + std::to_string(quoteMs);
    MarketDataMessage m;
    m.quoteId = id;
    m.instrument = std::string(in.symbol);
    m.symbolId = std::atoi(in.offerId);
    m.dateTime = quote.time;
    m.bidOpen = bar.bidOpen;
    m.bidClose = quote.bid;
    m.bidHigh = std::max({bar.bidHigh, bar.bidOpen, quote.bid});
    m.bidLow = std::min({bar.bidLow, bar.bidOpen, quote.bid});
    m.askOpen = bar.askOpen;
    m.askClose = quote.ask;
    m.askHigh = std::max({bar.askHigh, bar.askOpen, quote.ask});
    m.askLow = std::min({bar.askLow, bar.askOpen, quote.ask});
    m.low = std::min(quote.low, m.bidLow);
    m.high = std::max(quote.high, m.bidHigh);
    m.timingInterval = static_cast<int>(CandleMs / 1000);
    m.candleCompleted = false;
    m.marketDataRequestId = requestId;
    m.continuosFlag = 1;  // the demo markets never close
    m.bidId = "B" + id;
    m.bidQuoteCondition = std::string("A");  // open, tradable
    m.bidQuoteType = 1;
    m.askId = "A" + id;
    m.askQuoteCondition = std::string("A");
    m.askQuoteType = 1;
    // The quotes stand until the candle ends.
    const std::int64_t candleEnd = (quoteMs / CandleMs + 1) * CandleMs;
    m.bidExpireDateTime = m.askExpireDateTime = ole::fromUnixMs(candleEnd);
    return m;
}

Level2Quote level2Update(const LiveQuote& quote)
{
    const market::Instrument& in = market::instruments()[static_cast<std::size_t>(quote.instrument)];
    const double tick = std::pow(10.0, -in.digits);
    const double step = std::max(tick, roundTo(in.pointSize / 5.0, in.digits));
    Level2Quote u;
    u.dateTime = quote.time;
    u.symbolId = std::atoi(in.offerId);
    for (int side = 0; side < 2; ++side)
        for (int k = 0; k < Levels; ++k)
        {
            Level2Price p;
            p.bid = side == 0;
            p.ask = side == 1;
            p.rate = roundTo(side == 0 ? quote.bid - k * step : quote.ask + k * step, in.digits);
            p.amount = LevelAmount * (k + 1);
            p.condition = std::string("A");
            p.originator = "LP" + std::to_string(k + 1);
            u.volume += static_cast<int>(p.amount / 1000.0);
            u.prices.push_back(std::move(p));
        }
    // The day's range closes the update; nobody quotes there, so it has no texts.
    Level2Price low, high;
    low.low = true;
    low.rate = quote.low;
    high.high = true;
    high.rate = quote.high;
    u.prices.push_back(std::move(low));
    u.prices.push_back(std::move(high));
    return u;
}

}  // namespace sim::velvix
