// Responses of the simulated server: a type, the request id they answer, and what the readers
// read from them (bars, table rows, an order id, table updates). The control face may craft one of
// any type and change its contents until a reader is made; a reader reads the contents of that
// moment and keeps them.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "velvix/Velvix.h"

#include "History.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

// The rows of one table as a response carries them.
struct TableRows
{
    K7RTable type = K7RTable::TableUnknown;
    Ref<IK7RTableColumnCollection> columns;
    std::vector<Ref<IK7RRow>> rows;
};

struct TableUpdate
{
    K7RTableUpdateType type = K7RTableUpdateType::UpdateUnknown;
    K7RTable table = K7RTable::TableUnknown;
    Ref<IK7RRow> row;
};

// One market data message: a quote of one instrument with its running candle.
struct MarketDataMessage
{
    Text quoteId, instrument;
    int symbolId = 0;
    double dateTime = 0.0;
    double askLow = 0.0, askHigh = 0.0, askOpen = 0.0, askClose = 0.0;
    double bidLow = 0.0, bidHigh = 0.0, bidOpen = 0.0, bidClose = 0.0;
    double low = 0.0, high = 0.0;
    int timingInterval = 0;
    bool candleCompleted = false;
    Text marketDataRequestId, tradingSessionId, tradingSessionSubId;
    int continuosFlag = 0;
    Text bidId, bidQuoteCondition;
    int bidQuoteType = 0;
    double bidExpireDateTime = 0.0;
    Text askId, askQuoteCondition;
    int askQuoteType = 0;
    double askExpireDateTime = 0.0;
};

// One price of a level-2 update, and the update.
struct Level2Price
{
    bool bid = false, ask = false, low = false, high = false;
    double rate = 0.0, amount = 0.0;
    Text condition, originator;
};

struct Level2Quote
{
    double dateTime = 0.0;
    int symbolId = 0;
    int volume = 0;
    std::vector<Level2Price> prices;
};

// System properties as a response carries them: (name, value), either may be null.
using PropertyPairs = std::vector<std::pair<Text, Text>>;

struct ResponseContent
{
    std::shared_ptr<const history::Series> snapshot;
    std::shared_ptr<const TableRows> table;
    std::optional<int> tableReaderType;  // a table reader reporting another type than the rows'
    Text orderId;
    bool dealerIntervention = false;
    bool marginResult = false;
    double serverTime = 0.0;
    std::vector<TableUpdate> updates;
    std::shared_ptr<const PropertyPairs> properties;
    std::shared_ptr<const MarketDataMessage> marketData;
    std::shared_ptr<const std::vector<Level2Quote>> level2;
    TableUpdate lastOrderUpdate;  // the update type and the order row (null for none)
    std::set<std::string> nullReaders;   // creator names that give null for this response
};

class Response final : public RefCounted<IK7RResponse>
{
public:
    Response(int type, Text requestId, ResponseContent content = {});

    K7RResponseType getType() override;  // any int, as crafted
    const char* getRequestId() override;

    int type() const { return type_; }
    const Text& requestId() const { return requestId_; }
    ResponseContent content() const;
    template <class F>
    void change(F&& f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f(content_);
    }

private:
    ~Response() override = default;

    const int type_;
    const Text requestId_;
    mutable std::mutex mutex_;
    ResponseContent content_;
};

// The response type that answers a refresh of `table`; RESPONSE_UNKNOWN for the summary and for
// types outside the tables.
K7RResponseType refreshResponseType(K7RTable table);

}  // namespace sim::velvix
