// Readers of responses and their factory. Readers copy nothing: they share the response's
// immutable pieces (bars, rows) as they were when the reader was made.
#include "Readers.h"

#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr const char* Lib = "velvix";

// The contents of `response` for a creator of readers of `type`; nullopt when it gives null.
std::optional<ResponseContent> readable(const char* op, IK7RResponse* response, K7RResponseType type)
{
    journal(Lib, op, {response ? number(response->getType()) : Value()});
    if (auto fault = takeFault(op); fault && fault->kind == FaultKind::Null)
        return std::nullopt;
    auto* ours = dynamic_cast<Response*>(response);
    if (!ours || ours->type() != static_cast<int>(type))
        return std::nullopt;
    ResponseContent content = ours->content();
    const std::string name = std::string(op).substr(std::string(op).find("::") + 2);
    if (content.nullReaders.count(name))
        return std::nullopt;
    return content;
}

}  // namespace

// --- market data snapshot --------------------------------------------------------------------

SnapshotReader::SnapshotReader(std::shared_ptr<const history::Series> series)
    : RefCounted("IK7RMarketDataSnapshotResponseReader"),
      series_(series ? std::move(series) : std::make_shared<const history::Series>())
{
}

const history::Bar* SnapshotReader::at(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= series_->items.size())
        return nullptr;
    return &series_->items[static_cast<std::size_t>(index)];
}

bool SnapshotReader::isBar() { return series_->isBar; }
int SnapshotReader::size() { return static_cast<int>(series_->items.size()); }

#define SIM_SNAPSHOT_GETTER(name, field)                \
    double SnapshotReader::name(int index)              \
    {                                                   \
        const history::Bar* bar = at(index);            \
        return bar ? bar->field : 0.0;                  \
    }
SIM_SNAPSHOT_GETTER(getDate, date)
SIM_SNAPSHOT_GETTER(getBid, bidClose)
SIM_SNAPSHOT_GETTER(getAsk, askClose)
SIM_SNAPSHOT_GETTER(getBidOpen, bidOpen)
SIM_SNAPSHOT_GETTER(getBidHigh, bidHigh)
SIM_SNAPSHOT_GETTER(getBidLow, bidLow)
SIM_SNAPSHOT_GETTER(getBidClose, bidClose)
SIM_SNAPSHOT_GETTER(getAskOpen, askOpen)
SIM_SNAPSHOT_GETTER(getAskHigh, askHigh)
SIM_SNAPSHOT_GETTER(getAskLow, askLow)
SIM_SNAPSHOT_GETTER(getAskClose, askClose)
#undef SIM_SNAPSHOT_GETTER

int SnapshotReader::getVolume(int index)
{
    const history::Bar* bar = at(index);
    return bar ? bar->volume : 0;
}

int SnapshotReader::getLastBarVolume()
{
    return series_->items.empty() ? 0 : series_->items.back().volume;
}

double SnapshotReader::getLastBarTime()
{
    return series_->items.empty() ? 0.0 : series_->items.back().date;
}

// --- table rows ------------------------------------------------------------------------------

TableReader::TableReader(std::shared_ptr<const TableRows> rows, K7RTable reportedType)
    : RefCounted("IK7RGenericTableResponseReader"),
      rows_(rows ? std::move(rows) : std::make_shared<const TableRows>()),
      type_(reportedType)
{
}

int TableReader::size()
{
    return static_cast<int>(rows_->rows.size());
}

IK7RTableColumnCollection* TableReader::getColumns()
{
    return rows_->columns.share();
}

bool TableReader::isCellValid(int row, int column)
{
    if (row < 0 || row >= size() || column < 0)
        return false;
    return rows_->columns && column < rows_->columns->size();
}

K7RTable TableReader::getType()
{
    return type_;
}

IK7RRow* TableReader::getRow(int index)
{
    if (index < 0 || index >= size())
        return nullptr;
    return rows_->rows[static_cast<std::size_t>(index)].share();
}

// --- order response --------------------------------------------------------------------------

OrderResponseReader::OrderResponseReader(Text orderId, bool dealerIntervention)
    : RefCounted("IK7ROrderResponseReader"), orderId_(std::move(orderId)), dealerIntervention_(dealerIntervention)
{
}

const char* OrderResponseReader::getOrderId()
{
    return orderId_ ? orderId_->c_str() : nullptr;
}

bool OrderResponseReader::isUnderDealerIntervention()
{
    return dealerIntervention_;
}

// --- last order update -----------------------------------------------------------------------

LastOrderUpdateReader::LastOrderUpdateReader(K7RTableUpdateType type, Ref<IK7RRow> order)
    : RefCounted("IK7RLastOrderUpdateResponseReader"), type_(type), order_(std::move(order))
{
}

