// source/ListenerSubscription.h: subscribing a listener pair at a library object directly on the
// calling thread: None refused, the callback guard reset before the library-side object is handed
// over, and a running callback waited for before it is taken back. The call policies of the
// registration keep the Python listener alive in between.
#pragma once

#include <Python.h>

#include "Messages.h"

namespace vexa2 { namespace python {

// None arrives as a null listener; refused before any library call.
template <class Impl>
Impl& requireListener(Impl* listener)
{
    if (!listener)
        raiseMessage(PyExc_ValueError, "The listener must not be None");
    return *listener;
}

namespace detail {

template <class Member>
struct SubscriptionTarget;
template <class Target, class Interface>
struct SubscriptionTarget<void (Target::*)(Interface*)>
{
    using type = Target;
};

}  // namespace detail

// Bound as `&subscribeListener<&IK7RTableManager::subscribeUpdatesProcessStatus, Impl>`.
template <auto Subscribe, class Impl>
void subscribeListener(typename detail::SubscriptionTarget<decltype(Subscribe)>::type& target,
                       Impl* listener)
{
    Impl& impl = requireListener(listener);
    impl.reset();
    (target.*Subscribe)(impl.helper());
}

template <auto Unsubscribe, class Impl>
void unsubscribeListener(typename detail::SubscriptionTarget<decltype(Unsubscribe)>::type& target,
                         Impl* listener)
{
    Impl& impl = requireListener(listener);
    impl.stopAndWait();
    (target.*Unsubscribe)(impl.helper());
}

} }  // namespace vexa2::python
