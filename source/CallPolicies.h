// source/CallPolicies.h: the call policies that registrations attach to bound functions: letting
// the interpreter lock go around a blocking call, keeping a subscribed Python listener alive, and
// storing the table manager listener on the session object.
//
// Letting the lock go. Boost.Python calls a policy's precall and postcall around the bound
// function, but an exception skips postcall, and the exception is then translated into a Python
// error, which needs the lock. So the release cannot live in the hooks: `withoutGil(f)` wraps f in
// a callable that holds a ScopedGilRelease for exactly the call of f. The arguments are converted
// before it (lock held) and the result after it (lock held again); the destructor takes the lock
// back on every way out, a raise included. The saved thread state is a local of the call, so two
// threads blocked at once each get their own back in whatever order they return, and no lock or
// shared stack is needed. What a registration attaches is a `without_gil_policy` visitor:
//
//     .def("wait_get", withoutGil(&waitGet), "docstring")
//
// Extra call policies given to that def still apply. The wrapped function runs without the lock,
// so it must neither take nor return Python objects; raising through raiseMessage is fine (that
// takes the lock itself).
#pragma once

#include <boost/python.hpp>

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "PythonExit.h"

namespace vexa2 { namespace python {

// Lets the calling thread's lock go for its lifetime. The thread must hold the lock. Taking it
// back never unwinds: at exit the thread parks in the destructor instead (see PythonExit.h).
class ScopedGilRelease
{
public:
    ScopedGilRelease() : m_state(PyEval_SaveThread()) {}
    ~ScopedGilRelease() { restoreThread(m_state); }
    ScopedGilRelease(const ScopedGilRelease&) = delete;
    ScopedGilRelease& operator=(const ScopedGilRelease&) = delete;

private:
    PyThreadState* m_state;
};

namespace detail {

template <class T>
constexpr bool isPythonValue =
    std::is_base_of_v<boost::python::api::object_base, std::remove_cv_t<std::remove_reference_t<T>>>;

template <class F>
struct LockFreeCallable : std::false_type {};
template <class R, class... A>
struct LockFreeCallable<R (*)(A...)>
    : std::bool_constant<!isPythonValue<R> && !(isPythonValue<A> || ...)> {};
template <class R, class C, class... A>
struct LockFreeCallable<R (C::*)(A...)>
    : std::bool_constant<!isPythonValue<R> && !(isPythonValue<A> || ...)> {};
template <class R, class C, class... A>
struct LockFreeCallable<R (C::*)(A...) const>
    : std::bool_constant<!isPythonValue<R> && !(isPythonValue<A> || ...)> {};

// The callable Boost.Python invokes with the converted arguments.
template <class F>
struct CallWithoutGil
{
    F function;

    template <class... A>
    decltype(auto) operator()(A&&... args) const
    {
        ScopedGilRelease release;
        return std::invoke(function, std::forward<A>(args)...);
    }
};

}  // namespace detail

// The visitor a registration attaches in place of the plain function pointer.
template <class F>
class without_gil_policy : public boost::python::def_visitor<without_gil_policy<F>>
{
    static_assert(detail::LockFreeCallable<F>::value,
                  "a function bound without the lock must neither take nor return Python objects");

public:
    explicit without_gil_policy(F function) : m_function(function) {}

private:
    friend class boost::python::def_visitor_access;

    template <class Class, class Options>
    void visit(Class& cls, const char* name, const Options& options) const
    {
        using Wrapped = typename Class::wrapped_type;
        cls.def(name,
                boost::python::make_function(
                    detail::CallWithoutGil<F>{m_function}, options.policies(), options.keywords(),
                    boost::python::detail::get_signature(m_function, static_cast<Wrapped*>(nullptr))),
                options.doc());
    }

