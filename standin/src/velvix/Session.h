// The simulated trading session: what IK7RSession gives a caller. For now a disconnected session
// with every operation present; login, tables and requests fill in as the server grows.
#pragma once

#include <atomic>
#include <cstdint>

#include "velvix/Velvix.h"

#include "core/Registry.h"

namespace sim::velvix
{

class Session final : public RefCounted<IK7RSession>
{
public:
    Session();

    IK7RLoginRules* getLoginRules() override;
    bool login(const char* user, const char* password, const char* url, const char* connection) override;
    bool loginWithToken(const char* user, const char* token, const char* url, const char* connection) override;
    void logout() override;
    void subscribeSessionStatus(IK7RSessionStatus* listener) override;
    void unsubscribeSessionStatus(IK7RSessionStatus* listener) override;
    IK7RSessionDescriptorCollection* getTradingSessionDescriptors() override;
    void setTradingSession(const char* id, const char* pin) override;
    void subscribeResponse(IK7RResponseListener* listener) override;
    void unsubscribeResponse(IK7RResponseListener* listener) override;
    void subscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener) override;
    void unsubscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener) override;
    IK7RRequestFactory* getRequestFactory() override;
    IK7RResponseReaderFactory* getResponseReaderFactory() override;
    void sendRequest(IK7RRequest* request) override;
    void setRequestsTimeout(std::uint64_t milliseconds) override;
    std::uint64_t getRequestsTimeout() override;
    IK7RTimeConverter* getTimeConverter() override;
    void setPriceUpdateMode(K7RPriceUpdateMode mode) override;
    K7RPriceUpdateMode getPriceUpdateMode() override;
    double getServerTime() override;
    int getReportUrl(char* buffer, int size, const char* account, double dateFrom, double dateTo,
                     const char* format, const char* language) override;
    int getToken(char* buffer, int size) override;
    IK7RTableManager* getTableManager() override;
    IK7RTableManager* getTableManagerByAccount(const char* account) override;
    void useTableManager(K7RTableManagerMode mode, IK7RTableManagerListener* listener) override;
    IK7RSessionStatus::K7RSessionStatus getSessionStatus() override;
    bool setPriceRefreshRate(int rate) override;
    int getPriceRefreshRate() override;
    int getMinPriceRefreshRate() override;
    int getMaxPriceRefreshRate() override;
    const char* getSessionSubId() override;
    void setChartSessionMode(K7RChartSessionMode mode) override;
    K7RChartSessionMode getChartSessionMode() override;
    void subscribeChartSessionStatus(IK7RChartSessionStatus* listener) override;
    void unsubscribeChartSessionStatus(IK7RChartSessionStatus* listener) override;
    IK7RChartSessionStatus::K7RChartSessionStatus getChartSessionStatus() override;
    K7RUserKind getUserKind() override;
    const char* getUserName() override;
    IK7RCommissionsProvider* getCommissionsProvider() override;
    IK7RRolloverProvider* getRolloverProvider() override;
    void forceClose() override;

private:
    ~Session() override;

    std::atomic<std::uint64_t> requestsTimeout_{30000};
    std::atomic<K7RPriceUpdateMode> priceUpdateMode_{K7RPriceUpdateMode::Default};
    std::atomic<K7RChartSessionMode> chartSessionMode_{K7RChartSessionMode::NoChartSession};
    std::atomic<int> priceRefreshRate_{0};
};

}  // namespace sim::velvix
