// velvix_sim: the helpers its faces share: letting go of the interpreter lock around a wait, and
// the conversions between Python values and the simulated world's values.
#pragma once

#include <boost/python.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/Value.h"
#include "core/Scenario.h"

// The module's own gate for threads coming back to the interpreter, in a copy of this extension's.
#include "PythonExit.h"

namespace control
{

namespace py = boost::python;

// Gives the interpreter lock back for the scope of a wait. Taking it back never unwinds: a thread
// that comes back while the interpreter exits parks instead.
class WithoutGil
{
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    ~WithoutGil() { vexa2::python::restoreThread(state_); }
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;

private:
    PyThreadState* state_;
};

[[noreturn]] inline void raise(PyObject* type, const std::string& message)
{
    PyErr_SetString(type, message.c_str());
    py::throw_error_already_set();
    throw 0;  // not reached
}

inline py::object fromValue(const sim::Value& v)
{
    struct Visit
    {
        py::object operator()(std::monostate) const { return py::object(); }
        py::object operator()(bool b) const { return py::object(b); }
        py::object operator()(std::int64_t i) const { return py::object(static_cast<long long>(i)); }
        py::object operator()(double d) const { return py::object(d); }
        py::object operator()(const std::string& s) const
        {
            return py::object(py::handle<>(PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()))));
        }
    };
    return std::visit(Visit{}, v);
}

inline py::object fromText(const sim::Text& t)
{
    return t ? fromValue(*t) : py::object();
}

template <class T>
py::object fromOptional(const std::optional<T>& v)
{
    return v ? py::object(*v) : py::object();
}

// str (as UTF-8) or bytes; None gives nullopt.
inline sim::Text toText(const py::object& o, const char* what)
{
    if (o.is_none())
        return std::nullopt;
    PyObject* p = o.ptr();
    if (PyBytes_Check(p))
        return std::string(PyBytes_AS_STRING(p), static_cast<std::size_t>(PyBytes_GET_SIZE(p)));
    if (PyUnicode_Check(p))
    {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(p, &size);
        if (!data)
            py::throw_error_already_set();
        return std::string(data, static_cast<std::size_t>(size));
    }
    raise(PyExc_TypeError, std::string(what) + " must be str, bytes or None");
}

// A Python None, bool, int, float or text as a world value; `what` names it in the error.
inline sim::Value toValue(const py::object& o, const char* what)
{
    PyObject* p = o.ptr();
    if (o.is_none())
        return {};
    if (PyBool_Check(p))
        return p == Py_True;
    if (PyLong_Check(p))
    {
        const long long v = PyLong_AsLongLong(p);
        if (v == -1 && PyErr_Occurred())
            py::throw_error_already_set();
        return static_cast<std::int64_t>(v);
    }
    if (PyFloat_Check(p))
        return PyFloat_AS_DOUBLE(p);
    return *toText(o, what);
}

// Runs `what` on the dispatcher, or on a thread of its own while hooksOnThreads is on. With
// `wait`: true once it ran and what it captured is released, false when the time ran out or when
// called from the dispatcher itself; without: true once queued. False after finialize.
bool onDispatcher(std::function<void()> what, bool wait, double timeout);
// Whether onDispatcher runs each piece of work on a thread of its own; reset() turns it off.
void hooksOnThreads(bool on);

// The registrations of the session face (SessionHooks.cpp).
void exportSessionHooks();
// The registrations of the tables face (TableHooks.cpp).
void registerTableHooks();
// The registrations of the session services face (ServiceHooks.cpp).
void exportServiceHooks();

}  // namespace control
