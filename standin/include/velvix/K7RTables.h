// Velvix trading library: rows and their columns, tables, table iterators, event queues, the
// table manager, and the listener interfaces the caller implements for them.
#pragma once

#include "velvix/K7RBase.h"
#include "velvix/K7REnums.h"

class IK7RTableManager;

class VELVIX_API IK7RTableColumn : public IAddRef
{
public:
    enum K7RTableColumnType : int
    {
        Integer = 0,
        Double = 1,
        String = 2,
        Date = 3,
        Boolean = 4
    };
    virtual const char* getId() = 0;
    virtual K7RTableColumnType getType() = 0;
    virtual bool getIsKey() = 0;
    ~IK7RTableColumn() override;
};

class VELVIX_API IK7RTableColumnCollection : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IK7RTableColumn* get(int index) = 0;          // add-referenced
    virtual IK7RTableColumn* find(const char* id) = 0;    // exact match; add-referenced or null
    virtual IK7RTableColumn* getKeyColumn() = 0;          // add-referenced or null
    ~IK7RTableColumnCollection() override;
};

// A cell pointer is laid out by its column's type: int32, double, the text itself (null for no
// text), an OLE date double, or one byte for a boolean.
class VELVIX_API IK7RRow : public IAddRef
{
public:
    virtual const void* getCell(int column) = 0;
    virtual bool isCellChanged(int column) = 0;
    virtual IK7RTableColumnCollection* getColumns() = 0;  // add-referenced, may be null
    virtual K7RTable getTableType() = 0;
    ~IK7RRow() override;
};

class VELVIX_API IK7ROfferRow : public IK7RRow
{
public:
    virtual const char* getOfferID() = 0;
    virtual const char* getInstrument() = 0;
    virtual double getBid() = 0;
    virtual double getAsk() = 0;
    virtual int getDigits() = 0;
    virtual double getPointSize() = 0;
    virtual bool getIsOfferIdValid() = 0;
    virtual bool getIsInstrumentValid() = 0;
    virtual bool getIsQuoteIdValid() = 0;
    virtual bool getIsBidValid() = 0;
    virtual bool getIsAskValid() = 0;
    virtual bool getIsLowValid() = 0;
    virtual bool getIsHighValid() = 0;
    virtual bool getIsVolumeValid() = 0;
    virtual bool getIsTimeValid() = 0;
    virtual bool getIsBidTradableValid() = 0;
    virtual bool getIsAskTradableValid() = 0;
    virtual bool getIsSellInterestValid() = 0;
    virtual bool getIsBuyInterestValid() = 0;
    virtual bool getIsContractCurrencyValid() = 0;
    virtual bool getIsDigitsValid() = 0;
    virtual bool getIsPointSizeValid() = 0;
    virtual bool getIsSubscriptionStatusValid() = 0;
    virtual bool getIsInstrumentTypeValid() = 0;
    virtual bool getIsContractMultiplierValid() = 0;
    virtual bool getIsTradingStatusValid() = 0;
    virtual bool getIsValueDateValid() = 0;
    virtual bool getIsBidIdValid() = 0;
    virtual bool getIsAskIdValid() = 0;
    virtual bool getIsBidExpireDateValid() = 0;
    virtual bool getIsAskExpireDateValid() = 0;
    virtual bool getIsDividendSellValid() = 0;
    virtual bool getIsDividendBuyValid() = 0;
    ~IK7ROfferRow() override;
};

class VELVIX_API IK7ROfferTableRow : public IK7ROfferRow
{
public:
    virtual double getPipCost() = 0;
    virtual bool getIsBidChangeDirectionValid() = 0;
    virtual bool getIsAskChangeDirectionValid() = 0;
    virtual bool getIsHiChangeDirectionValid() = 0;
    virtual bool getIsLowChangeDirectionValid() = 0;
    virtual bool getIsDefaultSortOrderValid() = 0;
    virtual bool getIsFractionalPipSizeValid() = 0;
    ~IK7ROfferTableRow() override;
};

class VELVIX_API IK7RAccountRow : public IK7RRow
{
public:
    virtual const char* getAccountID() = 0;
    virtual double getBalance() = 0;
    ~IK7RAccountRow() override;
};

class VELVIX_API IK7RAccountTableRow : public IK7RAccountRow
{
public:
    virtual double getEquity() = 0;
    virtual double getUsedMargin() = 0;
    ~IK7RAccountTableRow() override;
};

class VELVIX_API IK7ROrderRow : public IK7RRow
{
public:
    virtual const char* getOrderID() = 0;
    virtual const char* getOfferID() = 0;
    virtual int getAmount() = 0;
    ~IK7ROrderRow() override;
};

