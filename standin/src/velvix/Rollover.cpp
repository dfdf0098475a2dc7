// The rollover provider: the rollover of a position, which is the interest the offer's row
// carries (BuyInterest, SellInterest), the provider's status, the refresh of the rollover
// profiles, and its listeners, held as plain pointers. Each operation is journaled as
// "IK7RRolloverProvider::<name>".
#include <algorithm>
#include <chrono>
#include <thread>
#include <variant>

#include "LoginRules.h"
#include "Providers.h"
#include "SessionServices.h"

namespace sim::velvix
{

namespace
{

double rollover(const char* op, IK7ROfferRow* offer, IK7RAccountRow* account, const char* column)
{
    journal("velvix", op, {text(offer ? offer->getOfferID() : nullptr),
                           text(account ? account->getAccountID() : nullptr)});
    const Value cell = offer && account ? cellOf(offer, column) : Value();
    const double* interest = std::get_if<double>(&cell);
    return answer(op, interest ? *interest : 0.0);
}

}  // namespace

RolloverProvider::RolloverProvider(std::uint64_t session)
    : LoadingProvider("IK7RRolloverProvider", session, K7RRolloverStatus::RolloverNotLoaded)
{
}

double RolloverProvider::getRolloverBuy(IK7ROfferRow* offer, IK7RAccountRow* account)
{
    return rollover("IK7RRolloverProvider::getRolloverBuy", offer, account, "BuyInterest");
}

double RolloverProvider::getRolloverSell(IK7ROfferRow* offer, IK7RAccountRow* account)
{
    return rollover("IK7RRolloverProvider::getRolloverSell", offer, account, "SellInterest");
}

K7RRolloverStatus RolloverProvider::getStatus()
{
    return answer("IK7RRolloverProvider::getStatus", currentStatus());
}

// Only while logged in: the profiles come from the server.
void RolloverProvider::refreshRolloverProfiles()
{
    journal("velvix", "IK7RRolloverProvider::refreshRolloverProfiles");
    if (SessionServices::instance().loginRules(session()))
        loggedIn();
}

// --- listeners and status ----------------------------------------------------------------------

void RolloverProvider::subscribe(IK7RRolloverProviderListener* listener)
{
    journal("velvix", "IK7RRolloverProvider::subscribe", {flag(listener != nullptr)});
    if (!listener)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back({nextToken_++, listener});
    subscribersChanged_.notify_all();
}

// The caller may let the listener go once this returns, so a delivery to the subscription taken
// away that already passed its check on another thread is waited for; not the listener's own
// callback unsubscribing, nor a delivery whose thread unsubscribes too (it is inside its call).
// After process exit began, nothing waits for a delivery.
void RolloverProvider::unsubscribe(IK7RRolloverProviderListener* listener)
{
    journal("velvix", "IK7RRolloverProvider::unsubscribe", {flag(listener != nullptr)});
    std::unique_lock<std::mutex> lock(mutex_);
    const auto newest = std::find_if(listeners_.rbegin(), listeners_.rend(),
                                     [listener](const Held& h) { return h.listener == listener; });
    if (newest == listeners_.rend())
        return;
    const std::uint64_t token = newest->token;
    listeners_.erase(std::next(newest).base());
    subscribersChanged_.notify_all();
    const std::thread::id self = std::this_thread::get_id();
    const auto done = [&] {
        return std::none_of(delivering_.begin(), delivering_.end(), [&](const Delivery& d) {
            return d.token == token && d.thread != self &&
                   std::find(unsubscribing_.begin(), unsubscribing_.end(), d.thread) == unsubscribing_.end();
        });
    };
    if (done())
        return;
    unsubscribing_.push_back(self);
    delivered_.notify_all();  // another unsubscribe may be waiting for this thread's delivery
    while (!delivered_.wait_for(lock, std::chrono::milliseconds(50), done))
    {
        lock.unlock();
        const bool exiting = world().dispatcher().exiting();
        lock.lock();
        if (exiting)
            break;
    }
    unsubscribing_.erase(std::find(unsubscribing_.begin(), unsubscribing_.end(), self));
}

// The scope of one listener call of a delivery, which an unsubscribe may be waiting for; also
// ended by a thread unwound inside the call.
class RolloverProvider::Delivering
{
public:
    Delivering(RolloverProvider& provider, std::uint64_t token) : provider_(provider), token_(token) {}
    ~Delivering()
    {
        std::lock_guard<std::mutex> lock(provider_.mutex_);
        auto& delivering = provider_.delivering_;
        const auto self = std::this_thread::get_id();
        delivering.erase(std::find_if(delivering.begin(), delivering.end(), [&](const Delivery& d) {
            return d.token == token_ && d.thread == self;
        }));
        provider_.delivered_.notify_all();
    }
    Delivering(const Delivering&) = delete;
    Delivering& operator=(const Delivering&) = delete;

private:
    RolloverProvider& provider_;
    const std::uint64_t token_;
};

namespace
{

// A "value" fault of this name holds a delivery that many milliseconds between its check and its
// call, journaled as it begins, so that a test can act in that window.
constexpr const char* PauseOp = "IK7RRolloverProviderListener::onStatusChanged";

void pauseBeforeCall()
{
    if (auto fault = takeFault(PauseOp))
        if (auto ms = fault->asInt())
        {
            journal("velvix", PauseOp, {number(*ms)});
            std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
        }
}

}  // namespace

// Each listener is re-checked just before its call and called with no lock held; from the check
// to the call's return the delivery is counted, which is what keeps an unsubscribe from returning
// meanwhile.
void RolloverProvider::deliverStatus(int status)
{
    std::vector<Held> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held = listeners_;
    }
    for (const Held& h : held)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::none_of(listeners_.begin(), listeners_.end(),
                             [&](const Held& now) { return now.token == h.token; }))
                continue;
            delivering_.push_back({h.token, std::this_thread::get_id()});
        }
        const Delivering delivering(*this, h.token);
        pauseBeforeCall();
        h.listener->onStatusChanged(static_cast<K7RRolloverStatus>(status));
    }
}

void RolloverProvider::loggedIn()
{
    startLoad(K7RRolloverStatus::RolloverLoading, K7RRolloverStatus::RolloverReady, serviceDelayMs());
}

void RolloverProvider::loggedOut()
{
    stopLoad(K7RRolloverStatus::RolloverNotLoaded);
}

int RolloverProvider::subscribers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(listeners_.size());
}

bool RolloverProvider::waitSubscribers(int n, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return subscribersChanged_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                        [&] { return static_cast<int>(listeners_.size()) == n; });
}

}  // namespace sim::velvix
