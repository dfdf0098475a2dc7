// source/Subscription.h: the steps every subscribe and unsubscribe method of a listener pair
// takes with the library object it subscribes to, and the refusal of None before them.
#pragma once

#include <boost/python.hpp>

#include "CallPolicies.h"
#include "Callback.h"
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

// The subscription an unsubscribe names, as the call policies count it.
template <class Target, class Impl>
SubscriptionKey subscriptionKey(const Target& target, long long updateType, Impl& listener)
{
    return SubscriptionKey{subscriptionTarget(target), updateType,
                           boost::python::detail::wrapper_base_::get_owner(listener)};
}

// The steps of an unsubscribe around `letGo`, which asks the library to let the subscription go.
// The listener's last subscription: no callback reaches the override once this returns. Others
// left (held there or elsewhere): the library goes on delivering to the listener, which must not
// be stopped; a running callback is still waited for.
template <class LetGo>
void unsubscribeSteps(APythonCallback& callback, const SubscriptionKey& key, LetGo letGo)
{
    if (subscriptionsLeftAfter(key) == 0)
    {
        callback.stopAndWait();
        letGo();
        return;
    }
    letGo();
    callback.waitWhileRunning();
    // The wait let the interpreter lock go: another thread may have taken the others away.
    if (subscriptionsLeftAfter(key) == 0)
        callback.stopAndWait();
}

template <auto Unsubscribe, class Impl>
void unsubscribeListener(detail::TargetOf<Unsubscribe>& target, Impl* listener)
{
    Impl& impl = requireListener(listener);
    unsubscribeSteps(impl, subscriptionKey(target, kNoUpdateType, impl),
                     [&] { (target.*Unsubscribe)(impl.helper()); });
}

} }  // namespace vexa2::python
