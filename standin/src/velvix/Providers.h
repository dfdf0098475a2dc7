// The commissions and rollover providers of a session. Both load their data after each login:
// LOADING at once, READY one delay later, each status reported to the listeners on the
// dispatcher; a logout takes them back to idle. The commissions provider holds its listeners with
// references; the rollover listener interface counts none, so that provider keeps plain pointers
// between subscribe and unsubscribe and never touches a listener afterwards.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "velvix/Velvix.h"

#include "Listeners.h"
#include "core/Registry.h"
#include "core/World.h"

namespace sim::velvix
{

// The status flow both providers share. A step runs on the dispatcher, sets the status just
// before it is delivered, and does nothing once a newer flow began; pending steps find the
// provider again by id, so they keep none alive.
template <class Derived, class Interface, class Status>
class LoadingProvider : public RefCounted<Interface>
{
public:
    // LOADING now, READY one delay later.
    void startLoad(Status loading, Status ready, std::int64_t delayMs)
    {
        const std::uint64_t flow = newFlow();
        later(0, flow, loading);
        later(delayMs, flow, ready);
    }
    // Back to `idle`, reported unless the status already was.
    void stopLoad(Status idle) { later(0, newFlow(), idle, true); }
    // Back to `idle` with nothing reported, pending steps cancelled (the world's reset).
    void settle(Status idle)
    {
        std::lock_guard<std::mutex> lock(flowMutex_);
        ++flow_;
        status_ = idle;
    }
    Status currentStatus() const
    {
        std::lock_guard<std::mutex> lock(flowMutex_);
        return status_;
    }

protected:
    LoadingProvider(const char* kind, std::uint64_t session, Status idle)
        : RefCounted<Interface>(kind), session_(session), status_(idle)
    {
    }

    std::uint64_t session() const { return session_; }

private:
    std::uint64_t newFlow()
    {
        std::lock_guard<std::mutex> lock(flowMutex_);
        return ++flow_;
    }

    void later(std::int64_t delayMs, std::uint64_t flow, Status status, bool onlyIfChanged = false)
    {
        const std::uint64_t id = this->simId();
        world().dispatcher().postAfter(delayMs, [id, flow, status, onlyIfChanged] {
            Ref<Derived> self = Ref<Derived>::adopt(world().registry().acquire<Derived>(id));
            if (self)
                self->step(flow, status, onlyIfChanged);
        });
    }

    void step(std::uint64_t flow, Status status, bool onlyIfChanged)
    {
        {
            std::lock_guard<std::mutex> lock(flowMutex_);
            if (flow != flow_ || (onlyIfChanged && status_ == status))
                return;
            status_ = status;
        }
        static_cast<Derived*>(this)->deliverStatus(static_cast<int>(status));
    }

    const std::uint64_t session_;
    mutable std::mutex flowMutex_;
    std::uint64_t flow_ = 0;
    Status status_;
};

class CommissionsProvider final
    : public LoadingProvider<CommissionsProvider, IK7RCommissionsProvider, K7RCommissionStatus>
{
public:
    explicit CommissionsProvider(std::uint64_t session);

    IK7RCommissionDescriptionsCollection* getCommissionDescriptions(const char* offerID,
                                                                    std::uint64_t accountKind) override;
    K7RCommissionStatus getStatus() override;
    void subscribe(IK7RCommissionProviderListener* listener) override;
    void unsubscribe(IK7RCommissionProviderListener* listener) override;
    double calcOpenCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                              const char* buySell, double rate) override;
    double calcCloseCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                               const char* buySell, double rate) override;
    double calcTotalCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                               const char* buySell, double openRate, double closeRate) override;

    // --- the server's face: deliveries run on the dispatcher ---
    void loggedIn();
    void loggedOut();
    void deliverStatus(int status);  // any integer
    void deliverNeedUpdate();
    int subscribers() const;
    bool waitSubscribers(int n, std::int64_t timeoutMs) const;

private:
    ~CommissionsProvider() override = default;
    template <class Call>
    void deliver(Call call);

    mutable std::mutex mutex_;
    mutable std::condition_variable subscribersChanged_;
    ListenerList<IK7RCommissionProviderListener> listeners_;
};

class RolloverProvider final : public LoadingProvider<RolloverProvider, IK7RRolloverProvider, K7RRolloverStatus>
{
public:
    explicit RolloverProvider(std::uint64_t session);

    double getRolloverBuy(IK7ROfferRow* offer, IK7RAccountRow* account) override;
    double getRolloverSell(IK7ROfferRow* offer, IK7RAccountRow* account) override;
    K7RRolloverStatus getStatus() override;
    void subscribe(IK7RRolloverProviderListener* listener) override;
    void unsubscribe(IK7RRolloverProviderListener* listener) override;
    void refreshRolloverProfiles() override;

    // --- the server's face: deliveries run on the dispatcher ---
    void loggedIn();
    void loggedOut();
    void deliverStatus(int status);  // any integer
    int subscribers() const;
    bool waitSubscribers(int n, std::int64_t timeoutMs) const;

private:
    ~RolloverProvider() override = default;
    // A plain pointer: the library may neither count nor delete a rollover listener.
    struct Held
    {
        std::uint64_t token;
        IK7RRolloverProviderListener* listener;
    };

    // A delivery past its check and not yet back from its call. Nothing else keeps the listener
    // alive for it, so an unsubscribe waits for those of the subscription it takes away, unless
    // it is made inside one.
    struct Delivery
    {
        std::uint64_t token;
        std::thread::id thread;
    };
    class Delivering;

    mutable std::mutex mutex_;
    mutable std::condition_variable subscribersChanged_;
    std::condition_variable delivered_;
    std::vector<Held> listeners_;
    std::vector<Delivery> delivering_;
    // The threads waiting in unsubscribe. One of them that delivers is inside its listener's call
    // (nothing else of a delivery calls here), where the listener keeps itself alive: a wait
    // for its delivery protects nothing, and two such threads would wait for each other for good.
    std::vector<std::thread::id> unsubscribing_;
    std::uint64_t nextToken_ = 1;
};

class Session;
class Request;

// The UpdateCommissions command (on the dispatcher): the server confirms it, then the session's
// commissions provider tells its listeners to recalculate.
void answerUpdateCommissions(Session& session, const Request& request);

// The plan's charge for one way (opening or closing) of `amount` units of the offer, in the
// account's currency: what the provider's calculations give, and what the dealing desk charges.
double planCommission(const char* offerId, int amount);

}  // namespace sim::velvix
