// The exported constructors and destructors of the trading library's interfaces. Defining them
// here, out of line, gives every interface one home for its vtable and type information, so that
// dynamic casts agree across the library, the module and the control extension.
#include "velvix/Velvix.h"

IAddRef::~IAddRef() = default;
IAddRef::IAddRef() = default;
IK7RTableColumn::~IK7RTableColumn() = default;
IK7RTableColumnCollection::~IK7RTableColumnCollection() = default;
IK7RRow::~IK7RRow() = default;
IK7ROfferRow::~IK7ROfferRow() = default;
IK7ROfferTableRow::~IK7ROfferTableRow() = default;
IK7RAccountRow::~IK7RAccountRow() = default;
IK7RAccountTableRow::~IK7RAccountTableRow() = default;
IK7ROrderRow::~IK7ROrderRow() = default;
IK7ROrderTableRow::~IK7ROrderTableRow() = default;
IK7RTradeRow::~IK7RTradeRow() = default;
IK7RTradeTableRow::~IK7RTradeTableRow() = default;
IK7RClosedTradeRow::~IK7RClosedTradeRow() = default;
IK7RClosedTradeTableRow::~IK7RClosedTradeTableRow() = default;
IK7RMessageRow::~IK7RMessageRow() = default;
IK7RMessageTableRow::~IK7RMessageTableRow() = default;
IK7RSummaryRow::~IK7RSummaryRow() = default;
IK7RSummaryTableRow::~IK7RSummaryTableRow() = default;
IK7RGenericTableResponseReader::~IK7RGenericTableResponseReader() = default;
IK7RTableListener::~IK7RTableListener() = default;
IK7REachRowListener::~IK7REachRowListener() = default;
IK7RAllEventQueueItem::~IK7RAllEventQueueItem() = default;
IK7RAllEventQueueListener::~IK7RAllEventQueueListener() = default;
IK7RUpdateEventQueueListener::~IK7RUpdateEventQueueListener() = default;
IK7RAllEventQueue::~IK7RAllEventQueue() = default;
IK7RUpdateEventQueue::~IK7RUpdateEventQueue() = default;
IK7RTable::~IK7RTable() = default;
IK7RUpdatesProcessStatusListener::~IK7RUpdatesProcessStatusListener() = default;
IK7RTableManager::~IK7RTableManager() = default;
IK7RTableManagerListener::~IK7RTableManagerListener() = default;
IK7RTableManagerListener::IK7RTableManagerListener() = default;
IK7RTimeframe::~IK7RTimeframe() = default;
IK7RTimeframeCollection::~IK7RTimeframeCollection() = default;
IK7RRequest::~IK7RRequest() = default;
IK7RValueMap::~IK7RValueMap() = default;
IK7RRequestFactory::~IK7RRequestFactory() = default;
IK7RResponse::~IK7RResponse() = default;
IK7RTablesUpdatesReader::~IK7RTablesUpdatesReader() = default;
IK7RMarketDataSnapshotResponseReader::~IK7RMarketDataSnapshotResponseReader() = default;
IK7RMarketDataResponseReader::~IK7RMarketDataResponseReader() = default;
IK7RLevel2MarketDataUpdatesReader::~IK7RLevel2MarketDataUpdatesReader() = default;
IK7ROrderResponseReader::~IK7ROrderResponseReader() = default;
IK7RLastOrderUpdateResponseReader::~IK7RLastOrderUpdateResponseReader() = default;
IK7RSystemPropertiesReader::~IK7RSystemPropertiesReader() = default;
IK7RResponseReaderFactory::~IK7RResponseReaderFactory() = default;
IK7RResponseListener::~IK7RResponseListener() = default;
IK7RTimeframeCollection::IK7RTimeframeCollection() = default;
IK7RResponseListener::IK7RResponseListener() = default;
IK7RSessionStatus::~IK7RSessionStatus() = default;
IK7RChartSessionStatus::~IK7RChartSessionStatus() = default;
IK7RSystemPropertiesListener::~IK7RSystemPropertiesListener() = default;
IK7RSessionDescriptor::~IK7RSessionDescriptor() = default;
IK7RSessionDescriptorCollection::~IK7RSessionDescriptorCollection() = default;
IK7RPermissionChecker::~IK7RPermissionChecker() = default;
IK7RTradingSettingsProvider::~IK7RTradingSettingsProvider() = default;
IK7RLoginRules::~IK7RLoginRules() = default;
IK7RCommissionDescription::~IK7RCommissionDescription() = default;
IK7RCommissionDescriptionsCollection::~IK7RCommissionDescriptionsCollection() = default;
IK7RCommissionProviderListener::~IK7RCommissionProviderListener() = default;
IK7RCommissionsProvider::~IK7RCommissionsProvider() = default;
IK7RRolloverProviderListener::~IK7RRolloverProviderListener() = default;
IK7RRolloverProvider::~IK7RRolloverProvider() = default;
IK7RTimeConverter::~IK7RTimeConverter() = default;
IK7RSession::~IK7RSession() = default;
IK7RSessionStatus::IK7RSessionStatus() = default;
IK7RChartSessionStatus::IK7RChartSessionStatus() = default;
IK7RSystemPropertiesListener::IK7RSystemPropertiesListener() = default;

IK7RTableIterator::IK7RTableIterator() : m_position(-1), m_stamp(0) {}
IK7RTableIterator::IK7RTableIterator(const IK7RTableIterator& other) = default;
IK7RTableIterator::~IK7RTableIterator() = default;
IK7RTableIterator& IK7RTableIterator::operator=(const IK7RTableIterator& other) = default;

bool IK7RTableIterator::operator==(const IK7RTableIterator& other) const
{
    return m_position == other.m_position && m_stamp == other.m_stamp;
}