K7RTableUpdateType LastOrderUpdateReader::getUpdateType() { return type_; }

IK7ROrderRow* LastOrderUpdateReader::getOrder()
{
    return Ref<IK7ROrderRow>::retain(dynamic_cast<IK7ROrderRow*>(order_.get())).detach();
}

// --- market data -----------------------------------------------------------------------------

MarketDataReader::MarketDataReader(std::shared_ptr<const MarketDataMessage> message)
    : RefCounted("IK7RMarketDataResponseReader"),
      m_(message ? std::move(message) : std::make_shared<const MarketDataMessage>())
{
}

namespace
{
const char* cText(const Text& t)
{
    return t ? t->c_str() : nullptr;
}
}  // namespace

const char* MarketDataReader::getQuoteId() { return cText(m_->quoteId); }
const char* MarketDataReader::getInstrument() { return cText(m_->instrument); }
int MarketDataReader::getSymbolId() { return m_->symbolId; }
double MarketDataReader::getDateTime() { return m_->dateTime; }
double MarketDataReader::getAskLow() { return m_->askLow; }
double MarketDataReader::getAskHigh() { return m_->askHigh; }
double MarketDataReader::getAskOpen() { return m_->askOpen; }
double MarketDataReader::getAskClose() { return m_->askClose; }
double MarketDataReader::getBidLow() { return m_->bidLow; }
double MarketDataReader::getBidHigh() { return m_->bidHigh; }
double MarketDataReader::getBidOpen() { return m_->bidOpen; }
double MarketDataReader::getBidClose() { return m_->bidClose; }
double MarketDataReader::getLow() { return m_->low; }
double MarketDataReader::getHigh() { return m_->high; }
int MarketDataReader::getTimingInterval() { return m_->timingInterval; }
bool MarketDataReader::getCandleCompleted() { return m_->candleCompleted; }
const char* MarketDataReader::getMarketDataRequestId() { return cText(m_->marketDataRequestId); }
const char* MarketDataReader::getTradingSessionId() { return cText(m_->tradingSessionId); }
const char* MarketDataReader::getTradingSessionSubId() { return cText(m_->tradingSessionSubId); }
int MarketDataReader::getContinuosFlag() { return m_->continuosFlag; }
const char* MarketDataReader::getBidId() { return cText(m_->bidId); }
const char* MarketDataReader::getBidQuoteCondition() { return cText(m_->bidQuoteCondition); }
int MarketDataReader::getBidQuoteType() { return m_->bidQuoteType; }
double MarketDataReader::getBidExpireDateTime() { return m_->bidExpireDateTime; }
const char* MarketDataReader::getAskId() { return cText(m_->askId); }
const char* MarketDataReader::getAskQuoteCondition() { return cText(m_->askQuoteCondition); }
int MarketDataReader::getAskQuoteType() { return m_->askQuoteType; }
double MarketDataReader::getAskExpireDateTime() { return m_->askExpireDateTime; }

// --- level 2 ---------------------------------------------------------------------------------

Level2Reader::Level2Reader(std::shared_ptr<const std::vector<Level2Quote>> quotes)
    : RefCounted("IK7RLevel2MarketDataUpdatesReader"),
      quotes_(quotes ? std::move(quotes) : std::make_shared<const std::vector<Level2Quote>>())
{
}

const Level2Quote* Level2Reader::quoteAt(const char* op, int quote) const
{
    if (quote >= 0 && static_cast<std::size_t>(quote) < quotes_->size())
        return &(*quotes_)[static_cast<std::size_t>(quote)];
    journal(Lib, op, {number(quote)});
    return nullptr;
}

const Level2Price* Level2Reader::priceAt(const char* op, int quote, int price) const
{
    if (quote >= 0 && static_cast<std::size_t>(quote) < quotes_->size())
    {
        const std::vector<Level2Price>& prices = (*quotes_)[static_cast<std::size_t>(quote)].prices;
        if (price >= 0 && static_cast<std::size_t>(price) < prices.size())
            return &prices[static_cast<std::size_t>(price)];
    }
    journal(Lib, op, {number(quote), number(price)});
    return nullptr;
}

int Level2Reader::getPriceQuotesCount() { return static_cast<int>(quotes_->size()); }

double Level2Reader::getDateTime(int quote)
{
    const Level2Quote* q = quoteAt("IK7RLevel2MarketDataUpdatesReader::getDateTime", quote);
    return q ? q->dateTime : 0.0;
}

int Level2Reader::getSymbolId(int quote)
{
    const Level2Quote* q = quoteAt("IK7RLevel2MarketDataUpdatesReader::getSymbolId", quote);
    return q ? q->symbolId : 0;
}

