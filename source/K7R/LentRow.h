// source/K7R/LentRow.h: a row that the library lends to a callback. It becomes a Python row object
// only where the Python-side callback takes it (the helper's forward), that is with the
// interpreter lock held and once the listener is known to still have its Python object; a row
// that cannot be made is reported there as the callback's failure.
#pragma once

#include <boost/python/object.hpp>

#include <velvix/Velvix.h>

#include "K7R/RowWrapping.h"

namespace vexa2 { namespace python {

// The row object leans on the library's reference while the call runs and takes one of its own
// only if it outlives the call (the override kept it): the row of nearly every event is only read,
// and its object dies with the call.
class LentRow
{
public:
    explicit LentRow(IK7RRow* row) : m_row(row) {}

    boost::python::object toPython() { return lendRowToPython(m_row, m_loan); }

    // With the lock held, the call returned and `object` not yet dropped.
    void returned(PyObject* object)
    {
        if (m_loan && Py_REFCNT(object) > 1)
            m_loan->keep();
    }

    // Without the lock, on a thread that the finalizing interpreter ends inside the call: the
    // object is never dropped and may still be reached, so the row stays to the process's end.
    void abandoned()
    {
        if (m_loan)
            m_row->addRef();
    }

private:
    IK7RRow* m_row;
    RowLoan* m_loan = nullptr;
};

} }  // namespace vexa2::python