class VELVIX_API IK7ROrderTableRow : public IK7ROrderRow
{
public:
    virtual double getStop() = 0;
    virtual double getLimit() = 0;
    ~IK7ROrderTableRow() override;
};

class VELVIX_API IK7RTradeRow : public IK7RRow
{
public:
    virtual const char* getTradeID() = 0;
    virtual const char* getOfferID() = 0;
    virtual int getAmount() = 0;
    virtual double getOpenRate() = 0;
    ~IK7RTradeRow() override;
};

class VELVIX_API IK7RTradeTableRow : public IK7RTradeRow
{
public:
    virtual double getPL() = 0;
    virtual double getClose() = 0;
    ~IK7RTradeTableRow() override;
};

class VELVIX_API IK7RClosedTradeRow : public IK7RRow
{
public:
    virtual const char* getTradeID() = 0;
    virtual double getCloseRate() = 0;
    ~IK7RClosedTradeRow() override;
};

class VELVIX_API IK7RClosedTradeTableRow : public IK7RClosedTradeRow
{
public:
    virtual double getNetPL() = 0;
    ~IK7RClosedTradeTableRow() override;
};

class VELVIX_API IK7RMessageRow : public IK7RRow
{
public:
    virtual const char* getMsgID() = 0;
    virtual const char* getText() = 0;
    ~IK7RMessageRow() override;
};

class VELVIX_API IK7RMessageTableRow : public IK7RMessageRow
{
public:
    ~IK7RMessageTableRow() override;
};

class VELVIX_API IK7RSummaryRow : public IK7RRow
{
public:
    virtual const char* getOfferID() = 0;
    virtual double getAmount() = 0;
    ~IK7RSummaryRow() override;
};

class VELVIX_API IK7RSummaryTableRow : public IK7RSummaryRow
{
public:
    ~IK7RSummaryTableRow() override;
};

// The rows of a table or of a table response.
class VELVIX_API IK7RGenericTableResponseReader : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IK7RTableColumnCollection* getColumns() = 0;  // add-referenced or null
    virtual bool isCellValid(int row, int column) = 0;
    virtual K7RTable getType() = 0;
    virtual IK7RRow* getRow(int index) = 0;              // add-referenced or null
    ~IK7RGenericTableResponseReader() override;
};

class K7RTableIteratorAccess;

// A search position in a table: a plain value, copied freely by callers.
class VELVIX_API IK7RTableIterator
{
public:
    IK7RTableIterator();
    IK7RTableIterator(const IK7RTableIterator& other);
    ~IK7RTableIterator();
    IK7RTableIterator& operator=(const IK7RTableIterator& other);
    bool operator==(const IK7RTableIterator& other) const;

private:
    friend class K7RTableIteratorAccess;  // the library's own reading of the position
    std::int64_t m_position;
    std::uint64_t m_stamp;
};

class VELVIX_API IK7RTableListener : public IAddRef
{
public:
    virtual void onAdded(const char* rowID, IK7RRow* row) = 0;
    virtual void onChanged(const char* rowID, IK7RRow* row) = 0;
    virtual void onDeleted(const char* rowID, IK7RRow* row) = 0;
    virtual void onStatusChanged(K7RTableStatus status) = 0;
    ~IK7RTableListener() override;
};

class VELVIX_API IK7REachRowListener : public IAddRef
{
public:
    virtual void onEachRow(const char* rowID, IK7RRow* row) = 0;
    ~IK7REachRowListener() override;
};

class VELVIX_API IK7RAllEventQueueItem : public IAddRef
{
public:
    virtual IK7RRow* getRow() = 0;  // add-referenced or null
    virtual K7RTableUpdateType getEventType() = 0;
    virtual K7RUpdatesProcessStatus getProcessStatus() = 0;
    ~IK7RAllEventQueueItem() override;
};

class VELVIX_API IK7RAllEventQueueListener : public IAddRef
{
public:
    virtual void onPutInQueue(IK7RAllEventQueueItem* item) = 0;
    ~IK7RAllEventQueueListener() override;
};

class VELVIX_API IK7RUpdateEventQueueListener : public IAddRef
{
public:
    virtual void onPutInQueue(IK7RRow* row) = 0;
    ~IK7RUpdateEventQueueListener() override;
};

// Queues are not reference counted: a queue is lent by its owner until it is given back.
class VELVIX_API IK7RAllEventQueue
{
public:
    virtual bool isEmpty() = 0;
    virtual void deleteAllEvents() = 0;
    virtual bool tryGet(IK7RAllEventQueueItem*& item) = 0;
    virtual void waitGet(IK7RAllEventQueueItem*& item) = 0;
    virtual int size() = 0;
    virtual bool timedWaitGet(IK7RAllEventQueueItem*& item, unsigned int milliseconds) = 0;
    virtual void subscribeOnPutInQueue(IK7RAllEventQueueListener* listener) = 0;
    virtual void unsubscribeOnPutInQueue(IK7RAllEventQueueListener* listener) = 0;
    virtual K7RTable getBelongTableType() = 0;
    virtual K7RTableUpdateType getEventsType() = 0;

protected:
    virtual ~IK7RAllEventQueue();
};

