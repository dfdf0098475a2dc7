// The permission checker: what the demo account may do. For the offers' instruments every kind of
// order is enabled, quotes are disabled (the account deals without a dealer); for any other
// instrument every answer is hidden. The trailing-order questions follow the server's system
// properties as they are when asked: TRAILING_DYNAMIC for a dynamic step, TRAILING_FLUCTUATE for
// a fixed one. Each question is journaled as "IK7RPermissionChecker::<name>" and takes a "value"
// fault as its answer.
#include <cstring>

#include "LoginRules.h"
#include "Market.h"
#include "SessionServices.h"
#include "SystemProperties.h"

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

enum class Kind
{
    Order,
    Quote
};

K7RPermissionStatus ask(const char* op, const char* instrument, Kind kind)
{
    journal("velvix", op, {text(instrument)});
    K7RPermissionStatus status = K7RPermissionStatus::PermissionHidden;
    if (demoInstrument(instrument))
        status = kind == Kind::Quote ? K7RPermissionStatus::PermissionDisabled : K7RPermissionStatus::PermissionEnabled;
    return answer(op, status);
}

// "Y" enables, any other value disables; a property the server does not send hides the question.
K7RPermissionStatus askTrailing(const char* op, const char* property)
{
    journal("velvix", op);
    K7RPermissionStatus status = K7RPermissionStatus::PermissionHidden;
    if (const std::optional<Text> value = systemProperty(property))
        status = *value == Text("Y") ? K7RPermissionStatus::PermissionEnabled : K7RPermissionStatus::PermissionDisabled;
    return answer(op, status);
}

class PermissionChecker final : public RefCounted<IK7RPermissionChecker>
{
public:
    PermissionChecker() : RefCounted("IK7RPermissionChecker") {}

    K7RPermissionStatus canCreateMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateMarketOpenOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeMarketOpenOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteMarketOpenOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteMarketOpenOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateMarketCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeMarketCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteMarketCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteMarketCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateEntryOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeEntryOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteEntryOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteEntryOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canRequestQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canRequestQuote", instrument, Kind::Quote);
    }
    K7RPermissionStatus canAcceptQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canAcceptQuote", instrument, Kind::Quote);
    }
    K7RPermissionStatus canDeleteQuote(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteQuote", instrument, Kind::Quote);
    }
    K7RPermissionStatus canCreateOco(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateOco", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateOto(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateOto", instrument, Kind::Order);
    }
    K7RPermissionStatus canJoinToNewContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canJoinToNewContingencyGroup", instrument, Kind::Order);
    }
    K7RPermissionStatus canJoinToExistingContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canJoinToExistingContingencyGroup", instrument, Kind::Order);
    }
    K7RPermissionStatus canRemoveFromContingencyGroup(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canRemoveFromContingencyGroup", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeOfferSubscription(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeOfferSubscription", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateNetCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeNetCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteNetCloseOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteNetCloseOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canCreateNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canCreateNetStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canChangeNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canChangeNetStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canDeleteNetStopLimitOrder(const char* instrument) override
    {
        return ask("IK7RPermissionChecker::canDeleteNetStopLimitOrder", instrument, Kind::Order);
    }
    K7RPermissionStatus canUseDynamicTrailingForStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForStop", "TRAILING_DYNAMIC");
    }
    K7RPermissionStatus canUseDynamicTrailingForLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForLimit", "TRAILING_DYNAMIC");
    }
    K7RPermissionStatus canUseDynamicTrailingForEntryStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForEntryStop", "TRAILING_DYNAMIC");
    }
    K7RPermissionStatus canUseDynamicTrailingForEntryLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseDynamicTrailingForEntryLimit", "TRAILING_DYNAMIC");
    }
    K7RPermissionStatus canUseFluctuateTrailingForStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForStop", "TRAILING_FLUCTUATE");
    }
    K7RPermissionStatus canUseFluctuateTrailingForLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForLimit", "TRAILING_FLUCTUATE");
    }
    K7RPermissionStatus canUseFluctuateTrailingForEntryStop() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForEntryStop", "TRAILING_FLUCTUATE");
    }
    K7RPermissionStatus canUseFluctuateTrailingForEntryLimit() override
    {
        return askTrailing("IK7RPermissionChecker::canUseFluctuateTrailingForEntryLimit", "TRAILING_FLUCTUATE");
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
