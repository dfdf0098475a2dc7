// source/PythonExit.h: the gate through which library threads enter the interpreter. At exit the
// interpreter unwinds any foreign thread it finds taking its lock while it finalizes, and a
// thread unwound inside a callback takes the process down; so, before it finalizes, the gate
// closes and waits a while for the threads inside to leave.
#pragma once

namespace vexa2 { namespace python {

// Scope of one entry into the interpreter from a library thread. When the gate is closed the
// entry is refused: the caller must then not touch Python at all.
class PythonEntry
{
public:
    PythonEntry();
    ~PythonEntry();
    PythonEntry(const PythonEntry&) = delete;
    PythonEntry& operator=(const PythonEntry&) = delete;

    bool admitted() const { return m_admitted; }

private:
    bool m_admitted;
};

// Registers the closing of the gate with the interpreter's exit handlers, once per process.
// Called with the interpreter lock held.
void watchInterpreterExit();

} }  // namespace vexa2::python
