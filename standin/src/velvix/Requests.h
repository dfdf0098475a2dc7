// Requests and the request factory of the simulated server. A request carries its id (unique in
// the process, hence per session), what the server needs to answer it, and its child requests.
// The factory validates only what it must to build a request; the server validates the rest when
// the request arrives.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "velvix/Velvix.h"

#include "History.h"
#include "ValueMaps.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

enum class RequestKind
{
    Order,               // from a value map
    MarketDataSnapshot,
    RefreshTable,
    ConfirmationMail
};

const char* kindName(RequestKind kind);  // "order", "market_data_snapshot", ...

struct SnapshotQuery
{
    std::string instrument;
    Text timeframeId;
    history::Frame frame;
    int count = history::DefaultCount;
    double from = 0.0, to = 0.0;
    bool includeWeekends = false;
    int openPriceMode = 0;
};

// What a request asks, in plain values: for logs and the control face.
using RequestInfo = std::vector<std::pair<std::string, Value>>;

class Request final : public RefCounted<IK7RRequest>
{
public:
    Request(RequestKind kind, std::uint64_t sessionId);

    const char* getRequestId() override;
    int getChildrenCount() override;
    IK7RRequest* getChildRequest(int index) override;  // null outside 0..count-1

    const std::string& id() const { return id_; }
    RequestKind kind() const { return kind_; }
    std::uint64_t sessionId() const { return sessionId_; }

    // Set while the factory builds the request, read-only after.
    MapContents params;                      // an order's
    std::vector<Ref<Request>> children;      // an order's
    K7RTable table = K7RTable::TableUnknown; // a refresh's
    Text account;                            // a refresh by account's
    Text messageId;                          // a confirmation mail's

    SnapshotQuery snapshot() const;
    void setSnapshot(SnapshotQuery query);

    RequestInfo info() const;

private:
    ~Request() override = default;

    const RequestKind kind_;
    const std::uint64_t sessionId_;
    const std::string id_;
    mutable std::mutex mutex_;
    SnapshotQuery snapshot_;
};

class RequestFactory final : public RefCounted<IK7RRequestFactory>
{
public:
    explicit RequestFactory(std::uint64_t sessionId);

    IK7RTimeframeCollection* getTimeframeCollection() override;
    IK7RRequest* createMarketDataSnapshotRequestInstrument(const char* instrument, IK7RTimeframe* timeframe,
                                                           int maxBars) override;
    bool fillMarketDataSnapshotRequestTime(IK7RRequest* request, double timeFrom, double timeTo,
                                           bool isIncludeWeekends, K7RCandleOpenPriceMode mode) override;
    IK7RRequest* createConfirmationMailRequest(IK7RMessageRow* message) override;
    IK7RRequest* createRefreshTableRequest(K7RTable table) override;
    IK7RRequest* createRefreshTableRequestByAccount(K7RTable table, const char* account) override;
    IK7RRequest* createOrderRequest(IK7RValueMap* valueMap) override;
    IK7RValueMap* createValueMap() override;
    const char* getLastError() override;  // "" until something failed; then why the last call did

private:
    ~RequestFactory() override = default;

    // Null, with the last error set to `why`.
    std::nullptr_t fail(const std::string& why);
    // A scripted null of `op`, if one is armed: the scripted text becomes the last error.
    bool faulted(const char* op);
    IK7RRequest* made(Ref<Request> request);
    Ref<Request> orderFrom(const MapContents& contents);

    const std::uint64_t sessionId_;
    std::mutex mutex_;
    std::string lastError_;
    std::set<std::string> interned_;  // every last error handed out stays valid
};

}  // namespace sim::velvix
