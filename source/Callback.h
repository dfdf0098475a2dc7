// source/Callback.h: the callback bridge. A library thread calls a listener's library-side object
// (a ListenerHelper); it forwards under the interpreter lock to the Python-side object (a
// ListenerImpl), which finds the Python subclass's override and calls it, reporting what it
// raises. Unsubscribing waits here for a running callback. A listener source states only its
// callback table: its CallbackSite lines and one forwarding line per callback.
#pragma once

#include <boost/python.hpp>

#include <cxxabi.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <type_traits>
#include <utility>

#include "AddRefImpl.h"
#include "ForkRenewal.h"
#include "GILGuard.h"
#include "PythonExit.h"
#include "Messages.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

// The part of a listener that lets an unsubscribe wait for a running callback.
class APythonCallback
{
public:
    APythonCallback();
    ~APythonCallback();
    APythonCallback(const APythonCallback&) = delete;
    APythonCallback& operator=(const APythonCallback&) = delete;

    // Before handing the library-side object to the library.
    void reset();

    // Before taking the library-side object back from the library: no callback starts after this
    // returns, and the running ones have ended. Not waited for on a library thread (inside any
    // callback of the module, or on the late-call worker): there the running ones may be waiting
    // for this thread (the one it is inside of, or another thread's that removes a listener of
    // this thread's in turn), so they are left to end on their own; each holds the Python object
    // and the library-side object until it has returned. Called with the interpreter lock held;
    // it is let go for the wait.
    void stopAndWait();

    // The wait of stopAndWait without the stop: for an unsubscribe that leaves the listener other
    // subscriptions, which the library goes on delivering. With the lock held, and not on a
    // library thread, as stopAndWait.
    void waitWhileRunning();

    bool stopped() const { return m_stopped.load(); }

private:
    friend class CallbackGuard;

    // How many callbacks are inside their guard, on any thread: never fewer than there are.
    int running() const;
    // A callback that ended, with the lock held: wakes a waiting unsubscribe.
    void leave();
    // A callback that the finalizing interpreter ended, without the lock.
    void leaveEnded();
    // In a fork's child: of the callbacks and the waits, only the forking thread's are left.
    static void renewAfterFork(void* self);

    // A callback's guard and an unsubscribe meet only with the interpreter lock held, which
    // orders them: a callback counts itself in m_running before it tests m_stopped, and an
    // unsubscribe sets m_stopped before it reads m_running. So the counts need no locked updates
    // on a callback's way, only where the lock is not held: a waiting unsubscribe reads them
    // without it (a count that changed wakes it under the mutex), and a callback that the
    // finalizing interpreter ends counts itself out in m_ended, sequentially consistent against
    // m_waiting, so that either it sees the waiter or the waiter sees it.
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_running{0};  // callbacks that entered their guard and did not leave it
    std::atomic<int> m_ended{0};    // of those, the ones ended by the finalizing interpreter
    std::atomic<int> m_waiting{0};  // threads waiting for them
};

// The scope of one dispatch: marks the listener busy unless it is being removed. Made with the
// interpreter lock held.
class CallbackGuard
{
public:
    explicit CallbackGuard(APythonCallback& callback);
    // Reached only by a thread that the finalizing interpreter ends inside the callback: the
    // lock is not held then.
    ~CallbackGuard();
    CallbackGuard(const CallbackGuard&) = delete;
    CallbackGuard& operator=(const CallbackGuard&) = delete;

    // False: the listener is being removed and the callback must do nothing.
    bool active() const { return m_active; }

    // The callback returned: ends the guard, with the lock held.
    void end();

    // How many of `callback`'s running callbacks this thread is inside of: what a fork's child
    // has left of them.
    static int heldByThisThread(const APythonCallback& callback);

private:
    APythonCallback& m_callback;
    CallbackGuard* m_outer = nullptr;  // the next active guard out on this thread
    bool m_active = false;
};

// Sets Exception 1052 for `name` and throws error_already_set; the interpreter lock is held.
[[noreturn]] void raisePureVirtualCalled(const char* name);