int Level2Reader::getVolume(int quote)
{
    const Level2Quote* q = quoteAt("IK7RLevel2MarketDataUpdatesReader::getVolume", quote);
    return q ? q->volume : 0;
}

int Level2Reader::getPricesCount(int quote)
{
    const Level2Quote* q = quoteAt("IK7RLevel2MarketDataUpdatesReader::getPricesCount", quote);
    return q ? static_cast<int>(q->prices.size()) : 0;
}

#define SIM_LEVEL2_GETTER(type, name, expr, neutral)                                          \
    type Level2Reader::name(int quote, int price)                                             \
    {                                                                                         \
        const Level2Price* p = priceAt("IK7RLevel2MarketDataUpdatesReader::" #name, quote, price); \
        return p ? (expr) : (neutral);                                                        \
    }
SIM_LEVEL2_GETTER(bool, isBid, p->bid, false)
SIM_LEVEL2_GETTER(bool, isAsk, p->ask, false)
SIM_LEVEL2_GETTER(bool, isLow, p->low, false)
SIM_LEVEL2_GETTER(bool, isHigh, p->high, false)
SIM_LEVEL2_GETTER(double, getRate, p->rate, 0.0)
SIM_LEVEL2_GETTER(double, getAmount, p->amount, 0.0)
SIM_LEVEL2_GETTER(const char*, getCondition, cText(p->condition), nullptr)
SIM_LEVEL2_GETTER(const char*, getOriginator, cText(p->originator), nullptr)
#undef SIM_LEVEL2_GETTER

// --- tables updates --------------------------------------------------------------------------

TablesUpdatesReader::TablesUpdatesReader(double serverTime, std::vector<TableUpdate> updates)
    : RefCounted("IK7RTablesUpdatesReader"), serverTime_(serverTime), updates_(std::move(updates))
{
}

double TablesUpdatesReader::getServerTime() { return serverTime_; }
int TablesUpdatesReader::size() { return static_cast<int>(updates_.size()); }

const TableUpdate* TablesUpdatesReader::at(const char* op, int index) const
{
    if (index >= 0 && static_cast<std::size_t>(index) < updates_.size())
        return &updates_[static_cast<std::size_t>(index)];
    journal(Lib, op, {number(index)});
    return nullptr;
}

K7RTableUpdateType TablesUpdatesReader::getUpdateType(int index)
{
    const TableUpdate* u = at("IK7RTablesUpdatesReader::getUpdateType", index);
    return u ? u->type : K7RTableUpdateType::UpdateUnknown;
}

K7RTable TablesUpdatesReader::getUpdateTable(int index)
{
    const TableUpdate* u = at("IK7RTablesUpdatesReader::getUpdateTable", index);
    return u ? u->table : K7RTable::TableUnknown;
}

template <class Row>
Row* TablesUpdatesReader::rowAs(const char* op, int index, K7RTable table)
{
    const TableUpdate* u = at(op, index);
    if (!u || u->table != table)
        return nullptr;
    Row* row = dynamic_cast<Row*>(u->row.get());
    if (row)
        row->addRef();  // the caller's reference
    return row;
}

IK7ROfferRow* TablesUpdatesReader::getOfferRow(int i)
{
    return rowAs<IK7ROfferRow>("IK7RTablesUpdatesReader::getOfferRow", i, K7RTable::Offers);
}
IK7RAccountRow* TablesUpdatesReader::getAccountRow(int i)
{
    return rowAs<IK7RAccountRow>("IK7RTablesUpdatesReader::getAccountRow", i, K7RTable::Accounts);
}
IK7ROrderRow* TablesUpdatesReader::getOrderRow(int i)
{
    return rowAs<IK7ROrderRow>("IK7RTablesUpdatesReader::getOrderRow", i, K7RTable::Orders);
}
IK7RTradeRow* TablesUpdatesReader::getTradeRow(int i)
{
    return rowAs<IK7RTradeRow>("IK7RTablesUpdatesReader::getTradeRow", i, K7RTable::Trades);
}
IK7RClosedTradeRow* TablesUpdatesReader::getClosedTradeRow(int i)
{
    return rowAs<IK7RClosedTradeRow>("IK7RTablesUpdatesReader::getClosedTradeRow", i, K7RTable::ClosedTrades);
}
IK7RMessageRow* TablesUpdatesReader::getMessageRow(int i)
{
    return rowAs<IK7RMessageRow>("IK7RTablesUpdatesReader::getMessageRow", i, K7RTable::Messages);
}

// --- system properties -----------------------------------------------------------------------

SystemPropertiesReader::SystemPropertiesReader(std::shared_ptr<const PropertyPairs> properties)
    : RefCounted("IK7RSystemPropertiesReader"),
      properties_(properties ? std::move(properties) : std::make_shared<const PropertyPairs>())
{
}

const char* SystemPropertiesReader::findProperty(const char* name)
{
    if (!name)
        return nullptr;
    for (const auto& [n, value] : *properties_)
        if (n && *n == name)
            return value ? value->c_str() : nullptr;
    return nullptr;
}

const char* SystemPropertiesReader::getProperty(int index, const char*& value)
{
    value = nullptr;
    if (index < 0 || index >= size())
        return nullptr;
    const auto& [name, v] = (*properties_)[static_cast<std::size_t>(index)];
    value = v ? v->c_str() : nullptr;
    return name ? name->c_str() : nullptr;
}

int SystemPropertiesReader::size()
{
    return static_cast<int>(properties_->size());
}

// --- the factory -----------------------------------------------------------------------------

ResponseReaderFactory::ResponseReaderFactory() : RefCounted("IK7RResponseReaderFactory") {}

IK7RTablesUpdatesReader* ResponseReaderFactory::createTablesUpdatesReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createTablesUpdatesReader", response, K7RResponseType::TablesUpdates);
    return c ? make<TablesUpdatesReader>(c->serverTime, std::move(c->updates)).detach() : nullptr;
}

