// The commissions provider: the demo server's commission plan (a per-lot charge on opening and on
// closing FX positions, nothing on the metal and the index), its descriptions, the calculations,
// and the provider's listeners and status. Each operation is journaled as
// "IK7RCommissionsProvider::<name>".
#include <algorithm>
#include <chrono>
#include <string>

#include "Market.h"
#include "Providers.h"
#include "Requests.h"
#include "Responses.h"
#include "Session.h"
#include "SessionServices.h"

namespace sim::velvix
{

namespace
{

constexpr double PerLot = 0.04;     // in the account currency, each way
constexpr double LotUnits = 1000.0;  // the units a lot holds
constexpr int ForexType = 1;

class CommissionDescription final : public RefCounted<IK7RCommissionDescription>
{
public:
    CommissionDescription(K7RCommissionStage stage, double value)
        : RefCounted("IK7RCommissionDescription"), stage_(stage), value_(value)
    {
    }
    K7RCommissionStage getStage() override { return stage_; }
    K7RCommissionUnitType getUnitType() override { return K7RCommissionUnitType::CommissionPerLot; }
    double getCommissionValue() override { return value_; }
    double getMinCommission() override { return 0.0; }

private:
    ~CommissionDescription() override = default;
    const K7RCommissionStage stage_;
    const double value_;
};

class CommissionDescriptions final : public RefCounted<IK7RCommissionDescriptionsCollection>
{
public:
    CommissionDescriptions() : RefCounted("IK7RCommissionDescriptionsCollection")
    {
        items_.push_back(make<CommissionDescription>(K7RCommissionStage::OpenCommission, PerLot));
        items_.push_back(make<CommissionDescription>(K7RCommissionStage::CloseCommission, PerLot));
    }
    int size() override { return static_cast<int>(items_.size()); }
    IK7RCommissionDescription* get(int index) override
    {
        if (index < 0 || index >= size())
            return nullptr;
        return items_[static_cast<std::size_t>(index)].share();
    }

private:
    ~CommissionDescriptions() override = default;
    std::vector<Ref<CommissionDescription>> items_;
};

// Whether the plan charges the instrument of this offer id.
bool charged(const char* offerId)
{
    if (!offerId)
        return false;
    const int i = market::findInstrument(offerId);
    return i >= 0 && market::instruments()[static_cast<std::size_t>(i)].instrumentType == ForexType;
}

// One way of a position, for an account to charge.
double oneWay(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount)
{
    return offer && account ? planCommission(offer->getOfferID(), amount) : 0.0;
}

Values calcArgs(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount, const char* buySell)
{
    return {text(offer ? offer->getOfferID() : nullptr), text(account ? account->getAccountID() : nullptr),
            number(amount), text(buySell)};
}

}  // namespace

double planCommission(const char* offerId, int amount)
{
    if (amount <= 0 || !charged(offerId))
        return 0.0;
    return amount / LotUnits * PerLot;
}

CommissionsProvider::CommissionsProvider(std::uint64_t session)
    : LoadingProvider("IK7RCommissionsProvider", session, K7RCommissionStatus::CommissionStatusDisabled)
{
}

IK7RCommissionDescriptionsCollection* CommissionsProvider::getCommissionDescriptions(const char* offerID,
                                                                                     std::uint64_t accountKind)
{
    if (nullAnswer("IK7RCommissionsProvider::getCommissionDescriptions", {text(offerID), number(accountKind)}))
        return nullptr;
    if (!charged(offerID))
        return nullptr;
    return make<CommissionDescriptions>().detach();
}

K7RCommissionStatus CommissionsProvider::getStatus()
{
    return answer("IK7RCommissionsProvider::getStatus", currentStatus());
}

double CommissionsProvider::calcOpenCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                               const char* buySell, double rate)
{
    Values args = calcArgs(offer, account, amount, buySell);
    args.push_back(number(rate));
    journal("velvix", "IK7RCommissionsProvider::calcOpenCommission", std::move(args));
    return answer("IK7RCommissionsProvider::calcOpenCommission", oneWay(offer, account, amount));
}

double CommissionsProvider::calcCloseCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                                const char* buySell, double rate)
{
    Values args = calcArgs(offer, account, amount, buySell);
    args.push_back(number(rate));
    journal("velvix", "IK7RCommissionsProvider::calcCloseCommission", std::move(args));
    return answer("IK7RCommissionsProvider::calcCloseCommission", oneWay(offer, account, amount));
}

double CommissionsProvider::calcTotalCommission(IK7ROfferTableRow* offer, IK7RAccountTableRow* account, int amount,
                                                const char* buySell, double openRate, double closeRate)
{
    Values args = calcArgs(offer, account, amount, buySell);
    args.push_back(number(openRate));
    args.push_back(number(closeRate));
    journal("velvix", "IK7RCommissionsProvider::calcTotalCommission", std::move(args));
    return answer("IK7RCommissionsProvider::calcTotalCommission", 2.0 * oneWay(offer, account, amount));
}

// --- listeners and status ----------------------------------------------------------------------

void CommissionsProvider::subscribe(IK7RCommissionProviderListener* listener)
{
    journal("velvix", "IK7RCommissionsProvider::subscribe", {flag(listener != nullptr)});
    if (!listener)
        return;
    auto ref = ListenerRef<IK7RCommissionProviderListener>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.add(std::move(ref));
    subscribersChanged_.notify_all();
}

void CommissionsProvider::unsubscribe(IK7RCommissionProviderListener* listener)
{
    journal("velvix", "IK7RCommissionsProvider::unsubscribe", {flag(listener != nullptr)});
    ListenerList<IK7RCommissionProviderListener>::Entry dropped;  // given back after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = listeners_.remove(listener);
    subscribersChanged_.notify_all();
}

// A snapshot of the entries, each re-checked just before its call, made with no lock held.
template <class Call>
void CommissionsProvider::deliver(Call call)
{
    listeners_.deliver(mutex_, call);
}

void CommissionsProvider::deliverStatus(int status)
{
    deliver([status](IK7RCommissionProviderListener* l) {
        l->onChangeCommissionProviderStatus(static_cast<K7RCommissionStatus>(status));
    });
}

void CommissionsProvider::deliverNeedUpdate()
{
    deliver([](IK7RCommissionProviderListener* l) { l->onNeedUpdateCommissions(); });
}

void CommissionsProvider::loggedIn()
{
    startLoad(K7RCommissionStatus::CommissionStatusLoading, K7RCommissionStatus::CommissionStatusReady,
              serviceDelayMs());
}

void CommissionsProvider::loggedOut()
{
    stopLoad(K7RCommissionStatus::CommissionStatusDisabled);
}

int CommissionsProvider::subscribers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return listeners_.size();
}

void answerUpdateCommissions(Session& session, const Request& request)
{
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CommandResponse), Text(request.id()));
    session.deliverRequestCompleted(request.id(), response.get());
    SessionServices::instance().commissions(session.simId())->deliverNeedUpdate();
}

bool CommissionsProvider::waitSubscribers(int n, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return subscribersChanged_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                        [&] { return listeners_.size() == n; });
}

}  // namespace sim::velvix
