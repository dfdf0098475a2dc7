// The simulated server's dealing desk: orders from value maps become rows of the orders table,
// fill at the market's price into trades, and move the account; table refreshes read the
// session's tables. Everything here runs on the dispatcher thread.
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

}  // namespace sim::velvix
