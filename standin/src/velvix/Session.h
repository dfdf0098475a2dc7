// The simulated trading session: what IK7RSession gives a caller. It logs in and out against the
// world's login server, keeps its listeners, and reports status changes on the dispatcher thread;
// tables and requests fill in as the server grows. The public part after the interface is the
// face the control extension drives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "velvix/Velvix.h"

#include "Listeners.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

// The subscription points of a session, as the control extension names them.
enum class Point
{
    SessionStatus,
    ChartSessionStatus,
    Response,
    SystemProperties
};

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

    static constexpr int MinPriceRefreshRate = 100;
    static constexpr int MaxPriceRefreshRate = 5000;
    static constexpr int DefaultPriceRefreshRate = 1000;

    // --- the control face ---------------------------------------------------------------------

    int subscribers(Point point) const;
    // Waits until exactly `n` listeners are held at `point`; false when the time ran out.
    bool waitSubscribers(Point point, int n, std::int64_t timeoutMs) const;

    // Deliveries to every listener subscribed at the point; run them on the dispatcher thread.
    // Statuses may be any integer; they change nothing the session reports about itself.
    void deliverSessionStatus(int status);
    void deliverLoginFailed(const Text& error);
    void deliverChartSessionStatus(int status);
    void deliverChartSessionLoginFailed(const Text& error);
    void deliverPropertyChange(const Text& name, const Text& value);

    // Answers of the server to the response listeners (dispatcher thread). The response is lent.
    void deliverRequestCompleted(const Text& requestId, IK7RResponse* response);
    void deliverRequestFailed(const Text& requestId, const Text& error);
    void deliverTablesUpdates(IK7RResponse* response);
    // Logged in (CONNECTED or CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD): the server answers requests.
    bool online() const;

    // Ghosts break the contract on purpose: the listeners held at `point` now are kept, with
    // references, whatever unsubscribes follow, and the ghost deliveries reach them unchecked.
    void keepGhosts(Point point);
    void deliverGhostSessionStatus(int status);
    void deliverGhostChartSessionStatus(int status);
    void clearGhosts();

    // reset() cancelled every pending step: back to disconnected, with nothing delivered.
    void disconnectQuietly();

private:
    ~Session() override;

    enum class Phase
    {
        Idle,       // DISCONNECTED or SESSION_LOST: a login may start
        LoggingIn,  // from login to CONNECTED (or the failure)
        Online,
        Closing     // logout or forceClose under way
    };
    struct Attempt
    {
        bool accepted = false;
        std::string user;
        Text failure;
        LoginOutcome outcome = LoginOutcome::Connect;
    };
    using Step = void (Session::*)(std::uint64_t flow);

    bool startLogin(Attempt attempt);
    void later(std::int64_t delayMs, std::uint64_t flow, Step step);
    void stepConnecting(std::uint64_t flow);
    void stepLoginOutcome(std::uint64_t flow);
    void stepChartConnected(std::uint64_t flow);
    void stepDisconnecting(std::uint64_t flow);
    void stepDisconnected(std::uint64_t flow);
    void stepLost(std::uint64_t flow);
    void chartConnecting(std::uint64_t flow);

    template <class L, class Call>
    void deliver(ListenerList<L> Session::*list, Call call);
    template <class L>
    void subscribe(const char* op, ListenerList<L> Session::*list, L* listener);
    template <class L>
    void unsubscribe(const char* op, ListenerList<L> Session::*list, L* listener);

    bool loggedIn() const;            // under mutex_
    int countLocked(Point point) const;  // under mutex_
    const char* textResult(const char* op, Text Session::*member);
    int twoPass(const char* script, const Text& text, int missingCode, int tooSmallCode, char* buffer, int size);

    mutable std::mutex mutex_;
    mutable std::condition_variable subscribersChanged_;
    ListenerList<IK7RSessionStatus> statusListeners_;
    ListenerList<IK7RChartSessionStatus> chartListeners_;
    ListenerList<IK7RResponseListener> responseListeners_;
    ListenerList<IK7RSystemPropertiesListener> propertyListeners_;
    ListenerList<IK7RSessionStatus> statusGhosts_;
    ListenerList<IK7RChartSessionStatus> chartGhosts_;
    ListenerList<IK7RResponseListener> responseGhosts_;
    ListenerList<IK7RSystemPropertiesListener> propertyGhosts_;

    Phase phase_ = Phase::Idle;
    std::uint64_t flow_ = 0;  // bumped by every login, logout and close: older steps do nothing
    std::uint64_t logins_ = 0;
    Attempt attempt_;
    IK7RSessionStatus::K7RSessionStatus status_ = IK7RSessionStatus::Disconnected;
    IK7RChartSessionStatus::K7RChartSessionStatus chartStatus_ = IK7RChartSessionStatus::Disconnected;
    std::optional<std::string> userName_, subId_, token_;
    std::set<std::string> interned_;  // texts handed out stay valid while the session lives

    std::atomic<std::uint64_t> requestsTimeout_{30000};
    std::atomic<K7RPriceUpdateMode> priceUpdateMode_{K7RPriceUpdateMode::Default};
    std::atomic<K7RChartSessionMode> chartSessionMode_{K7RChartSessionMode::NoChartSession};
    std::atomic<int> priceRefreshRate_{DefaultPriceRefreshRate};
};

}  // namespace sim::velvix