IK7RMarketDataSnapshotResponseReader* ResponseReaderFactory::createMarketDataSnapshotReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createMarketDataSnapshotReader", response,
                      K7RResponseType::MarketDataSnapshot);
    return c ? make<SnapshotReader>(c->snapshot).detach() : nullptr;
}

IK7RMarketDataResponseReader* ResponseReaderFactory::createMarketDataReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createMarketDataReader", response, K7RResponseType::MarketData);
    return c ? make<MarketDataReader>(c->marketData).detach() : nullptr;
}

IK7RLevel2MarketDataUpdatesReader* ResponseReaderFactory::createLevel2MarketDataReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createLevel2MarketDataReader", response,
                      K7RResponseType::Level2MarketData);
    return c ? make<Level2Reader>(c->level2).detach() : nullptr;
}

IK7RGenericTableResponseReader* ResponseReaderFactory::tableReader(const char* op, IK7RResponse* response,
                                                                   K7RResponseType type)
{
    auto c = readable(op, response, type);
    if (!c)
        return nullptr;
    K7RTable reported = c->table ? c->table->type : K7RTable::TableUnknown;
    if (c->tableReaderType)
        reported = static_cast<K7RTable>(*c->tableReaderType);
    return make<TableReader>(c->table, reported).detach();
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createOffersTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createOffersTableReader", r, K7RResponseType::GetOffers);
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createAccountsTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createAccountsTableReader", r, K7RResponseType::GetAccounts);
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createOrdersTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createOrdersTableReader", r, K7RResponseType::GetOrders);
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createTradesTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createTradesTableReader", r, K7RResponseType::GetTrades);
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createClosedTradesTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createClosedTradesTableReader", r,
                       K7RResponseType::GetClosedTrades);
}

IK7RGenericTableResponseReader* ResponseReaderFactory::createMessagesTableReader(IK7RResponse* r)
{
    return tableReader("IK7RResponseReaderFactory::createMessagesTableReader", r, K7RResponseType::GetMessages);
}

IK7ROrderResponseReader* ResponseReaderFactory::createOrderResponseReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createOrderResponseReader", response,
                      K7RResponseType::CreateOrderResponse);
    return c ? make<OrderResponseReader>(c->orderId, c->dealerIntervention).detach() : nullptr;
}

IK7RLastOrderUpdateResponseReader* ResponseReaderFactory::createLastOrderUpdateResponseReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createLastOrderUpdateResponseReader", response,
                      K7RResponseType::GetLastOrderUpdate);
    return c ? make<LastOrderUpdateReader>(c->lastOrderUpdate.type, c->lastOrderUpdate.row).detach() : nullptr;
}

IK7RSystemPropertiesReader* ResponseReaderFactory::createSystemPropertiesReader(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::createSystemPropertiesReader", response,
                      K7RResponseType::GetSystemProperties);
    return c ? make<SystemPropertiesReader>(c->properties).detach() : nullptr;
}

bool ResponseReaderFactory::processMarginRequirementsResponse(IK7RResponse* response)
{
    auto c = readable("IK7RResponseReaderFactory::processMarginRequirementsResponse", response,
                      K7RResponseType::MarginRequirementsResponse);
    return c && c->marginResult;
}

}  // namespace sim::velvix
