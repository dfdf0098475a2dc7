// The reader factory and the readers of the simulated server's responses. Each reader holds the
// contents of its response as they were when it was made; index getters are range-checked and
// give 0, 0.0, false or null outside their range.
#pragma once

#include <memory>

#include "velvix/Velvix.h"

#include "Responses.h"
#include "core/Registry.h"

namespace sim::velvix
{

class SnapshotReader final : public RefCounted<IK7RMarketDataSnapshotResponseReader>
{
public:
    explicit SnapshotReader(std::shared_ptr<const history::Series> series);

    bool isBar() override;
    int size() override;
    double getDate(int index) override;
    double getBid(int index) override;
    double getAsk(int index) override;
    double getBidOpen(int index) override;
    double getBidHigh(int index) override;
    double getBidLow(int index) override;
    double getBidClose(int index) override;
    double getAskOpen(int index) override;
    double getAskHigh(int index) override;
    double getAskLow(int index) override;
    double getAskClose(int index) override;
    int getVolume(int index) override;
    int getLastBarVolume() override;   // 0 when empty
    double getLastBarTime() override;  // 0.0 when empty

private:
    ~SnapshotReader() override = default;
    const history::Bar* at(int index) const;
    std::shared_ptr<const history::Series> series_;
};

// A snapshot of one table's rows (a refresh response's).
class TableReader final : public RefCounted<IK7RGenericTableResponseReader>
{
public:
    TableReader(std::shared_ptr<const TableRows> rows, K7RTable reportedType);

    int size() override;
    IK7RTableColumnCollection* getColumns() override;
    bool isCellValid(int row, int column) override;
    K7RTable getType() override;
    IK7RRow* getRow(int index) override;

private:
    ~TableReader() override = default;
    std::shared_ptr<const TableRows> rows_;
    K7RTable type_;
};

class OrderResponseReader final : public RefCounted<IK7ROrderResponseReader>
{
public:
    OrderResponseReader(Text orderId, bool dealerIntervention);

    const char* getOrderId() override;
    bool isUnderDealerIntervention() override;

private:
    ~OrderResponseReader() override = default;
    Text orderId_;
    bool dealerIntervention_;
};

class TablesUpdatesReader final : public RefCounted<IK7RTablesUpdatesReader>
{
public:
    TablesUpdatesReader(double serverTime, std::vector<TableUpdate> updates);

    double getServerTime() override;
    int size() override;
    K7RTableUpdateType getUpdateType(int index) override;
    K7RTable getUpdateTable(int index) override;
    IK7ROfferRow* getOfferRow(int index) override;
    IK7RAccountRow* getAccountRow(int index) override;
    IK7ROrderRow* getOrderRow(int index) override;
    IK7RTradeRow* getTradeRow(int index) override;
    IK7RClosedTradeRow* getClosedTradeRow(int index) override;
    IK7RMessageRow* getMessageRow(int index) override;

private:
    ~TablesUpdatesReader() override = default;
    template <class Row>
    Row* rowAs(int index, K7RTable table);
    double serverTime_;
    std::vector<TableUpdate> updates_;
};

// Names compare exactly; a null name finds nothing. A property whose value is null is found with
// a null value, as a missing one.
class SystemPropertiesReader final : public RefCounted<IK7RSystemPropertiesReader>
{
public:
    explicit SystemPropertiesReader(std::shared_ptr<const PropertyPairs> properties);

    const char* findProperty(const char* name) override;
    const char* getProperty(int index, const char*& value) override;  // null, value null, outside
    int size() override;

private:
    ~SystemPropertiesReader() override = default;
    std::shared_ptr<const PropertyPairs> properties_;
};

// Every creator gives a reader when the response is ours and of its type, else null; a "null"
// fault on the creator, or the response's own script, makes it null too.
class ResponseReaderFactory final : public RefCounted<IK7RResponseReaderFactory>
{
public:
    ResponseReaderFactory();

    IK7RTablesUpdatesReader* createTablesUpdatesReader(IK7RResponse* response) override;
    IK7RMarketDataSnapshotResponseReader* createMarketDataSnapshotReader(IK7RResponse* response) override;
    IK7RMarketDataResponseReader* createMarketDataReader(IK7RResponse* response) override;
    IK7RLevel2MarketDataUpdatesReader* createLevel2MarketDataReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createOffersTableReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createAccountsTableReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createOrdersTableReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createTradesTableReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createClosedTradesTableReader(IK7RResponse* response) override;
    IK7RGenericTableResponseReader* createMessagesTableReader(IK7RResponse* response) override;
    IK7ROrderResponseReader* createOrderResponseReader(IK7RResponse* response) override;
    IK7RLastOrderUpdateResponseReader* createLastOrderUpdateResponseReader(IK7RResponse* response) override;
    IK7RSystemPropertiesReader* createSystemPropertiesReader(IK7RResponse* response) override;
    bool processMarginRequirementsResponse(IK7RResponse* response) override;

private:
    ~ResponseReaderFactory() override = default;
    IK7RGenericTableResponseReader* tableReader(const char* creator, IK7RResponse* response, K7RResponseType type);
};

}  // namespace sim::velvix
