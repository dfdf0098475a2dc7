// source/Enums.cpp: the construction that every enum of the module has in place of int's.
#include "Enums.h"

#include <boost/python/errors.hpp>

#include <climits>

namespace vexa2 { namespace python {

namespace {

// What int(*args, **kwargs) gives, as a value of `type`, if a C int holds it. The binding library
// makes the named values through here too.
PyObject* newEnumValue(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    PyObject* const value = PyObject_Call(reinterpret_cast<PyObject*>(&PyLong_Type), args, kwargs);
    if (!value)
        return nullptr;
    int overflow = 0;
    const long number = PyLong_AsLongAndOverflow(value, &overflow);
    if (overflow || number < INT_MIN || number > INT_MAX)
    {
        Py_DECREF(value);
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
        return nullptr;
    }
    PyObject* const plain = PyTuple_Pack(1, value);
    Py_DECREF(value);
    if (!plain)
        return nullptr;
    PyObject* const result = PyLong_Type.tp_new(type, plain, nullptr);
    Py_DECREF(plain);
    return result;
}

// __new__(cls, *args, **kwargs), for pickling and explicit calls.
PyObject* enumNew(PyObject*, PyObject* args, PyObject* kwargs)
{
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    PyObject* const first = count > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    if (!first || !PyType_Check(first) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(first), &PyLong_Type))
    {
        PyErr_SetString(PyExc_TypeError, "__new__(X): X is not a subtype of int");
        return nullptr;
    }
    PyObject* const rest = PyTuple_GetSlice(args, 1, count);
    if (!rest)
        return nullptr;
    PyObject* const result = newEnumValue(reinterpret_cast<PyTypeObject*>(first), rest, kwargs);
    Py_DECREF(rest);
    return result;
}

// The method table's one slot for every calling convention is typed for the plainest.
PyMethodDef g_enumNew = {"__new__",
                         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(enumNew)),
                         METH_VARARGS | METH_KEYWORDS,
                         "Creates a value of the enum from an int within the C int range."};

}  // namespace

void refuseValuesBeyondInt(PyObject* type)
{
    // One staticmethod for every enum type, kept for the process.
    static PyObject* const method = [] {
        PyObject* function = PyCFunction_New(&g_enumNew, nullptr);
        PyObject* wrapped = function ? PyStaticMethod_New(function) : nullptr;
        Py_XDECREF(function);
        return wrapped;
    }();
    if (!method || PyObject_SetAttrString(type, "__new__", method) < 0)
        boost::python::throw_error_already_set();
    // The slot itself too, rather than the generic one that the attribute gave: int.__new__ on
    // the enum then refuses it as unsafe instead of making the value unchecked.
    reinterpret_cast<PyTypeObject*>(type)->tp_new = &newEnumValue;
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
}

} }  // namespace vexa2::python
