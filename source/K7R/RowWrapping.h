// source/K7R/RowWrapping.h: the one rule that turns a library row into a Python object of the most
// specific row class of its table; every reader, iterator and listener hands rows out through it.
#pragma once

#include <boost/python.hpp>

#include <typeinfo>
#include <utility>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"

namespace vexa2 { namespace python {

// What a row object made for a row the library lends to a callback knows of the loan: until
// keep(), the object holds no reference of its own and leans on the library's, which lasts for the
// call.
class RowLoan
{
public:
    // With the interpreter lock held, while the library's reference is still good: from now on
    // the object holds a reference of its own. Once only; nothing for an object that has one.
    void keep()
    {
        if (IK7RRow* lent = m_lent)
        {
            m_lent = nullptr;
            lent->addRef();
        }
    }

protected:
    explicit RowLoan(IK7RRow* lent) : m_lent(lent) {}
    bool lent() const { return m_lent != nullptr; }

private:
    IK7RRow* m_lent;  // the row, while the object holds no reference of its own
};

// What a row object made by rowToPythonObject holds: the row's one library reference (or the
// loan of the library's), and the row's address, so that the row's attribute access finds it
// without the binding library's conversion search. The library handle that the binding library's
// own holder would keep is made only when something asks for it, and then takes the reference
// over: most rows (one per table event) are never asked.
template <class Interface>
class RowHolder : public boost::python::instance_holder, public RowLoan
{
public:
    // Takes over the reference that `row` carries, or, `lent`, only borrows the library's; not
    // null.
    RowHolder(Interface* row, bool lent) : RowLoan(lent ? row : nullptr), m_row(row) {}

    ~RowHolder() override
    {
        if (!m_handle && !lent())
            m_row->release();
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
        if (wanted == bp::type_id<IK7RRow>())
            return static_cast<IK7RRow*>(m_row);
        if (wanted == bp::type_id<Interface>())
            return m_row;
        if (wanted == bp::type_id<LibraryHandle<Interface>>())
        {
            if (nullOnly)
                return nullptr;
            if (!m_handle)
            {
                // A handle may outlive the call that lent the row.
                keep();
                m_handle = makeLibraryHandle(m_row);
            }
            return &m_handle;
        }
        return bp::objects::find_dynamic_type(m_row, bp::type_id<Interface>(), wanted);
    }

    Interface* const m_row;
    LibraryHandle<Interface> m_handle;  // empty until asked for; then it owns the reference
};

// Takes over the caller's one reference on `row`. Null gives None; a row of one of the seven
// tables becomes its table-row class, else its row class; a row of no known table a K7RRow.
boost::python::object rowToPythonObject(IK7RRow* row);

// The same for a row that the library lends for a callback's call, without a reference of the
// object's own; `loan` is set to the object's loan (null for None), which the caller keeps, with
// the lock held, if the object outlives the call.
boost::python::object lendRowToPython(IK7RRow* row, RowLoan*& loan);

} }  // namespace vexa2::python