    F m_function;
};

template <class F>
without_gil_policy<F> withoutGil(F function)
{
    return without_gil_policy<F>(function);
}

// A call that waits for the library's threads, made on one of them (inside a listener callback,
// or on the late-call worker), would wait for good: it is refused at once with RuntimeError,
// before anything is done. The function raises; the policy refuses in its precall, so that a
// registration attaches it with one argument:
//
//     .def("wait_get", withoutGil(&waitGet), refuse_on_library_thread_policy<>(), "docstring")
void refuseWaitOnLibraryThread();
extern const char* const kWaitOnLibraryThread;

template <class Base = boost::python::default_call_policies>
struct refuse_on_library_thread_policy : Base
{
    template <class ArgumentPackage>
    static bool precall(const ArgumentPackage& args)
    {
        if (onLibraryThread())
        {
            PyErr_SetString(PyExc_RuntimeError, kWaitOnLibraryThread);
            return false;
        }
        return Base::precall(args);
    }
};

// The subscription references. Each subscribe that succeeded holds one reference to its Python
// listener until an unsubscribe matches it: same library object, same update type where the call
// names one, same listener. Guarded by the interpreter lock (only postcalls change them). A counted
// listener is kept alive by those references, so its address cannot be reused meanwhile.
constexpr long long kNoUpdateType = -(1LL << 62);  // a call that names no update type

struct SubscriptionKey
{
    const void* target;  // the library object, not its Python wrapper
    long long updateType;
    PyObject* listener;
};

// What a subscription is made at: by default the object the call's self converts to. A wrapper of
// the module's own over a library object (the table) gives that library object, so that two
// wrappers of one table count as one.
template <class T>
const void* subscriptionTarget(const T& self)
{
    return &self;
}

void addSubscriptionReference(const SubscriptionKey& key);
// Gives one back if `key` holds any; false (and nothing given back) otherwise.
bool dropSubscriptionReference(const SubscriptionKey& key);
// The subscriptions the listener would still hold once an unsubscribe with `key` is matched.
int subscriptionsLeftAfter(const SubscriptionKey& key);
// Of those, the ones `key` matches: same object, update type and listener.
int matchingSubscriptionsLeftAfter(const SubscriptionKey& key);
// For tests and diagnostics: all the subscription references the listener holds.
int subscriptionReferences(PyObject* listener);

namespace detail {

// Item N of the call's argument tuple (0 is self), or null with IndexError set.
PyObject* callArgument(PyObject* args, std::size_t n);

// The subscription a subscribe or unsubscribe call names: self as a Target, then the update type
// when the listener comes second, then the listener. False with a Python error set if the
// arguments are not what the call took.
template <std::size_t N, class Target>
bool subscriptionKeyOf(PyObject* args, SubscriptionKey& key)
{
    static_assert(N == 1 || N == 2, "the listener comes first or after the update type");
    PyObject* self = callArgument(args, 0);
    PyObject* listener = self ? callArgument(args, N) : nullptr;
    if (!listener)
        return false;
    boost::python::extract<const Target&> target(self);
    if (!target.check())
    {
        PyErr_SetString(PyExc_TypeError, "call policy: self is not the subscribed object");
        return false;
    }
    key.target = subscriptionTarget(target());
    key.updateType = kNoUpdateType;
    key.listener = listener;
    if constexpr (N == 2)
    {
        // The value the bound function passed on: the binding library reads an enum as a C long.
        const long type = PyLong_AsLong(callArgument(args, 1));
        if (type == -1 && PyErr_Occurred())
            PyErr_Clear();
        key.updateType = static_cast<int>(type);
    }
    return true;
}

}  // namespace detail

// On a successful subscribe: argument N gains one reference, counted for the subscription made
// at self (a Target).
template <std::size_t N, class Target, class Base = boost::python::default_call_policies>
struct incref_arg_value_policy : Base
{
    template <class ArgumentPackage>
    static PyObject* postcall(const ArgumentPackage& args, PyObject* result)
    {
        result = Base::postcall(args, result);
        if (!result)
            return nullptr;
        SubscriptionKey key;
        if (!detail::subscriptionKeyOf<N, Target>(args, key))
        {
            Py_DECREF(result);
            return nullptr;
        }
        addSubscriptionReference(key);
        return result;
    }
};

// On a successful unsubscribe: argument N gives back one reference, if it holds one for that
// subscription.
template <std::size_t N, class Target, class Base = boost::python::default_call_policies>
struct decref_arg_value_policy : Base
{
    template <class ArgumentPackage>
    static PyObject* postcall(const ArgumentPackage& args, PyObject* result)
    {
        result = Base::postcall(args, result);
        if (!result)
            return nullptr;
        SubscriptionKey key;
        if (!detail::subscriptionKeyOf<N, Target>(args, key))
        {
            Py_DECREF(result);
            return nullptr;
        }
        dropSubscriptionReference(key);
        return result;
    }
};

// The session keeps the listener given to use_table_manager(mode, listener) alive, one at a time.
struct useTableManager_policy : boost::python::default_call_policies
{
    using Base = boost::python::default_call_policies;

    static constexpr const char* attributeName = "__previos_table_listener";

    template <class ArgumentPackage>
    static PyObject* postcall(const ArgumentPackage& args, PyObject* result)
    {
        result = Base::postcall(args, result);
        if (!result)
            return nullptr;
        PyObject* session = detail::callArgument(args, 0);
        PyObject* listener = session ? detail::callArgument(args, 2) : nullptr;
        if (!listener || PyObject_SetAttrString(session, attributeName, listener) != 0)
        {
            Py_DECREF(result);
            return nullptr;
        }
        return result;
    }
};

} }  // namespace vexa2::python
