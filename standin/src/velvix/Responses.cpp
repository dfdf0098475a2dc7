// Responses: immutable type and request id, contents under the response's own lock.
#include "Responses.h"

namespace sim::velvix
{

Response::Response(int type, Text requestId, ResponseContent content)
    : RefCounted("IK7RResponse"), type_(type), requestId_(std::move(requestId)), content_(std::move(content))
{
}

K7RResponseType Response::getType()
{
    return static_cast<K7RResponseType>(type_);
}

const char* Response::getRequestId()
{
    return requestId_ ? requestId_->c_str() : nullptr;
}

ResponseContent Response::content() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return content_;
}

K7RResponseType refreshResponseType(K7RTable table)
{
    switch (table)
    {
    case K7RTable::Offers: return K7RResponseType::GetOffers;
    case K7RTable::Accounts: return K7RResponseType::GetAccounts;
    case K7RTable::Orders: return K7RResponseType::GetOrders;
    case K7RTable::Trades: return K7RResponseType::GetTrades;
    case K7RTable::ClosedTrades: return K7RResponseType::GetClosedTrades;
    case K7RTable::Messages: return K7RResponseType::GetMessages;
    default: return K7RResponseType::ResponseUnknown;
    }
}

}  // namespace sim::velvix