// One callback's row of its listener's table: the Python method, the name message 1052 shows,
// the report's function name and file, and the report line for a missing override (an override
// that raised reports line + 4).
struct CallbackSite
{
    const char* method;
    const char* qualifiedName;
    const char* reportName;
    const char* file;
    int line;

    // The method's name as an interned Python text, made on first use under the lock.
    PyObject* name() const
    {
        if (!m_name)
            m_name = PyUnicode_InternFromString(method);
        return m_name;
    }

    mutable PyObject* m_name = nullptr;  // never given back: the sites live as long as the module
};

// A library object that the library lends to a callback, handed to forward as it is: the handle
// Python receives is made inside forward, where a failure to make it is reported.
template <class T>
struct LentObject
{
    T* object;
};

template <class T>
LentObject<T> lent(T* object)
{
    return LentObject<T>{object};
}

namespace detail {

// Whatever escaped a callback's conversions or its override becomes the Python error that the
// report shows; the library thread never sees it. The error stays set, as after any report.
inline void reportEscaped(const CallbackSite& site, int line)
{
    boost::python::handle_exception();
    reportPythonError(site.reportName, site.file, line);
}

// The override found under `name`, with a reference of its own (None when the subclass has none).
template <class Lookup>
PyObject* findOverride(Lookup lookup, const char* name)
{
    boost::python::override method = lookup(name);
    // A failing attribute lookup leaves its error set and gives an empty override.
    if (PyErr_Occurred())
        boost::python::throw_error_already_set();
    return boost::python::incref(method.ptr());
}

// What the common case of a lookup found without the binding library's search.
enum class Found
{
    function,  // a plain function on the subclass: called with self first
    none,      // only the base class's own method: no override
    other      // anything else: the binding library's lookup decides
};

// The common case of an override: a plain function of a class, not shadowed on the instance.
// The interpreter's type attribute cache answers it; the interpreter drops an entry whenever a
// class on the way changes, so rebinding a method is seen at once.
inline Found findFunction(PyObject* self, PyTypeObject* base, PyObject* name, PyObject*& function)
{
    PyTypeObject* type = Py_TYPE(self);
    if (!name || type->tp_getattro != PyObject_GenericGetAttr)
        return Found::other;
    PyObject** dict = _PyObject_GetDictPtr(self);
    if (dict && *dict && PyDict_GetItemWithError(*dict, name))
        return Found::other;
    if (PyErr_Occurred())
        return Found::other;
    function = _PyType_Lookup(type, name);
    if (function && PyFunction_Check(function))
        return Found::function;
    if (function && base->tp_dict && PyDict_GetItemWithError(base->tp_dict, name) == function)
        return Found::none;
    PyErr_Clear();
    return Found::other;
}

// function(self, *arguments) without a tuple: the arguments are converted one by one and given
// back once the call has returned.
template <std::size_t... I, class... Args>
PyObject* callWithSelf(PyObject* function, PyObject* self, std::index_sequence<I...>,
                       const Args&... args)
{
    PythonReference held(boost::python::incref(function));
    // One more, empty, so that a callback without arguments has an array too.
    PythonReference converted[] = {
        PythonReference(boost::python::incref(boost::python::object(args).ptr()))...,
        PythonReference()};
    PyObject* stack[] = {self, converted[I].get()...};
    PyObject* result = PyObject_Vectorcall(function, stack, 1 + sizeof...(I), nullptr);
    for (PythonReference& argument : converted)
        argument.drop();
    held.drop();
    return result;
}

// Steps of a Python-side callback after the lock is taken: lookup, call, report. The override may
// run for as long as it likes, so the interpreter may end this thread inside the call: what the
// call holds is in PythonReferences, which the unwinding leaves alone.
template <class Lookup, class... Args>
void callOverride(const CallbackSite& site, PyObject* self, PyTypeObject* base, Lookup lookup,
                  const Args&... args)
{
    int line = site.line;
    try
    {
        PyObject* function = nullptr;
        const Found found = self ? findFunction(self, base, site.name(), function) : Found::other;
        if (found == Found::function)
        {
            line = site.line + 4;
            PyObject* result =
                callWithSelf(function, self, std::index_sequence_for<Args...>(), args...);
            if (!result)
                boost::python::throw_error_already_set();
            Py_DECREF(result);
            return;
        }
        if (found == Found::none)
            raisePureVirtualCalled(site.qualifiedName);
        const PythonReference method(findOverride(lookup, site.method));
        // The truth test may itself raise; that is reported with the missing-override line.
        const int overridden = PyObject_IsTrue(method.get());
        if (overridden < 0)
            boost::python::throw_error_already_set();
        if (overridden)
        {
            line = site.line + 4;
            const PythonReference arguments(
                boost::python::incref(boost::python::make_tuple(args...).ptr()));
            const PythonReference result(PyObject_Call(method.get(), arguments.get(), nullptr));
            if (!result.get())
                boost::python::throw_error_already_set();
        }
        else
        {
            raisePureVirtualCalled(site.qualifiedName);
        }
    }
    catch (abi::__forced_unwind&)
    {
        throw;  // the interpreter ending this thread at exit: it must go on unwinding
    }
    catch (...)
    {
        reportEscaped(site, line);
    }
}

}  // namespace detail

