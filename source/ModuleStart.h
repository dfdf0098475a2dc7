// source/ModuleStart.h: the import of an extension whose classes and state belong to the whole
// process, as the binding library's registry does: only the main interpreter makes them, once in
// the process's life. A module made in one step would be copied by the interpreter into every
// later importer, sub-interpreters included, without a call of the module's own; so the module is
// made in two steps, the definition and then its body, and every import meets the test first.
#pragma once

#include <Python.h>

namespace vexa2 { namespace python {

class ModuleStart
{
public:
    // `body` fills the module, with it as the binding library's current scope.
    ModuleStart(const char* name, void (*body)());
    ModuleStart(const ModuleStart&) = delete;
    ModuleStart& operator=(const ModuleStart&) = delete;

    // What the module's init function returns.
    PyObject* definition() { return PyModuleDef_Init(&m_definition); }

private:
    static int exec(PyObject* module);

    PyModuleDef m_definition;  // first: exec finds this object from its module's definition
    PyModuleDef_Slot m_slots[2];
    void (*m_body)();
    PyObject* m_contents = nullptr;  // what the body made, for an import made again
};

} }  // namespace vexa2::python
