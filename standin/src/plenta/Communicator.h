// The simulated historical-price library: the communicator bound to a trading session, its
// requests and responses, its timeframe factory, and the history desk that answers sent requests
// on the dispatcher (or holds them for the control face). The plenta_sim functions are the face
// the control extension drives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plenta/Plenta.h"

#include "core/Registry.h"
#include "core/Scenario.h"
#include "velvix/History.h"
#include "velvix/Listeners.h"
#include "zorvat/QuotesCache.h"

namespace plenta_sim
{

struct ErrorSpec
{
    int code = plenta::IError::OTHER_ERROR;
    sim::Text message;
    std::optional<zorvat_sim::ErrorSpec> nested;
};

// A new error with one reference for the caller.
plenta::IError* makeError(const ErrorSpec& spec);

// From sending to its readiness step, in ms on the active clock.
constexpr std::int64_t ReadyDelayMs = 50;

class Request final : public sim::RefCounted<plenta::IPlentaCommunicatorRequest>
{
public:
    Request(std::uint64_t communicatorId, sim::Text instrument, IK7RTimeframe* timeframe, double from, double to,
            int count);

    const char* getInstrument() override;
    double getFromDate() override;
    double getToDate() override;
    int getQuotesCount() override;
    IK7RTimeframe* getTimeframe() override;

    std::uint64_t communicatorId() const { return communicatorId_; }
    const sim::Text& instrument() const { return instrument_; }
    sim::Text timeframeId() const;
    // The generator's answer at `nowMs` (no items for an unknown instrument), and why the server
    // refuses to give it.
    sim::history::Series query(std::int64_t nowMs) const;
    std::optional<std::string> refusal(std::int64_t nowMs) const;

    // Set by cancelRequest: answers still on their way report a cancellation instead.
    std::atomic<bool> cancelRequested{false};

private:
    ~Request() override = default;
    const std::uint64_t communicatorId_;
    const sim::Text instrument_;
    const sim::Ref<IK7RTimeframe> timeframe_;
    const double from_, to_;
    const int count_;
};

class Response final : public sim::RefCounted<plenta::IPlentaCommunicatorResponse>
{
public:
    explicit Response(std::shared_ptr<const sim::history::Series> series);
    const std::shared_ptr<const sim::history::Series>& series() const { return series_; }

private:
    ~Response() override = default;
    const std::shared_ptr<const sim::history::Series> series_;
};

class TimeframeFactory final : public sim::RefCounted<plenta::ITimeframeFactory>
{
public:
    TimeframeFactory();
    IK7RTimeframe* createByUnit(K7RTimeframeUnit unit, int size, plenta::IError** error) override;
    IK7RTimeframe* create(const char* id, plenta::IError** error) override;

private:
    ~TimeframeFactory() override = default;
};

class Communicator final : public sim::RefCounted<plenta::IPlentaCommunicator>
{
public:
    // `sessionId` is the registry id of a stand-in session, 0 for another one (taken as online).
    Communicator(std::uint64_t sessionId, const char* cachePath);

    void addListener(plenta::IPlentaCommunicatorListener* listener) override;
    void removeListener(plenta::IPlentaCommunicatorListener* listener) override;
    void addStatusListener(plenta::IPlentaCommunicatorStatusListener* listener) override;
    void removeStatusListener(plenta::IPlentaCommunicatorStatusListener* listener) override;
    plenta::ITimeframeFactory* getTimeframeFactory() override;
    plenta::IPlentaCommunicatorRequest* createRequest(const char* instrument, IK7RTimeframe* timeframe, double from,
                                                      double to, int quotesCount, plenta::IError** error) override;
    bool sendRequest(plenta::IPlentaCommunicatorRequest* request, plenta::IError** error) override;
    void cancelRequest(plenta::IPlentaCommunicatorRequest* request) override;
    bool isReady() override;
    IK7RMarketDataSnapshotResponseReader* createResponseReader(plenta::IPlentaCommunicatorResponse* response,
                                                               plenta::IError** error) override;
    zorvat::IZorvat* getZorvat() override;

    // --- the control face and the desk ----------------------------------------------------------

    std::uint64_t sessionId() const { return sessionId_; }
    bool sessionOnline() const;
    void setReady(bool ready) { ready_.store(ready); }
    std::pair<int, int> listenerCounts() const;

    // Deliveries to every listener added (dispatcher thread; no lock held during the calls).
    // The arguments are lent.
    void deliverCompleted(Request* request, Response* response);
    void deliverFailed(Request* request, plenta::IError* error);
    void deliverCancelled(Request* request);
    void deliverStatus(bool ready);
    void deliverInitFailed(plenta::IError* error);

private:
    ~Communicator() override = default;

    template <class L, class Call>
    void deliver(sim::velvix::ListenerList<L> Communicator::*list, Call call);

    const std::uint64_t sessionId_;
    const sim::Ref<zorvat::IZorvat> cache_;
    std::atomic<bool> ready_{false};
    mutable std::mutex mutex_;
    sim::velvix::ListenerList<plenta::IPlentaCommunicatorListener> listeners_;
    sim::velvix::ListenerList<plenta::IPlentaCommunicatorStatusListener> statusListeners_;
};

// --- scripts ---------------------------------------------------------------------------------

// The next call of `op` (createCommunicator, createRequest, sendRequest, createResponseReader,
// create, createByUnit) gives null or false, writing the error when there is one; with `succeed`
// it does its work as usual and writes the error all the same. False for an unknown op.
bool failNext(const std::string& op, std::optional<ErrorSpec> error, bool succeed);
// Consumes the script of `op`: writes its error (err may be null) and is true when the call must
// give null or false.
bool scriptedFailure(const char* op, plenta::IError** err);
// The next call of `op` (getTimeframeFactory, getZorvat) gives null.
bool nullNext(const std::string& op);

// --- the history desk ------------------------------------------------------------------------

struct PendingInfo
{
    std::uint64_t index = 0;
    std::uint64_t communicator = 0;
    sim::Text instrument, timeframe;
    double from = 0.0, to = 0.0;
    int count = 0;
};

// While held, sent requests wait for the control face; switching it off leaves held ones held.
void hold(bool on);
bool held();
std::vector<PendingInfo> pending();  // in sending order
// Waits until at least `count` requests are held; false when the time ran out.
bool waitPending(std::size_t count, std::int64_t timeoutMs);

// Takes a held request out and gives the job that reports on it; run the job on the dispatcher.
// Empty when `index` is not held. A job dropped unrun reports a cancellation on a thread of its
// own, so the request still ends with one report.
std::function<void()> takeCompletion(std::uint64_t index, bool nullResponse);
std::function<void()> takeFailure(std::uint64_t index, std::optional<ErrorSpec> error);
std::function<void()> takeCancellation(std::uint64_t index);

}  // namespace plenta_sim
