// Velvix trading library: the session and the services it hands out (login rules, permissions,
// trading settings, commissions, rollovers, time conversion), with their listener interfaces.
#pragma once

#include <cstdint>

#include "velvix/K7RBase.h"
#include "velvix/K7REnums.h"
#include "velvix/K7RRequests.h"
#include "velvix/K7RTables.h"

class VELVIX_API IK7RSessionStatus : public IAddRef
{
public:
    enum K7RSessionStatus : int
    {
        Disconnected = 0,
        Connecting = 1,
        TradingSessionRequested = 2,
        Connected = 3,
        Reconnecting = 4,
        Disconnecting = 5,
        SessionLost = 6,
        PriceSessionReconnecting = 7,
        ConnectedWithNeedToChangePassword = 8,
        ChartSessionReconnecting = 9
    };
    virtual void onSessionStatusChanged(K7RSessionStatus status) = 0;
    virtual void onLoginFailed(const char* error) = 0;
    ~IK7RSessionStatus() override;

protected:
    IK7RSessionStatus();
};

class VELVIX_API IK7RChartSessionStatus : public IAddRef
{
public:
    enum K7RChartSessionStatus : int
    {
        Disconnected = 0,
        Connecting = 1,
        Connected = 3,
        Reconnecting = 4,
        Disconnecting = 5,
        SessionLost = 6
    };
    virtual void onChartSessionStatusChanged(K7RChartSessionStatus status) = 0;
    virtual void onChartSessionLoginFailed(const char* error) = 0;
    ~IK7RChartSessionStatus() override;

protected:
    IK7RChartSessionStatus();
};

class VELVIX_API IK7RSystemPropertiesListener : public IAddRef
{
public:
    virtual void onChangeProperty(const char* name, const char* value) = 0;
    ~IK7RSystemPropertiesListener() override;

protected:
    IK7RSystemPropertiesListener();
};

class VELVIX_API IK7RSessionDescriptor : public IAddRef
{
public:
    virtual const char* getId() = 0;
    virtual const char* getName() = 0;
    virtual const char* getDescription() = 0;
    virtual bool getRequiresPin() = 0;
    ~IK7RSessionDescriptor() override;
};

class VELVIX_API IK7RSessionDescriptorCollection : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IK7RSessionDescriptor* get(int index) = 0;  // add-referenced
    ~IK7RSessionDescriptorCollection() override;
};

