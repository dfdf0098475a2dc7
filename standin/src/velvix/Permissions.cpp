// The permission checker: what the demo account may do, question by question as the dealing desk
// does it, so that whatever the checker enables the server accepts and whatever it refuses the
// checker disables. For the offers' instruments: market orders that open or close a trade (not
// changed nor deleted: they execute at once), entry orders, and a trade's stops and limits are
// enabled, each created, changed and deleted, and so is a change of the offer subscription; the
// rest is disabled: quotes (the account deals without a dealer), OCO, OTO and contingency groups,
// net quantity orders and trailing orders. Any other instrument hides every question. Each
// question is journaled as "IK7RPermissionChecker::<name>" and takes a "value" fault as its answer.
#include <cstring>

#include "LoginRules.h"
#include "Market.h"
#include "SessionServices.h"

namespace sim::velvix
{

namespace
{

bool demoInstrument(const char* instrument)
{
    if (!instrument)
        return false;
    for (const market::Instrument& known : market::instruments())
        if (std::strcmp(known.symbol, instrument) == 0)
            return true;
    return false;
}

// Whether the server does what a question asks about.
enum class Server
{
    Does,
    DoesNot
};

K7RPermissionStatus ask(const char* op, const char* instrument, Server server)
{
    journal("velvix", op, {text(instrument)});
    K7RPermissionStatus status = K7RPermissionStatus::PermissionHidden;
    if (demoInstrument(instrument))
        status = server == Server::Does ? K7RPermissionStatus::PermissionEnabled
                                        : K7RPermissionStatus::PermissionDisabled;
    return answer(op, status);
}

// The server trails no order, whatever the trailing properties it sends.
K7RPermissionStatus askTrailing(const char* op)
{
    journal("velvix", op);
    return answer(op, K7RPermissionStatus::PermissionDisabled);
}

class PermissionChecker final : public RefCounted<IK7RPermissionChecker>
{
public:
    PermissionChecker() : RefCounted("IK7RPermissionChecker") {}

    K7RPermissionStatus canCreateMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateMarketOpenOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canChangeMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeMarketOpenOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canDeleteMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteMarketOpenOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canCreateMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateMarketCloseOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canChangeMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeMarketCloseOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canDeleteMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteMarketCloseOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canCreateEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateEntryOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canChangeEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeEntryOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canDeleteEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteEntryOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canCreateStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateStopLimitOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canChangeStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeStopLimitOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canDeleteStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteStopLimitOrder", instrument, Server::Does);
    }
    K7RPermissionStatus canRequestQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canRequestQuote", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canAcceptQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canAcceptQuote", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canDeleteQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteQuote", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canCreateOco(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateOco", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canCreateOto(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateOto", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canJoinToNewContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canJoinToNewContingencyGroup", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canJoinToExistingContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canJoinToExistingContingencyGroup", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canRemoveFromContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canRemoveFromContingencyGroup", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canChangeOfferSubscription(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeOfferSubscription", instrument, Server::Does);
    }
    K7RPermissionStatus canCreateNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateNetCloseOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canChangeNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeNetCloseOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canDeleteNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteNetCloseOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canCreateNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateNetStopLimitOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canChangeNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeNetStopLimitOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canDeleteNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteNetStopLimitOrder", instrument, Server::DoesNot);
    }
    K7RPermissionStatus canUseDynamicTrailingForStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForStop");
    }
    K7RPermissionStatus canUseDynamicTrailingForLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForLimit");
    }
    K7RPermissionStatus canUseDynamicTrailingForEntryStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForEntryStop");
    }
    K7RPermissionStatus canUseDynamicTrailingForEntryLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForEntryLimit");
    }
    K7RPermissionStatus canUseFluctuateTrailingForStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForStop");
    }
    K7RPermissionStatus canUseFluctuateTrailingForLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForLimit");
    }
    K7RPermissionStatus canUseFluctuateTrailingForEntryStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForEntryStop");
    }
    K7RPermissionStatus canUseFluctuateTrailingForEntryLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForEntryLimit");
    }

private:
    ~PermissionChecker() override = default;
};

}  // namespace

IK7RPermissionChecker* makePermissionChecker()
{
    return make<PermissionChecker>().detach();
}

}  // namespace sim::velvix
