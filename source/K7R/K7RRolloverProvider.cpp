// source/K7R/K7RRolloverProvider.cpp: the K7RRolloverProvider class: an instrument's rollover values
// for an account, the provider's status, its listeners, and the refresh of the rollover profiles.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "CallPolicies.h"
#include "K7R/K7RRolloverProviderListener.h"
#include "K7R/K7RSessionServices.h"
#include "ObjectHandles.h"
#include "Subscription.h"

namespace {

namespace bp = boost::python;
using namespace vexa2::python;
using Listener = K7RRolloverProviderListenerImpl;

// The listener remembers the provider that holds it until the matching unsubscribe.
void subscribe(IK7RRolloverProvider& provider, Listener* listener)
{
    subscribeListener<&IK7RRolloverProvider::subscribe>(provider, listener);
    listener->subscribedTo(&provider);
}

// The library counts no reference of its own to a listener, so its unsubscribe waits for a
// delivery to it already under way, which may need the interpreter lock.
void unsubscribe(IK7RRolloverProvider& provider, Listener* listener)
{
    Listener& impl = requireListener(listener);
    unsubscribeSteps(impl, subscriptionKey(provider, kNoUpdateType, impl), [&] {
        ScopedGilRelease release;
        provider.unsubscribe(impl.helper());
    });
    impl.unsubscribedFrom(&provider);
}

}  // namespace

void exportRolloverProvider()
{
    exportRolloverProviderListener();

    using P = IK7RRolloverProvider;
    bp::class_<P, LibraryHandle<P>, boost::noncopyable>(
        "K7RRolloverProvider", "The class is used for obtaining the information about rollovers.",
        bp::no_init)
        .def("get_rollover_buy", &P::getRolloverBuy,
             "The method is used to get the value of Rollover Buy with specified parameters.")
        .def("get_rollover_sell", &P::getRolloverSell,
             "The method is used to get the value of Rollover Sell with specified parameters.")
        .add_property("status", &P::getStatus,
                      "The method is used to get the current status of a rollover.")
        .def("subscribe", &subscribe, incref_arg_value_policy<1, P>(),
             "The method is used for subscribing to rollover updating.")
        .def("unsubscribe", &unsubscribe, decref_arg_value_policy<1, P>(),
             "The method is used for unsubscribing from rollover updating.")
        .def("refresh_rollover_profiles", &P::refreshRolloverProfiles,
             "The method is used to refresh rollover profiles.");
}
