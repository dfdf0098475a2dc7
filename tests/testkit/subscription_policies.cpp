// tests/testkit/subscription_policies.cpp: a stand-in subscriber carrying the subscribe,
// unsubscribe and table-manager call policies, with calls that succeed and calls that raise.
#include <boost/python.hpp>

#include <memory>

#include "Bindings.h"
#include "CallPolicies.h"

using namespace boost::python;
using vexa2::python::decref_arg_value_policy;
using vexa2::python::incref_arg_value_policy;
using vexa2::python::useTableManager_policy;

namespace {

// Stands for one library object; copies stand for the same one, as two Python wrappers of one
// table do.
struct Subscriber
{
    std::shared_ptr<const char> target = std::make_shared<const char>();

    Subscriber sharing() const { return *this; }
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

const void* subscriptionTarget(const Subscriber& subscriber)
{
    return subscriber.target.get();
}

int subscriptionReferences(object listener)
{
    return vexa2::python::subscriptionReferences(listener.ptr());
}

}  // namespace

void bindSubscriptionPolicies()
{
    class_<Subscriber>("Subscriber", "Takes listeners the way the library's subscribers do.")
        .def("sharing", &Subscriber::sharing, "Another subscriber over the same object.")
        .def("subscribe", &Subscriber::take, incref_arg_value_policy<1, Subscriber>(), "Subscribes.")
        .def("unsubscribe", &Subscriber::take, decref_arg_value_policy<1, Subscriber>(), "Unsubscribes.")
        .def("subscribe_refused", &Subscriber::refuse, incref_arg_value_policy<1, Subscriber>(), "Raises.")
        .def("unsubscribe_refused", &Subscriber::refuse, decref_arg_value_policy<1, Subscriber>(), "Raises.")
        .def("subscribe_update", &Subscriber::takeUpdate, incref_arg_value_policy<2, Subscriber>(), "Subscribes.")
        .def("unsubscribe_update", &Subscriber::takeUpdate, decref_arg_value_policy<2, Subscriber>(), "Unsubscribes.")
        .def("subscribe_update_refused", &Subscriber::refuseUpdate, incref_arg_value_policy<2, Subscriber>(), "Raises.")
        .def("unsubscribe_update_refused", &Subscriber::refuseUpdate, decref_arg_value_policy<2, Subscriber>(), "Raises.")
        .def("use_table_manager", &Subscriber::useTableManager, useTableManager_policy(), "Keeps the listener.");
    def("subscription_references", &subscriptionReferences, "Subscription references an object holds.");
}
