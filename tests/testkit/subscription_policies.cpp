// tests/testkit/subscription_policies.cpp: a stand-in subscriber carrying the subscribe,
// unsubscribe and table-manager call policies, with calls that succeed and calls that raise.
#include <boost/python.hpp>

#include "Bindings.h"
#include "CallPolicies.h"

using namespace boost::python;
using vexa2::python::decref_arg_value_policy;
using vexa2::python::incref_arg_value_policy;
using vexa2::python::useTableManager_policy;

namespace {

struct Subscriber
{
    void take(object) {}
    void takeUpdate(int, object) {}
    void refuse(object)
    {
        PyErr_SetString(PyExc_ValueError, "refused");
        throw_error_already_set();
    }
    void refuseUpdate(int, object) { refuse(object()); }
    void useTableManager(int, object) {}
};

int subscriptionReferences(object listener)
{
    return vexa2::python::subscriptionReferences(listener.ptr());
}

}  // namespace

void bindSubscriptionPolicies()
{
    class_<Subscriber>("Subscriber", "Takes listeners the way the library's subscribers do.")
        .def("subscribe", &Subscriber::take, incref_arg_value_policy<1>(), "Subscribes.")
        .def("unsubscribe", &Subscriber::take, decref_arg_value_policy<1>(), "Unsubscribes.")
        .def("subscribe_refused", &Subscriber::refuse, incref_arg_value_policy<1>(), "Raises.")
        .def("unsubscribe_refused", &Subscriber::refuse, decref_arg_value_policy<1>(), "Raises.")
        .def("subscribe_update", &Subscriber::takeUpdate, incref_arg_value_policy<2>(), "Subscribes.")
        .def("unsubscribe_update", &Subscriber::takeUpdate, decref_arg_value_policy<2>(), "Unsubscribes.")
        .def("subscribe_update_refused", &Subscriber::refuseUpdate, incref_arg_value_policy<2>(), "Raises.")
        .def("unsubscribe_update_refused", &Subscriber::refuseUpdate, decref_arg_value_policy<2>(), "Raises.")
        .def("use_table_manager", &Subscriber::useTableManager, useTableManager_policy(), "Keeps the listener.");
    def("subscription_references", &subscriptionReferences, "Subscription references an object holds.");
}
