// The rollover provider: the rollover of a position, which is the interest the offer's row
// carries (BuyInterest, SellInterest), the provider's status, the refresh of the rollover
// profiles, and its listeners, held as plain pointers. Each operation is journaled as
// "IK7RRolloverProvider::<name>".
#include <algorithm>
#include <chrono>
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

void RolloverProvider::unsubscribe(IK7RRolloverProviderListener* listener)
{
    journal("velvix", "IK7RRolloverProvider::unsubscribe", {flag(listener != nullptr)});
    std::lock_guard<std::mutex> lock(mutex_);
    const auto newest = std::find_if(listeners_.rbegin(), listeners_.rend(),
                                     [listener](const Held& h) { return h.listener == listener; });
    if (newest != listeners_.rend())
        listeners_.erase(std::next(newest).base());
    subscribersChanged_.notify_all();
}

// Each listener is re-checked just before its call and called with no lock held; nothing keeps
// it alive meanwhile, which is the interface's own rule.
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
        }
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
