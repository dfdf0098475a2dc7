// source/K7R/LentRow.h: a row that the library lends to a callback. It becomes a Python row object
// only where the Python-side callback takes it (the helper's forward), that is with the
// interpreter lock held and once the listener is known to still have its Python object.
#pragma once

#include <boost/python/object.hpp>

#include <velvix/Velvix.h>

#include "K7R/RowWrapping.h"

namespace vexa2 { namespace python {

struct LentRow
{
    IK7RRow* row;

    // The row object holds a reference of its own: the library's lasts only for the call.
    boost::python::object toPython() const
    {
        if (row)
            row->addRef();
        return rowToPythonObject(row);
    }
};

} }  // namespace vexa2::python
