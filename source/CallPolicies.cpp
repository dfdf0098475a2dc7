// source/CallPolicies.cpp: the count of subscription references behind the subscribe and
// unsubscribe call policies, per subscription, so that an unsubscribe gives back only what its own
// subscription holds, and the refusal of waits on the library's threads.
#include "CallPolicies.h"

#include "Messages.h"

#include <functional>
#include <unordered_map>
#include <utility>

namespace vexa2 { namespace python {

namespace {

struct SameSubscription
{
    bool operator()(const SubscriptionKey& a, const SubscriptionKey& b) const
    {
        return a.target == b.target && a.updateType == b.updateType && a.listener == b.listener;
    }
};

struct HashSubscription
{
    std::size_t operator()(const SubscriptionKey& key) const
    {
        std::size_t hash = std::hash<const void*>()(key.target);
        hash = hash * 31 + std::hash<long long>()(key.updateType);
        return hash * 31 + std::hash<const void*>()(key.listener);
    }
};

// Only touched with the interpreter lock held. Entries go at zero, so the maps hold only the
// subscriptions and listeners of right now.
struct SubscriptionCounts
{
    std::unordered_map<SubscriptionKey, int, HashSubscription, SameSubscription> bySubscription;
    std::unordered_map<PyObject*, int> byListener;
};

SubscriptionCounts& subscriptionCounts()
{
    static SubscriptionCounts counts;
    return counts;
}

template <class Map, class Key>
int countOf(const Map& map, const Key& key)
{
    const auto found = map.find(key);
    return found == map.end() ? 0 : found->second;
}

template <class Map, class Key>
void lower(Map& map, const Key& key)
{
    const auto found = map.find(key);
    if (--found->second == 0)
        map.erase(found);
}

}  // namespace

void addSubscriptionReference(const SubscriptionKey& key)
{
    Py_INCREF(key.listener);
    auto& counts = subscriptionCounts();
    ++counts.bySubscription[key];
    ++counts.byListener[key.listener];
}

bool dropSubscriptionReference(const SubscriptionKey& key)
{
    auto& counts = subscriptionCounts();
    if (countOf(counts.bySubscription, key) == 0)
        return false;
    lower(counts.bySubscription, key);
    lower(counts.byListener, key.listener);
    Py_DECREF(key.listener);
    return true;
}

int subscriptionsLeftAfter(const SubscriptionKey& key)
{
    const auto& counts = subscriptionCounts();
    const int held = countOf(counts.byListener, key.listener);
    return countOf(counts.bySubscription, key) > 0 ? held - 1 : held;
}

int matchingSubscriptionsLeftAfter(const SubscriptionKey& key)
{
    const int held = countOf(subscriptionCounts().bySubscription, key);
    return held > 0 ? held - 1 : 0;
}

int subscriptionReferences(PyObject* listener)
{
    return countOf(subscriptionCounts().byListener, listener);
}

const char* const kWaitOnLibraryThread =
    "Cannot wait for the library inside a listener callback: the callback runs on the library's "
    "thread, which the wait would block for good. Make this call from another Python thread.";

void refuseWaitOnLibraryThread()
{
    if (onLibraryThread())
        raiseMessage(PyExc_RuntimeError, kWaitOnLibraryThread);
}

namespace detail {

PyObject* callArgument(PyObject* args, std::size_t n)
{
    if (n >= static_cast<std::size_t>(PyTuple_GET_SIZE(args)))
    {
        PyErr_SetString(PyExc_IndexError, "call policy argument position out of range");
        return nullptr;
    }
    return PyTuple_GET_ITEM(args, n);
}

}  // namespace detail

} }  // namespace vexa2::python
