// source/CallPolicies.cpp: the count of subscription references behind the subscribe and
// unsubscribe call policies, so that an unmatched unsubscribe gives nothing back, and the refusal
// of waits on the library's threads.
#include "CallPolicies.h"

#include "Messages.h"

#include <unordered_map>

namespace vexa2 { namespace python {

namespace {

// Only touched with the interpreter lock held. Entries go at zero, so the map holds only the
// listeners subscribed right now.
std::unordered_map<PyObject*, int>& subscriptionCounts()
{
    static std::unordered_map<PyObject*, int> counts;
    return counts;
}

}  // namespace

void addSubscriptionReference(PyObject* object)
{
    Py_INCREF(object);
    ++subscriptionCounts()[object];
}

bool dropSubscriptionReference(PyObject* object)
{
    auto& counts = subscriptionCounts();
    const auto found = counts.find(object);
    if (found == counts.end())
        return false;
    if (--found->second == 0)
        counts.erase(found);
    Py_DECREF(object);
    return true;
}

int subscriptionReferences(PyObject* object)
{
    const auto& counts = subscriptionCounts();
    const auto found = counts.find(object);
    return found == counts.end() ? 0 : found->second;
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
