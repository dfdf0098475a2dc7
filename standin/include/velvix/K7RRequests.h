// Velvix trading library: timeframes, value maps, requests and their factory, responses, the
// reader factory with its readers, and the response listener the caller implements.
#pragma once

#include "velvix/K7RBase.h"
#include "velvix/K7REnums.h"
#include "velvix/K7RTables.h"

class VELVIX_API IK7RTimeframe : public IAddRef
{
public:
    virtual const char* getId() = 0;
    virtual K7RTimeframeUnit getUnit() = 0;
    virtual int getQueryDepth() = 0;
    virtual int getSize() = 0;
    ~IK7RTimeframe() override;
};

// Callers may implement it too: its constructor and destructor are exported.
class VELVIX_API IK7RTimeframeCollection : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IK7RTimeframe* getById(const char* id) = 0;  // add-referenced or null
    virtual IK7RTimeframe* get(int index) = 0;           // add-referenced or null
    ~IK7RTimeframeCollection() override;

protected:
    IK7RTimeframeCollection();
};

class VELVIX_API IK7RRequest : public IAddRef
{
public:
    virtual const char* getRequestId() = 0;
    virtual int getChildrenCount() = 0;
    virtual IK7RRequest* getChildRequest(int index) = 0;  // add-referenced or null
    ~IK7RRequest() override;
};

class VELVIX_API IK7RValueMap : public IAddRef
{
public:
    virtual void setString(K7RRequestParamsEnum param, const char* value) = 0;
    virtual void setDouble(K7RRequestParamsEnum param, double value) = 0;
    virtual void setInt(K7RRequestParamsEnum param, int value) = 0;
    virtual void setBoolean(K7RRequestParamsEnum param, bool value) = 0;
    virtual IK7RValueMap* clone() = 0;                    // add-referenced
    virtual void clear() = 0;
    virtual int getChildrenCount() = 0;
    virtual IK7RValueMap* getChild(int index) = 0;        // add-referenced or null
    virtual void appendChild(IK7RValueMap* child) = 0;    // the map keeps its own reference
    ~IK7RValueMap() override;
};

// Every creator gives an add-referenced object or null; getLastError then tells why.
class VELVIX_API IK7RRequestFactory : public IAddRef
{
public:
    virtual IK7RTimeframeCollection* getTimeframeCollection() = 0;
    virtual IK7RRequest* createMarketDataSnapshotRequestInstrument(const char* instrument,
                                                                   IK7RTimeframe* timeframe,
                                                                   int maxBars) = 0;
    virtual bool fillMarketDataSnapshotRequestTime(IK7RRequest* request, double timeFrom, double timeTo,
                                                   bool isIncludeWeekends,
                                                   K7RCandleOpenPriceMode candleOpenPriceMode) = 0;
    virtual IK7RRequest* createConfirmationMailRequest(IK7RMessageRow* message) = 0;
    virtual IK7RRequest* createRefreshTableRequest(K7RTable table) = 0;
    virtual IK7RRequest* createRefreshTableRequestByAccount(K7RTable table, const char* account) = 0;
    virtual IK7RRequest* createOrderRequest(IK7RValueMap* valueMap) = 0;
    virtual IK7RValueMap* createValueMap() = 0;
    virtual const char* getLastError() = 0;
    ~IK7RRequestFactory() override;
};

class VELVIX_API IK7RResponse : public IAddRef
{
public:
    virtual K7RResponseType getType() = 0;
    virtual const char* getRequestId() = 0;  // may be null
    ~IK7RResponse() override;
};

class VELVIX_API IK7RTablesUpdatesReader : public IAddRef
{
public:
    virtual double getServerTime() = 0;
    virtual int size() = 0;
    virtual K7RTableUpdateType getUpdateType(int index) = 0;
    virtual K7RTable getUpdateTable(int index) = 0;
    // Each gives the row of that update add-referenced, or null when the update is of another table.
    virtual IK7ROfferRow* getOfferRow(int index) = 0;
    virtual IK7RAccountRow* getAccountRow(int index) = 0;
    virtual IK7ROrderRow* getOrderRow(int index) = 0;
    virtual IK7RTradeRow* getTradeRow(int index) = 0;
    virtual IK7RClosedTradeRow* getClosedTradeRow(int index) = 0;
    virtual IK7RMessageRow* getMessageRow(int index) = 0;
    ~IK7RTablesUpdatesReader() override;
};

class VELVIX_API IK7RMarketDataSnapshotResponseReader : public IAddRef
{
public:
    virtual bool isBar() = 0;
    virtual int size() = 0;
    virtual double getDate(int index) = 0;
    virtual double getBid(int index) = 0;
    virtual double getAsk(int index) = 0;
    virtual double getBidOpen(int index) = 0;
    virtual double getBidHigh(int index) = 0;
    virtual double getBidLow(int index) = 0;
    virtual double getBidClose(int index) = 0;
    virtual double getAskOpen(int index) = 0;
    virtual double getAskHigh(int index) = 0;
    virtual double getAskLow(int index) = 0;
    virtual double getAskClose(int index) = 0;
    virtual int getVolume(int index) = 0;
    virtual int getLastBarVolume() = 0;
    virtual double getLastBarTime() = 0;
    ~IK7RMarketDataSnapshotResponseReader() override;
};