class VELVIX_API IK7RPermissionChecker : public IAddRef
{
public:
    virtual K7RPermissionStatus canCreateMarketOpenOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeMarketOpenOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteMarketOpenOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateMarketCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeMarketCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteMarketCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateEntryOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeEntryOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteEntryOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canRequestQuote(const char* instrument) = 0;
    virtual K7RPermissionStatus canAcceptQuote(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteQuote(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateOco(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateOto(const char* instrument) = 0;
    virtual K7RPermissionStatus canJoinToNewContingencyGroup(const char* instrument) = 0;
    virtual K7RPermissionStatus canJoinToExistingContingencyGroup(const char* instrument) = 0;
    virtual K7RPermissionStatus canRemoveFromContingencyGroup(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeOfferSubscription(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateNetCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeNetCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteNetCloseOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canCreateNetStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canChangeNetStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canDeleteNetStopLimitOrder(const char* instrument) = 0;
    virtual K7RPermissionStatus canUseDynamicTrailingForStop() = 0;
    virtual K7RPermissionStatus canUseDynamicTrailingForLimit() = 0;
    virtual K7RPermissionStatus canUseDynamicTrailingForEntryStop() = 0;
    virtual K7RPermissionStatus canUseDynamicTrailingForEntryLimit() = 0;
    virtual K7RPermissionStatus canUseFluctuateTrailingForStop() = 0;
    virtual K7RPermissionStatus canUseFluctuateTrailingForLimit() = 0;
    virtual K7RPermissionStatus canUseFluctuateTrailingForEntryStop() = 0;
    virtual K7RPermissionStatus canUseFluctuateTrailingForEntryLimit() = 0;
    ~IK7RPermissionChecker() override;
};

// The account may be an account table row or null.
class VELVIX_API IK7RTradingSettingsProvider : public IAddRef
{
public:
    virtual int getCondDistStopForTrade(const char* instrument) = 0;
    virtual int getCondDistLimitForTrade(const char* instrument) = 0;
    virtual int getCondDistEntryStop(const char* instrument) = 0;
    virtual int getCondDistEntryLimit(const char* instrument) = 0;
    virtual int getMinQuantity(const char* instrument, IK7RAccountRow* account) = 0;
    virtual int getMaxQuantity(const char* instrument, IK7RAccountRow* account) = 0;
    virtual int getBaseUnitSize(const char* instrument, IK7RAccountRow* account) = 0;
    virtual K7RMarketStatus getMarketStatus(const char* instrument) = 0;
    virtual int getMinTrailingStep() = 0;
    virtual int getMaxTrailingStep() = 0;
    virtual double getMarginCallLevel(const char* instrument, IK7RAccountRow* account) = 0;
    virtual double getMmr(const char* instrument, IK7RAccountRow* account) = 0;
    // False when the three-level margin policy is not used; the levels may then stay unwritten.
    virtual bool getMargins(const char* instrument, IK7RAccountRow* account, double& mmr, double& emr,
                            double& lmr) = 0;
    ~IK7RTradingSettingsProvider() override;
};

class VELVIX_API IK7RLoginRules : public IAddRef
{
public:
    virtual bool isTableLoadedByDefault(K7RTable table) = 0;
    virtual IK7RResponse* getTableRefreshResponse(K7RTable table) = 0;  // add-referenced or null
    virtual IK7RResponse* getSystemPropertiesResponse() = 0;
    virtual IK7RPermissionChecker* getPermissionChecker() = 0;
    virtual IK7RTradingSettingsProvider* getTradingSettingsProvider() = 0;
    ~IK7RLoginRules() override;
};

class VELVIX_API IK7RCommissionDescription : public IAddRef
{
public:
    virtual K7RCommissionStage getStage() = 0;
    virtual K7RCommissionUnitType getUnitType() = 0;
    virtual double getCommissionValue() = 0;
    virtual double getMinCommission() = 0;
    ~IK7RCommissionDescription() override;
};

class VELVIX_API IK7RCommissionDescriptionsCollection : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IK7RCommissionDescription* get(int index) = 0;  // add-referenced
    ~IK7RCommissionDescriptionsCollection() override;
};

class VELVIX_API IK7RCommissionProviderListener : public IAddRef
{
public:
    virtual void onChangeCommissionProviderStatus(K7RCommissionStatus status) = 0;
    virtual void onNeedUpdateCommissions() = 0;
    ~IK7RCommissionProviderListener() override;
};

class VELVIX_API IK7RCommissionsProvider : public IAddRef
{
public:
    virtual IK7RCommissionDescriptionsCollection* getCommissionDescriptions(const char* offerID,
                                                                            std::uint64_t accountKind) = 0;
    virtual K7RCommissionStatus getStatus() = 0;
    virtual void subscribe(IK7RCommissionProviderListener* listener) = 0;
    virtual void unsubscribe(IK7RCommissionProviderListener* listener) = 0;
    virtual double calcOpenCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                      const char* buySell, double rate) = 0;
    virtual double calcCloseCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                       const char* buySell, double rate) = 0;
    virtual double calcTotalCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                       const char* buySell, double openRate, double closeRate) = 0;
    ~IK7RCommissionsProvider() override;
};

// Not reference counted: the library only keeps the pointer between subscribe and unsubscribe.
class VELVIX_API IK7RRolloverProviderListener
{
public:
    virtual void onStatusChanged(K7RRolloverStatus status) = 0;
    virtual ~IK7RRolloverProviderListener();
};

class VELVIX_API IK7RRolloverProvider : public IAddRef
{
public:
    virtual double getRolloverBuy(IK7ROfferRow* offer, IK7RAccountRow* account) = 0;
    virtual double getRolloverSell(IK7ROfferRow* offer, IK7RAccountRow* account) = 0;
    virtual K7RRolloverStatus getStatus() = 0;
    virtual void subscribe(IK7RRolloverProviderListener* listener) = 0;
    virtual void unsubscribe(IK7RRolloverProviderListener* listener) = 0;
    virtual void refreshRolloverProfiles() = 0;
    ~IK7RRolloverProvider() override;
};

class VELVIX_API IK7RTimeConverter : public IAddRef
{
public:
    enum TimeZone : int
    {
        UTC = 0,
        Local = 1,
        EST = 2,
        Server = 3
    };
    virtual double convert(double oleTime, TimeZone from, TimeZone to) = 0;
    ~IK7RTimeConverter() override;
};

class VELVIX_API IK7RSession : public IAddRef
{
public:
    virtual IK7RLoginRules* getLoginRules() = 0;
    virtual bool login(const char* user, const char* password, const char* url, const char* connection) = 0;
    virtual bool loginWithToken(const char* user, const char* token, const char* url, const char* connection) = 0;
    virtual void logout() = 0;
    virtual void subscribeSessionStatus(IK7RSessionStatus* listener) = 0;
    virtual void unsubscribeSessionStatus(IK7RSessionStatus* listener) = 0;
    virtual IK7RSessionDescriptorCollection* getTradingSessionDescriptors() = 0;
    virtual void setTradingSession(const char* id, const char* pin) = 0;
    virtual void subscribeResponse(IK7RResponseListener* listener) = 0;
    virtual void unsubscribeResponse(IK7RResponseListener* listener) = 0;
    virtual void subscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener) = 0;
    virtual void unsubscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener) = 0;
    virtual IK7RRequestFactory* getRequestFactory() = 0;
    virtual IK7RResponseReaderFactory* getResponseReaderFactory() = 0;
    virtual void sendRequest(IK7RRequest* request) = 0;  // the caller's count is left as it is
    virtual void setRequestsTimeout(std::uint64_t milliseconds) = 0;
    virtual std::uint64_t getRequestsTimeout() = 0;
    virtual IK7RTimeConverter* getTimeConverter() = 0;
    virtual void setPriceUpdateMode(K7RPriceUpdateMode mode) = 0;
    virtual K7RPriceUpdateMode getPriceUpdateMode() = 0;
    virtual double getServerTime() = 0;
    // Two passes: a null buffer gives the size needed; negative counts are K7RReportUrlError codes.
    virtual int getReportUrl(char* buffer, int size, const char* account, double dateFrom, double dateTo,
                             const char* format, const char* language) = 0;
    // Two passes as above; negative counts are K7RTokenError codes.
    virtual int getToken(char* buffer, int size) = 0;
    virtual IK7RTableManager* getTableManager() = 0;
    virtual IK7RTableManager* getTableManagerByAccount(const char* account) = 0;
    virtual void useTableManager(K7RTableManagerMode mode, IK7RTableManagerListener* listener) = 0;
    virtual IK7RSessionStatus::K7RSessionStatus getSessionStatus() = 0;
    virtual bool setPriceRefreshRate(int rate) = 0;
    virtual int getPriceRefreshRate() = 0;
    virtual int getMinPriceRefreshRate() = 0;
    virtual int getMaxPriceRefreshRate() = 0;
    virtual const char* getSessionSubId() = 0;
    virtual void setChartSessionMode(K7RChartSessionMode mode) = 0;
    virtual K7RChartSessionMode getChartSessionMode() = 0;
    virtual void subscribeChartSessionStatus(IK7RChartSessionStatus* listener) = 0;
    virtual void unsubscribeChartSessionStatus(IK7RChartSessionStatus* listener) = 0;
    virtual IK7RChartSessionStatus::K7RChartSessionStatus getChartSessionStatus() = 0;
    virtual K7RUserKind getUserKind() = 0;
    virtual const char* getUserName() = 0;
    virtual IK7RCommissionsProvider* getCommissionsProvider() = 0;
    virtual IK7RRolloverProvider* getRolloverProvider() = 0;
    virtual void forceClose() = 0;
    ~IK7RSession() override;
};
