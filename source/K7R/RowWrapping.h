// source/K7R/RowWrapping.h: the one rule that turns a library row into a Python object of the most
// specific row class of its table; every reader, iterator and listener hands rows out through it.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <velvix/Velvix.h>

namespace vexa2 { namespace python {

// Takes over the caller's one reference on `row`. Null gives None; a row of one of the seven
// tables becomes its table-row class, else its row class; a row of no known table a K7RRow.
boost::python::object rowToPythonObject(IK7RRow* row);

} }  // namespace vexa2::python
