// The market data the server sends for one offer when a session subscribes to it: a MARKET_DATA
// message (the live quote with its running one-minute candle) and a LEVEL2_MARKET_DATA update (a
// book of several levels on each side around the live quote, best first). Both follow the offer's
// live price: the offers table's Bid, Ask, High, Low and Time when the session has tables, else
// the market's quote of the moment.
#pragma once

#include <cstdint>
#include <string>

#include "Responses.h"
#include "TableManager.h"

namespace sim::velvix
{

struct LiveQuote
{
    int instrument = 0;  // index into market::instruments()
    double time = 0.0;   // OLE date of the quote
    double bid = 0.0, ask = 0.0;
    double low = 0.0, high = 0.0;  // the day's bid range, the quote inside it
};

// The offer's live quote; false for an offer the server does not quote.
bool liveQuote(const Ref<TableManager>& manager, const std::string& offerId, std::int64_t nowMs, LiveQuote& out);

MarketDataMessage marketDataMessage(const LiveQuote& quote, const std::string& requestId);
Level2Quote level2Update(const LiveQuote& quote);

}  // namespace sim::velvix
