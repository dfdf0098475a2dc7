// source/K7R/RowWrapping.h: the one rule that turns a library row into a Python object of the most
// specific row class of its table; every reader, iterator and listener hands rows out through it.
#pragma once

#include <boost/python.hpp>

#include <typeinfo>
#include <utility>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"

namespace vexa2 { namespace python {

// What a row object made by rowToPythonObject holds: the binding library's holder of a library
// handle, which also keeps the row's address, so that the row's attribute access finds it without
// the binding library's conversion search.
template <class Interface>
class RowHolder : public boost::python::objects::pointer_holder<LibraryHandle<Interface>, Interface>
{
public:
    explicit RowHolder(LibraryHandle<Interface> handle) : RowHolder(handle.get(), std::move(handle))
    {
    }

    // The row of a Python object of a row class when rowToPythonObject made it as Interface;
    // null otherwise.
    static Interface* rowOf(PyObject* self)
    {
        const boost::python::instance_holder* holder =
            reinterpret_cast<boost::python::objects::instance<>*>(self)->objects;
        if (holder && typeid(*holder) == typeid(RowHolder))
            return static_cast<const RowHolder*>(holder)->m_row;
        return nullptr;
    }

private:
    RowHolder(Interface* row, LibraryHandle<Interface>&& handle)
        : boost::python::objects::pointer_holder<LibraryHandle<Interface>, Interface>(
              std::move(handle)),
          m_row(row)
    {
    }

    Interface* const m_row;
};

// Takes over the caller's one reference on `row`. Null gives None; a row of one of the seven
// tables becomes its table-row class, else its row class; a row of no known table a K7RRow.
boost::python::object rowToPythonObject(IK7RRow* row);

} }  // namespace vexa2::python
