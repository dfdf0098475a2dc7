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

// --- tables updates --------------------------------------------------------------------------

TablesUpdatesReader::TablesUpdatesReader(double serverTime, std::vector<TableUpdate> updates)
    : RefCounted("IK7RTablesUpdatesReader"), serverTime_(serverTime), updates_(std::move(updates))
{
}

double TablesUpdatesReader::getServerTime() { return serverTime_; }
int TablesUpdatesReader::size() { return static_cast<int>(updates_.size()); }

K7RTableUpdateType TablesUpdatesReader::getUpdateType(int index)
{
    if (index < 0 || index >= size())
        return K7RTableUpdateType::UpdateUnknown;
    return updates_[static_cast<std::size_t>(index)].type;
}

K7RTable TablesUpdatesReader::getUpdateTable(int index)
{
    if (index < 0 || index >= size())
        return K7RTable::TableUnknown;
    return updates_[static_cast<std::size_t>(index)].table;
}

template <class Row>
Row* TablesUpdatesReader::rowAs(int index, K7RTable table)
{
    if (index < 0 || index >= size())
        return nullptr;
    const TableUpdate& u = updates_[static_cast<std::size_t>(index)];
    if (u.table != table)
        return nullptr;
    return Ref<Row>::retain(dynamic_cast<Row*>(u.row.get())).detach();
}

IK7ROfferRow* TablesUpdatesReader::getOfferRow(int i) { return rowAs<IK7ROfferRow>(i, K7RTable::Offers); }
IK7RAccountRow* TablesUpdatesReader::getAccountRow(int i) { return rowAs<IK7RAccountRow>(i, K7RTable::Accounts); }
IK7ROrderRow* TablesUpdatesReader::getOrderRow(int i) { return rowAs<IK7ROrderRow>(i, K7RTable::Orders); }
IK7RTradeRow* TablesUpdatesReader::getTradeRow(int i) { return rowAs<IK7RTradeRow>(i, K7RTable::Trades); }
IK7RClosedTradeRow* TablesUpdatesReader::getClosedTradeRow(int i)
{
    return rowAs<IK7RClosedTradeRow>(i, K7RTable::ClosedTrades);
}
IK7RMessageRow* TablesUpdatesReader::getMessageRow(int i) { return rowAs<IK7RMessageRow>(i, K7RTable::Messages); }

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

// Market data and level-2 responses are not produced by this server yet.
IK7RMarketDataResponseReader* ResponseReaderFactory::createMarketDataReader(IK7RResponse* response)
{
    readable("IK7RResponseReaderFactory::createMarketDataReader", response, K7RResponseType::MarketData);
    return nullptr;
}

IK7RLevel2MarketDataUpdatesReader* ResponseReaderFactory::createLevel2MarketDataReader(IK7RResponse* response)
{
    readable("IK7RResponseReaderFactory::createLevel2MarketDataReader", response, K7RResponseType::Level2MarketData);
    return nullptr;
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
    readable("IK7RResponseReaderFactory::createLastOrderUpdateResponseReader", response,
             K7RResponseType::GetLastOrderUpdate);
    return nullptr;
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
