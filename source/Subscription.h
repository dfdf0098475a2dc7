// source/Subscription.h: the steps every subscribe and unsubscribe method of a listener pair
// takes with the library object it subscribes to, and the refusal of None before them.
#pragma once

#include "Messages.h"

namespace vexa2 { namespace python {

// None would reach the library as a null listener; it is refused here, before any library call,
// with ValueError (the argument has the right kind but no object).
template <class Impl>
Impl& requireListener(Impl* listener)
{
    if (!listener)
        raiseMessage(PyExc_ValueError, "The listener must not be None");
    return *listener;
}

namespace detail {

// The library class a subscribe or unsubscribe operation belongs to.
template <class Operation>
struct SubscriptionTarget;
template <class Target, class Interface>
struct SubscriptionTarget<void (Target::*)(Interface*)>
{
    using type = Target;
};

template <auto Operation>
using TargetOf = typename SubscriptionTarget<decltype(Operation)>::type;

}  // namespace detail

// The library adds its own reference if it keeps the helper; the subscribe call policy keeps the
// Python listener alive until it is unsubscribed.
template <auto Subscribe, class Impl>
void subscribeListener(detail::TargetOf<Subscribe>& target, Impl* listener)
{
    Impl& impl = requireListener(listener);
    impl.reset();
    (target.*Subscribe)(impl.helper());
}

// No callback of the listener runs once the library has let it go.
template <auto Unsubscribe, class Impl>
void unsubscribeListener(detail::TargetOf<Unsubscribe>& target, Impl* listener)
{
    Impl& impl = requireListener(listener);
    impl.stopAndWait();
    (target.*Unsubscribe)(impl.helper());
}

} }  // namespace vexa2::python
