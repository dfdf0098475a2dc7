// source/K7R/K7RPermissionChecker.cpp: the K7RPermissionChecker class: which trading operations the
// server permits the user, per instrument and for trailing orders.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"
#include "Registrations.h"

namespace {

using C = IK7RPermissionChecker;

// The questions in the order of the library's operations, which is also their registration order.
struct InstrumentQuestion
{
    const char* name;
    K7RPermissionStatus (C::*ask)(const char*);
    const char* doc;
};

struct TrailingQuestion
{
    const char* name;
    K7RPermissionStatus (C::*ask)();
    const char* doc;
};

const char* const kReserved = "Reserved for future use.";

const InstrumentQuestion kInstrumentQuestions[] = {
    {"can_create_market_open_order", &C::canCreateMarketOpenOrder,
     "Determines whether the user may create open market orders."},
    {"can_change_market_open_order", &C::canChangeMarketOpenOrder,
     "Determines whether the user may change open market orders."},
    {"can_delete_market_open_order", &C::canDeleteMarketOpenOrder,
     "Determines whether the user may delete an open market order."},
    {"can_create_market_close_order", &C::canCreateMarketCloseOrder,
     "Determines whether the user may create close market orders."},
    {"can_change_market_close_order", &C::canChangeMarketCloseOrder,
     "Determines whether the user may change close market orders."},
    {"can_delete_market_close_order", &C::canDeleteMarketCloseOrder,
     "Determines whether the user may delete close market orders."},
    {"can_create_entry_order", &C::canCreateEntryOrder,
     "Determines whether the user may create entry orders."},
    {"can_change_entry_order", &C::canChangeEntryOrder,
     "Determines whether the user may change entry orders."},
    {"can_delete_entry_order", &C::canDeleteEntryOrder,
     "Determines whether the user may delete entry orders."},
    {"can_create_stop_limit_order", &C::canCreateStopLimitOrder,
     "Determines whether the user may create stop/limit orders."},
    {"can_change_stop_limit_order", &C::canChangeStopLimitOrder,
     "Determines whether the user may change stop/limit orders."},
    {"can_delete_stop_limit_order", &C::canDeleteStopLimitOrder,
     "Determines whether the user may delete stop/limit orders."},
    {"can_request_quote", &C::canRequestQuote, "Determines whether the user may request a quote."},
    {"can_accept_quote", &C::canAcceptQuote,
     "Determines whether the user may accept a quote provided by the dealer."},
    {"can_delete_quote", &C::canDeleteQuote,
     "Determines whether the user may delete a quote provided by the dealer."},
    {"can_create_oco", &C::canCreateOco, "Determines whether the user may create a new OCO order."},
    {"can_create_oto", &C::canCreateOto, "Determines whether the user may create a new OTO order."},
    {"can_join_to_new_contingency_group", &C::canJoinToNewContingencyGroup, kReserved},
    {"can_join_to_existing_contingency_group", &C::canJoinToExistingContingencyGroup, kReserved},
    {"can_remove_from_contingency_group", &C::canRemoveFromContingencyGroup,
     "Determines whether the user may remove an order from contingency group."},
    {"can_change_offer_subscription", &C::canChangeOfferSubscription,
     "Determines whether the user may change the offer subscription."},
    {"can_create_net_close_order", &C::canCreateNetCloseOrder,
     "Determines whether the user may create an order to close all positions for an instrument on "
     "an account."},
    {"can_change_net_close_order", &C::canChangeNetCloseOrder,
     "Determines whether the user may change an order to close all positions for an instrument on "
     "an account."},
    {"can_delete_net_close_order", &C::canDeleteNetCloseOrder,
     "Determines whether the user may delete an order to close all positions for an instrument on "
     "an account."},
    {"can_create_net_stop_limit_order", &C::canCreateNetStopLimitOrder,
     "Determines whether the user may create net stop/limit orders."},
    {"can_change_net_stop_limit_order", &C::canChangeNetStopLimitOrder,
     "Determines whether the user may change net stop/limit orders."},
    {"can_delete_net_stop_limit_order", &C::canDeleteNetStopLimitOrder,
     "Determines whether the user may delete net stop/limit orders."},
};

const TrailingQuestion kTrailingQuestions[] = {
    {"can_use_dynamic_trailing_for_stop", &C::canUseDynamicTrailingForStop,
     "Determines whether the user may use trailing stop orders with a dynamic step."},
    {"can_use_dynamic_trailing_for_limit", &C::canUseDynamicTrailingForLimit,
     "Determines whether the user may use trailing limit orders with a dynamic step."},
    {"can_use_dynamic_trailing_for_entry_stop", &C::canUseDynamicTrailingForEntryStop,
     "Determines whether the user may use trailing entry stop and net stop orders with a dynamic "
     "step."},
    {"can_use_dynamic_trailing_for_entry_limit", &C::canUseDynamicTrailingForEntryLimit,
     "Determines whether the user may use trailing entry limit and net limit orders with a dynamic "
     "step."},
    {"can_use_fluctuate_trailing_for_stop", &C::canUseFluctuateTrailingForStop,
     "Determines whether the user may use trailing stop orders with a fixed step."},
    {"can_use_fluctuate_trailing_for_limit", &C::canUseFluctuateTrailingForLimit,
     "Determines whether the user may use trailing limit orders with a fixed step."},
    {"can_use_fluctuate_trailing_for_entry_stop", &C::canUseFluctuateTrailingForEntryStop,
     "Determines whether the user may use trailing entry stop and net stop orders with a fixed "
     "step."},
    {"can_use_fluctuate_trailing_for_entry_limit", &C::canUseFluctuateTrailingForEntryLimit,
     "Determines whether the user may use trailing entry limit and net limit orders with a fixed "
     "step."},
};

}  // namespace

void exportPermissionChecker()
{
    namespace bp = boost::python;
    bp::class_<C, vexa2::python::LibraryHandle<C>, boost::noncopyable> checker(
        "K7RPermissionChecker", "Checks permissions.", bp::no_init);
    for (const InstrumentQuestion& question : kInstrumentQuestions)
        checker.def(question.name, question.ask, question.doc);
    for (const TrailingQuestion& question : kTrailingQuestions)
        checker.def(question.name, question.ask, question.doc);
}