// The Python-side half of a listener pair. `Self` is the Impl class registered in Python (held by
// value or by shared pointer); `Helper` its library-side class. The Impl passes `this` to the
// constructor, so the helper's owner is known before the Impl's own body runs.
template <class Self, class Helper>
class ListenerImpl : public boost::python::wrapper<Self>, public APythonCallback
{
public:
    explicit ListenerImpl(Self* self) : m_helper(new Helper(self)) { watchInterpreterExit(); }

    // Runs when the Python object dies: the library may keep the helper; from now on it finds no
    // owner.
    virtual ~ListenerImpl()
    {
        GILGuard gil;
        m_helper->detach();
        m_helper->release();
    }

    // What the library receives on subscribing; the caller adds no reference for the call.
    Helper* helper() const { return m_helper; }

    // A callback whose arguments could not be made was reported. Nothing more: on a library
    // thread the error left set goes with the lock, as after any report.
    void reported() {}

    // The registered class, whose own methods are the ones a subclass overrides.
    static PyTypeObject* ownClass()
    {
        return boost::python::converter::registered<Self>::converters.get_class_object();
    }

protected:
    // The Python-side callback, called by the helper with the lock held and the converted
    // arguments.
    template <class... Args>
    void dispatch(const CallbackSite& site, const Args&... args)
    {
        if (stopped())
            return;
        CallbackGuard guard(*this);
        if (!guard.active())
            return;
        // The caller holds the lock: the helper's forward, or a job of the library's thread.
        detail::callOverride(
            site, boost::python::detail::wrapper_base_::get_owner(*this), ownClass(),
            [this](const char* name) { return this->get_override(name); }, args...);
        // Returned from Python: the lock is held.
        guard.end();
    }

private:
    Helper* m_helper;
};

namespace detail {

// An argument that forward makes into a Python object: it has toPython().
template <class T, class = void>
constexpr bool madeIntoPython = false;
template <class T>
constexpr bool madeIntoPython<T, std::void_t<decltype(std::declval<T&>().toPython())>> = true;

template <class T>
constexpr bool isLentObject = false;
template <class T>
constexpr bool isLentObject<LentObject<T>> = true;

// What forward makes, which may fail: it needs the callback's site to report that.
template <class T>
constexpr bool madeInForward = madeIntoPython<T> || isLentObject<T>;

// How forward hands one argument to the owner's method: as it is.
template <class T, class = void>
class Passed
{
public:
    explicit Passed(T&& value) : m_value(std::forward<T>(value)) {}
    T&& get() { return std::forward<T>(m_value); }
    void drop() {}

private:
    T&& m_value;
};

// An argument that becomes a Python object first (a lent row): made here, with the lock held,
// and kept out of reach of the unwinding, as PythonReference does, for a thread that the
// finalizing interpreter ends inside the override. The argument hears when the call returned and
// when it was abandoned.
template <class T>
class Passed<T, std::enable_if_t<madeIntoPython<T>>>
{
public:
    explicit Passed(T&& value) : m_value(std::forward<T>(value))
    {
        new (&m_object) boost::python::object(m_value.toPython());
    }
    ~Passed()
    {
        if (!m_made)
            return;
        if (holdsInterpreterLock())
            drop();
        else
            m_value.abandoned();
    }
    Passed(const Passed&) = delete;
    Passed& operator=(const Passed&) = delete;

