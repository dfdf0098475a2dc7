// source/K7R/RowWrapping.h: the one rule that turns a library row into a Python object of the most
// specific row class of its table; every reader, iterator and listener hands rows out through it.
#pragma once

#include <boost/python.hpp>

#include <typeinfo>
#include <utility>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"

namespace vexa2 { namespace python {

// What a row object made by rowToPythonObject holds: a library handle, as the binding library's
// own holder would, and the row's address, so that the row's attribute access finds it without
// the binding library's conversion search.
template <class Interface>
class RowHolder : public boost::python::instance_holder
{
public:
    explicit RowHolder(LibraryHandle<Interface> handle)
        : m_handle(std::move(handle)), m_row(m_handle.get())
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
    // What a row method's `self` asks for is nearly always the base row or the row's own
    // interface: those are answered first, ahead of the binding library's search through the
    // class graph. The rest is its own holder's answer.
    void* holds(boost::python::type_info wanted, bool nullOnly) override
    {
        namespace bp = boost::python;
        if (m_row && wanted == bp::type_id<IK7RRow>())
            return static_cast<IK7RRow*>(m_row);
        if (m_row && wanted == bp::type_id<Interface>())
            return m_row;
        if (wanted == bp::type_id<LibraryHandle<Interface>>() && !(nullOnly && m_row))
            return &m_handle;
        if (!m_row)
            return nullptr;
        return bp::objects::find_dynamic_type(m_row, bp::type_id<Interface>(), wanted);
    }

    LibraryHandle<Interface> m_handle;
    Interface* const m_row;
};

// Takes over the caller's one reference on `row`. Null gives None; a row of one of the seven
// tables becomes its table-row class, else its row class; a row of no known table a K7RRow.
boost::python::object rowToPythonObject(IK7RRow* row);

} }  // namespace vexa2::python
