// source/K7R/K7RRow.h: the generic row and what every row class shares: the cell conversion,
// the attribute access by column name, and the registration of a row class pair. Also the
// sub-registrations the tables registration calls, in its order.
#pragma once

#include <boost/python.hpp>

#include <string_view>
#include <vector>

#include <velvix/Velvix.h>

#include "K7R/RowWrapping.h"
#include "ObjectHandles.h"

void exportTableColumns();
void exportRow();
void exportOfferRow();
void exportAccountRow();
void exportOrderRow();
void exportClosedTradeRow();
void exportTradeRow();
void exportMessageRow();
void exportSummaryRow();

namespace vexa2 { namespace python {

// The Python value of one cell, read live: int, float, str (None for no text), datetime or bool
// by the column's type; None for any other type. Invalid UTF-8 raises UnicodeDecodeError, a date
// the library cannot convert the date library's IndexError.
boost::python::object cellToPython(IK7RRow& row, int column,
                                   IK7RTableColumn::K7RTableColumnType type);

// get_cell: IndexError 1001 outside the row's columns.
boost::python::object rowGetCell(IK7RRow& row, int index);

// The cell of the first column whose identifier is `name`, or the identifier that `name`
// translates to in the row's table. AttributeError 1002 when none matches or the cell is None.
boost::python::object rowFindAttr(IK7RRow& row, std::string_view name);
// The same, walking the row's columns on every call as the library hands them out; what
// rowFindAttr answers must always be what this answers.
boost::python::object rowFindAttrByWalk(IK7RRow& row, std::string_view name);

// The UTF-8 text of a str, kept by the str itself; throws the interpreter's error for a str that
// has none (lone surrogates).
inline std::string_view utf8View(PyObject* text)
{
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
    if (!bytes)
        boost::python::throw_error_already_set();
    return std::string_view(bytes, static_cast<std::size_t>(size));
}

// __getattr__ of each row class, instantiated for its own interface so that the binding
// library extracts `self` by an exact type match.
template <class Interface>
boost::python::object rowGetAttr(Interface& row, const boost::python::str& name)
{
    return rowFindAttr(row, utf8View(name.ptr()));
}

// The attribute slot of a row class: what Python does for a class with __getattr__ (the ordinary
// lookup first, then __getattr__), without the AttributeError that the interpreter would build
// and discard for every column name before reaching __getattr__. Assigning __getattr__ or
// __getattribute__ on the class, or subclassing it in Python, gives back the interpreter's slot.
template <class Interface>
PyObject* rowGetAttro(PyObject* self, PyObject* name)
{
    PyObject* found = _PyObject_GenericGetAttrWithDict(self, name, nullptr, 1);
    if (found || PyErr_Occurred())
        return found;
    void* row = RowHolder<Interface>::rowOf(self);
    if (!row)
        row = boost::python::converter::get_lvalue_from_python(
            self, boost::python::converter::registered<Interface>::converters);
    if (!row)  // no native row behind it: the registered method gives the binding library's error
        return PyObject_CallMethod(self, "__getattr__", "O", name);
    PyObject* result = nullptr;
    boost::python::handle_exception([&] {
        const boost::python::object value =
            rowFindAttr(*static_cast<Interface*>(row), utf8View(name));
        result = boost::python::incref(value.ptr());
    });
    return result;
}

// Registers `__getattr__` on a row class and gives the class the attribute slot above.
template <class Interface, class Class>
void defRowGetAttr(Class& cls)
{
    cls.def("__getattr__", &rowGetAttr<Interface>);
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    type->tp_getattro = &rowGetAttro<Interface>;
    PyType_Modified(type);
}

// __getitem__: an int reads by index, a str by name, anything else is ValueError 1020.
boost::python::object rowGetItem(IK7RRow& row, const boost::python::object& key);

// columns: a new K7RTableColumnCollection over the row's columns, also when it has none.
boost::python::object getRowColumns(IK7RRow& row);

// A read-only bool property bound straight to a library getter.
template <class Interface>
struct FlagProperty
{
    const char* name;
    bool (Interface::*get)();
    const char* doc;
};

template <class Interface>
using FlagProperties = std::vector<FlagProperty<Interface>>;

// Registers the row class and then the table row class of one table: each under its name and
// docstring, derived from the previous one (the row from K7RRow) in Python and natively, held by
// a library handle, with no constructor; the flag properties given; __getattr__ last.
template <class Row, class TableRow>
void exportRowPair(const char* rowName, const char* rowDoc, const char* tableRowName,
                   const char* tableRowDoc, const FlagProperties<Row>& rowFlags = {},
                   const FlagProperties<TableRow>& tableRowFlags = {})
{
    namespace bp = boost::python;
    bp::class_<Row, LibraryHandle<Row>, bp::bases<IK7RRow>, boost::noncopyable> row(
        rowName, rowDoc, bp::no_init);
    for (const FlagProperty<Row>& flag : rowFlags)
        row.add_property(flag.name, flag.get, flag.doc);
    defRowGetAttr<Row>(row);

    bp::class_<TableRow, LibraryHandle<TableRow>, bp::bases<Row>, boost::noncopyable> tableRow(
        tableRowName, tableRowDoc, bp::no_init);
    for (const FlagProperty<TableRow>& flag : tableRowFlags)
        tableRow.add_property(flag.name, flag.get, flag.doc);
    defRowGetAttr<TableRow>(tableRow);
}

} }  // namespace vexa2::python