    const boost::python::object& get() const { return m_object; }
    // Where the lock is surely held: after the call into Python returned.
    void drop()
    {
        m_value.returned(m_object.ptr());
        m_object.~object();
        m_made = false;
    }

private:
    std::decay_t<T> m_value;
    union
    {
        boost::python::object m_object;
    };
    bool m_made = true;
};

// A lent library object: the handle that Python may keep takes a reference of its own. Should
// the handle not be made, its deleter has given that reference back.
template <class T>
class Passed<LentObject<T>>
{
public:
    explicit Passed(LentObject<T>&& lent) : m_handle(keep(lent.object)) {}

    // Moved into the owner's method, which holds it for the call.
    LibraryHandle<T>&& get() { return std::move(m_handle); }
    void drop() {}

private:
    static LibraryHandle<T> keep(T* object)
    {
        if (object)
            object->addRef();
        return makeLibraryHandle(object);
    }

    LibraryHandle<T> m_handle;
};

template <class Impl, class... Params, class... P>
void callPassed(Impl* owner, void (Impl::*callback)(Params...), P&&... passed)
{
    (owner->*callback)(passed.get()...);
    (passed.drop(), ...);
}

}  // namespace detail

// The library-side half of a listener pair, over the library's listener interface.
template <class Impl, class Interface>
class ListenerHelper : public TK7R2ThreadSafeAddRefImpl<Interface>
{
public:
    explicit ListenerHelper(Impl* owner) : m_owner(owner) {}

    // With the interpreter lock held.
    void detach() { m_owner = nullptr; }

protected:
    // The library-side callback: under the lock, hands the arguments to the owner's method, or
    // does nothing once the owner is gone.
    template <class... Params, class... Args>
    void forward(void (Impl::*callback)(Params...), Args&&... args)
    {
        static_assert(!(detail::madeInForward<Args> || ...),
                      "an argument made here needs its callback's site");
        deliver([&](Impl* owner) {
            detail::callPassed(owner, callback, detail::Passed<Args>(std::forward<Args>(args))...);
        });
    }

    // The same for arguments made here (a lent row into a Python object, a lent library object
    // into a handle), which may fail (out of memory): the failure is reported as the call of
    // `site`'s override failing, and the owner's method is not called.
    template <class... Params, class... Args>
    void forward(const CallbackSite& site, void (Impl::*callback)(Params...), Args&&... args)
    {
        deliver([&](Impl* owner) {
            try
            {
                detail::callPassed(owner, callback,
                                   detail::Passed<Args>(std::forward<Args>(args))...);
            }
            catch (abi::__forced_unwind&)
            {
                throw;
            }
            catch (...)
            {
                detail::reportEscaped(site, site.line + 4);
                owner->reported();
            }
        });
    }

private:
    template <class Call>
    void deliver(Call call)
    {
        // The library may let go of its reference, and the override of the Python object's last
        // one, while the call runs: both halves stay alive until it has returned.
        this->addRef();
        if (PythonEntry entry; entry.admitted())
        {
            GILGuard gil;
            if (Impl* owner = m_owner)
            {
                PythonReference self(
                    boost::python::xincref(boost::python::detail::wrapper_base_::get_owner(*owner)));
                call(owner);
                // Returned from Python: the lock is held.
                self.drop();
            }
            gil.release();
        }
        this->release();
    }

    Impl* m_owner;  // guarded by the interpreter lock
};

// Registers a callback method as pure virtual, documented once: the raising overload that
// pure_virtual adds last would otherwise repeat the docstring.
template <class Class, class Callback>
void defCallback(Class& cls, const char* name, Callback callback, const char* doc)
{
    cls.def(name, boost::python::pure_virtual(callback), doc);
    boost::python::setattr(cls.attr(name), "__doc__", boost::python::object());
}

} }  // namespace vexa2::python