class VELVIX_API IK7RUpdateEventQueue
{
public:
    virtual bool isEmpty() = 0;
    virtual void deleteAllEvents() = 0;
    virtual bool tryGet(IK7RRow*& row) = 0;
    virtual void waitGet(IK7RRow*& row) = 0;
    virtual int size() = 0;
    virtual bool timedWaitGet(IK7RRow*& row, unsigned int milliseconds) = 0;
    virtual void subscribeOnPutInQueue(IK7RUpdateEventQueueListener* listener) = 0;
    virtual void unsubscribeOnPutInQueue(IK7RUpdateEventQueueListener* listener) = 0;
    virtual K7RTable getBelongTableType() = 0;
    virtual K7RTableUpdateType getEventsType() = 0;

protected:
    virtual ~IK7RUpdateEventQueue();
};

// A table is also the reader of its own rows.
class VELVIX_API IK7RTable : public IK7RGenericTableResponseReader
{
public:
    virtual void subscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener) = 0;
    virtual void unsubscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener) = 0;
    virtual void subscribeStatus(IK7RTableListener* listener) = 0;
    virtual void unsubscribeStatus(IK7RTableListener* listener) = 0;
    virtual K7RTableStatus getStatus() = 0;
    virtual void forEachRow(IK7REachRowListener* listener) = 0;  // on the calling thread
    virtual bool isCellChanged(int row, int column) = 0;
    // Each search stores an add-referenced row in `row` and advances `iterator` when it finds one.
    virtual bool getNextGenericRowByColumnValue(const char* columnID, const void* value,
                                                IK7RTableIterator& iterator, IK7RRow*& row) = 0;
    virtual bool getNextGenericRowByMultiColumnValues(int count, const char** columnIDs,
                                                      const K7RRelationalOperators* operators,
                                                      const void** values, K7RLogicOperators logic,
                                                      IK7RTableIterator& iterator, IK7RRow*& row) = 0;
    virtual bool getNextGenericRowByColumnValues(const char* columnID, K7RRelationalOperators op,
                                                 int count, const void** values,
                                                 IK7RTableIterator& iterator, IK7RRow*& row) = 0;
    virtual bool getNextGenericRowByCondition(const char* columnID, K7RRelationalOperators op,
                                              const void** values, IK7RTableIterator& iterator,
                                              IK7RRow*& row) = 0;
    virtual IK7RUpdateEventQueue* getUpdateEventQueue(K7RTableUpdateType updateType, bool flag) = 0;
    virtual void returnUpdateEventQueue(IK7RUpdateEventQueue* queue) = 0;
    virtual IK7RAllEventQueue* getAllEventQueue(bool flag) = 0;
    virtual void returnAllEventQueue(IK7RAllEventQueue* queue) = 0;
    virtual K7RTableEventsFilter getTableEventsFilter() = 0;
    virtual void setTableEventsFilter(K7RTableEventsFilter filter) = 0;
    ~IK7RTable() override;
};

class VELVIX_API IK7RUpdatesProcessStatusListener : public IAddRef
{
public:
    virtual void onUpdatesProcessStatusChanged(K7RUpdatesProcessStatus status) = 0;
    virtual void onUpdatesProcessFailed(const char* reason) = 0;
    ~IK7RUpdatesProcessStatusListener() override;
};

class VELVIX_API IK7RTableManager : public IAddRef
{
public:
    virtual IK7RTable* getTable(K7RTable table) = 0;  // borrowed: the manager owns its tables
    virtual K7RTableManagerStatus getStatus() = 0;
    virtual void lockUpdates() = 0;
    virtual void unlockUpdates() = 0;
    virtual void subscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener) = 0;
    virtual void unsubscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener) = 0;
    virtual IK7RAllEventQueue* getTablesUpdateEventQueue() = 0;
    virtual void returnTablesUpdateEventQueue(IK7RAllEventQueue* queue) = 0;
    ~IK7RTableManager() override;
};

class VELVIX_API IK7RTableManagerListener : public IAddRef
{
public:
    virtual void onStatusChanged(K7RTableManagerStatus status, IK7RTableManager* manager) = 0;
    ~IK7RTableManagerListener() override;

protected:
    IK7RTableManagerListener();
};
