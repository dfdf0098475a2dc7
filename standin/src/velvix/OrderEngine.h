// The simulated server's dealing desk: orders from value maps become rows of the orders table of
// the account the server keeps for the session's user, fill at the published prices into trades
// and move the account; the price feed publishes the market's prices and sends them to every
// table manager; table refreshes read the session's tables. Everything here runs on the dispatcher
// thread, but for the feed's start and restart.
#pragma once

#include <string>

#include "Requests.h"
#include "Responses.h"

namespace sim::velvix
{

class Session;

// Validates an order request and answers it: failed with a readable reason, or completed with a
// CREATE_ORDER_RESPONSE, the table changes following.
void answerOrder(Session& session, const Ref<Request>& request);

// Plain copies of the rows of one of the session's tables (of one account when `account` is
// given); false with the reason when the server cannot give them.
bool tableRows(Session& session, K7RTable table, const Text& account, TableRows& out, std::string& error);

// The price feed, while ticks are on: every tick interval each offer's price follows the market's
// path. Starts unless it runs (at each login); a restart takes new tick settings.
void startPriceFeed();
void restartPriceFeed();
// A price the server publishes for the offer, as a tick would (dispatcher thread); false for an
// offer the server does not quote.
bool movePrice(const std::string& offerId, double bid, double ask);

}  // namespace sim::velvix
