// tests/native/PythonOutcome.h: runs native code as a bound function would run it (C++ exceptions
// translated by the binding library) and reads back the Python error it left, if any.
#pragma once

#include <Python.h>

#include <boost/python/errors.hpp>

#include <ostream>
#include <string>

struct PythonOutcome
{
    bool raised = false;
    std::string type;  // the exact type's name: a subclass would not match
    std::string text;
};

inline std::ostream& operator<<(std::ostream& out, const PythonOutcome& outcome)
{
    return outcome.raised ? out << outcome.type << "(\"" << outcome.text << "\")" : out << "no error";
}

// The interpreter lock must be held.
template <class F>
PythonOutcome pythonOutcomeOf(F&& f)
{
    PythonOutcome outcome;
    if (!boost::python::handle_exception(f))
        return outcome;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    outcome.raised = type != nullptr;
    if (type != nullptr)
        outcome.type = reinterpret_cast<PyTypeObject*>(type)->tp_name;
    if (PyObject* shown = value ? PyObject_Str(value) : nullptr)
    {
        if (const char* utf8 = PyUnicode_AsUTF8(shown))
            outcome.text = utf8;
        Py_DECREF(shown);
    }
    PyErr_Clear();
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return outcome;
}