class VELVIX_API IK7RMarketDataResponseReader : public IAddRef
{
public:
    virtual const char* getQuoteId() = 0;
    virtual const char* getInstrument() = 0;
    virtual int getSymbolId() = 0;
    virtual double getDateTime() = 0;
    virtual double getAskLow() = 0;
    virtual double getAskHigh() = 0;
    virtual double getAskOpen() = 0;
    virtual double getAskClose() = 0;
    virtual double getBidLow() = 0;
    virtual double getBidHigh() = 0;
    virtual double getBidOpen() = 0;
    virtual double getBidClose() = 0;
    virtual double getLow() = 0;
    virtual double getHigh() = 0;
    virtual int getTimingInterval() = 0;
    virtual bool getCandleCompleted() = 0;
    virtual const char* getMarketDataRequestId() = 0;
    virtual const char* getTradingSessionId() = 0;
    virtual const char* getTradingSessionSubId() = 0;
    virtual int getContinuosFlag() = 0;
    virtual const char* getBidId() = 0;
    virtual const char* getBidQuoteCondition() = 0;
    virtual int getBidQuoteType() = 0;
    virtual double getBidExpireDateTime() = 0;
    virtual const char* getAskId() = 0;
    virtual const char* getAskQuoteCondition() = 0;
    virtual int getAskQuoteType() = 0;
    virtual double getAskExpireDateTime() = 0;
    ~IK7RMarketDataResponseReader() override;
};

class VELVIX_API IK7RLevel2MarketDataUpdatesReader : public IAddRef
{
public:
    virtual int getPriceQuotesCount() = 0;
    virtual double getDateTime(int quote) = 0;
    virtual int getSymbolId(int quote) = 0;
    virtual int getVolume(int quote) = 0;
    virtual int getPricesCount(int quote) = 0;
    virtual bool isBid(int quote, int price) = 0;
    virtual bool isAsk(int quote, int price) = 0;
    virtual bool isLow(int quote, int price) = 0;
    virtual bool isHigh(int quote, int price) = 0;
    virtual double getRate(int quote, int price) = 0;
    virtual double getAmount(int quote, int price) = 0;
    virtual const char* getCondition(int quote, int price) = 0;   // may be null
    virtual const char* getOriginator(int quote, int price) = 0;  // may be null
    ~IK7RLevel2MarketDataUpdatesReader() override;
};

class VELVIX_API IK7ROrderResponseReader : public IAddRef
{
public:
    virtual const char* getOrderId() = 0;
    virtual bool isUnderDealerIntervention() = 0;
    ~IK7ROrderResponseReader() override;
};

class VELVIX_API IK7RLastOrderUpdateResponseReader : public IAddRef
{
public:
    virtual K7RTableUpdateType getUpdateType() = 0;
    virtual IK7ROrderRow* getOrder() = 0;  // add-referenced or null
    ~IK7RLastOrderUpdateResponseReader() override;
};

class VELVIX_API IK7RSystemPropertiesReader : public IAddRef
{
public:
    virtual const char* findProperty(const char* name) = 0;           // null when missing
    virtual const char* getProperty(int index, const char*& value) = 0;  // gives the name
    virtual int size() = 0;
    ~IK7RSystemPropertiesReader() override;
};

// Each creator gives an add-referenced reader of the response, or null.
class VELVIX_API IK7RResponseReaderFactory : public IAddRef
{
public:
    virtual IK7RTablesUpdatesReader* createTablesUpdatesReader(IK7RResponse* response) = 0;
    virtual IK7RMarketDataSnapshotResponseReader* createMarketDataSnapshotReader(IK7RResponse* response) = 0;
    virtual IK7RMarketDataResponseReader* createMarketDataReader(IK7RResponse* response) = 0;
    virtual IK7RLevel2MarketDataUpdatesReader* createLevel2MarketDataReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createOffersTableReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createAccountsTableReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createOrdersTableReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createTradesTableReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createClosedTradesTableReader(IK7RResponse* response) = 0;
    virtual IK7RGenericTableResponseReader* createMessagesTableReader(IK7RResponse* response) = 0;
    virtual IK7ROrderResponseReader* createOrderResponseReader(IK7RResponse* response) = 0;
    virtual IK7RLastOrderUpdateResponseReader* createLastOrderUpdateResponseReader(IK7RResponse* response) = 0;
    virtual IK7RSystemPropertiesReader* createSystemPropertiesReader(IK7RResponse* response) = 0;
    virtual bool processMarginRequirementsResponse(IK7RResponse* response) = 0;
    ~IK7RResponseReaderFactory() override;
};

// The response passed to a callback is lent for the call; either text may be null.
class VELVIX_API IK7RResponseListener : public IAddRef
{
public:
    virtual void onRequestCompleted(const char* requestId, IK7RResponse* response) = 0;
    virtual void onRequestFailed(const char* requestId, const char* error) = 0;
    virtual void onTablesUpdates(IK7RResponse* response) = 0;
    ~IK7RResponseListener() override;

protected:
    IK7RResponseListener();
};
