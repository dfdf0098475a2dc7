// source/K7R/K7RCommissionsProvider.cpp: the K7RCommissionsProvider class: an instrument's commission
// descriptions, the provider's status and listeners, and the commission calculations.
#include <boost/make_shared.hpp>
#include <boost/python.hpp>

#include <cstdint>

#include <velvix/Velvix.h>

#include "CallPolicies.h"
#include "K7R/K7RCommissionProviderListener.h"
#include "K7R/K7RSessionServices.h"
#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"
#include "Subscription.h"

namespace {

namespace bp = boost::python;
using namespace vexa2::python;

using Descriptions = K7RObjectIteratorContainer<IK7RCommissionDescriptionsCollection>;

bp::object commissionDescriptions(IK7RCommissionsProvider& provider, const char* offer,
                                  std::uint64_t accountKind)
{
    LibraryHandle<IK7RCommissionDescriptionsCollection> returned =
        makeLibraryHandle(provider.getCommissionDescriptions(offer, accountKind));
    if (!returned)
        return bp::object();
    // The container adds its own reference; the returned one goes with `returned`.
    return bp::object(boost::make_shared<Descriptions>(returned.get()));
}

}  // namespace

void exportCommissionsProvider()
{
    exportCommissionProviderListener();

    using P = IK7RCommissionsProvider;
    using Listener = K7RCommissionProviderListenerImpl;
    bp::class_<P, LibraryHandle<P>, boost::noncopyable>("K7RCommissionsProvider",
                                                        "Checks commissions.", bp::no_init)
        .def("get_commission_descriptions", &commissionDescriptions,
             "Gets the commission description.")
        .add_property("status", &P::getStatus, "Gets the commission status.")
        .def("subscribe", &subscribeListener<&P::subscribe, Listener>,
             incref_arg_value_policy<1, P>(), "Subscribes to commission updates.")
        .def("unsubscribe", &unsubscribeListener<&P::unsubscribe, Listener>,
             decref_arg_value_policy<1, P>(), "Unsubscribes from commission updates.")
        .def("calc_open_commission", &P::calcOpenCommission,
             "Calculates the commission incurred on opening a position with specified parameters.")
        .def("calc_close_commission", &P::calcCloseCommission,
             "Calculates the commission incurred on closing a position with specified parameters.")
        .def("calc_total_commission", &P::calcTotalCommission,
             "Calculates the commission incurred both on opening and closing a position with "
             "specified parameters.");

    exportCommissionDescription();
}
