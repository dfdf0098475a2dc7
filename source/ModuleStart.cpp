// source/ModuleStart.cpp: the two-step import and its refusals.
#include "ModuleStart.h"

#include <boost/python.hpp>

#include <type_traits>

#include "PythonExit.h"

namespace vexa2 { namespace python {

static_assert(std::is_standard_layout_v<ModuleStart>, "exec finds the object from its definition");

ModuleStart::ModuleStart(const char* name, void (*body)())
    : m_definition{PyModuleDef_HEAD_INIT, name, nullptr, 0, nullptr, m_slots, nullptr, nullptr, nullptr},
      m_slots{{Py_mod_exec, reinterpret_cast<void*>(&ModuleStart::exec)}, {0, nullptr}},
      m_body(body)
{
}

int ModuleStart::exec(PyObject* module)
{
    ModuleStart& start = *reinterpret_cast<ModuleStart*>(PyModule_GetDef(module));
    const char* name = start.m_definition.m_name;
    if (PyInterpreterState_Get() != PyInterpreterState_Main())
    {
        PyErr_Format(PyExc_ImportError,
                     "%s cannot be imported in a sub-interpreter: its classes and its library "
                     "threads' interpreter states belong to the whole process, which only the "
                     "main interpreter may hold",
                     name);
        return -1;
    }
    if (interpreterExited())
    {
        PyErr_Format(PyExc_ImportError,
                     "%s cannot be imported again after the interpreter that first imported it "
                     "was finalized: its classes stay bound to that interpreter until the process "
                     "ends",
                     name);
        return -1;
    }
    PyObject* contents = PyModule_GetDict(module);
    // Imported again in this interpreter: the same contents, as a module made in one step gets.
    if (start.m_contents)
        return PyDict_Update(contents, start.m_contents);
    boost::python::object made{boost::python::handle<>(boost::python::borrowed(module))};
    boost::python::scope within(made);
    if (boost::python::handle_exception(start.m_body))
        return -1;
    // A body that failed left its error set: the interpreter fails the import with it.
    if (!PyErr_Occurred())
    {
        start.m_contents = PyDict_Copy(contents);
        if (!start.m_contents)
            return -1;
    }
    return 0;
}

} }  // namespace vexa2::python
