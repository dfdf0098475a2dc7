// source/K7R/K7RRow.cpp: the K7RRow class and the cell reading every row class shares. Cells are
// read live from the library on each access; the module keeps no copy of a row.
#include "K7R/K7RRow.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "DateTime.h"
#include "K7R/ColumnLookup.h"
#include "K7R/K7RTableColumn.h"
#include "Messages.h"

namespace vexa2 { namespace python {

namespace bp = boost::python;

namespace {

bp::object newReference(PyObject* object)
{
    if (!object)
        bp::throw_error_already_set();
    return bp::object(bp::handle<>(object));
}

int columnCount(IK7RTableColumnCollection* columns)
{
    return columns ? columns->size() : 0;
}

}  // namespace

bp::object cellToPython(IK7RRow& row, int column, IK7RTableColumn::K7RTableColumnType type)
{
    using Type = IK7RTableColumn::K7RTableColumnType;
    switch (type)
    {
    case Type::Integer:
    case Type::Double:
    case Type::String:
    case Type::Date:
    case Type::Boolean:
        break;
    default:
        return bp::object();  // not read: its payload is unknown
    }
    const void* cell = row.getCell(column);
    // Only a text may be missing; a missing payload of another type reads as no value too,
    // rather than through a null pointer.
    if (!cell)
        return bp::object();
    switch (type)
    {
    case Type::Integer:
        return newReference(PyLong_FromLong(*static_cast<const std::int32_t*>(cell)));
    case Type::Double:
        return newReference(PyFloat_FromDouble(*static_cast<const double*>(cell)));
    case Type::String:
    {
        const char* text = static_cast<const char*>(cell);
        // Strict decoding: the interpreter's own UnicodeDecodeError reaches the caller.
        return newReference(
            PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), nullptr));
    }
    case Type::Date:
        return oleDateToPython(*static_cast<const double*>(cell));
    case Type::Boolean:
        return newReference(PyBool_FromLong(*static_cast<const unsigned char*>(cell) != 0));
    }
    return bp::object();
}

bp::object rowGetCell(IK7RRow& row, int index)
{
    // The collection is asked for each time, the cell read live; the column's type is learnt
    // once per collection, which does not change.
    ColumnMatch column;
    {
        const OwnedReference<IK7RTableColumnCollection> columns(row.getColumns());
        const int count = columnCount(columns.get());
        if (index < 0 || index >= count)
            raiseMessage(PyExc_IndexError, msgIndexOutOfBounds());
        column = lookupColumnAt(columns.get(), count, index);
    }
    if (!column)
        return bp::object();
    return cellToPython(row, index, column.type);
}

namespace {

// The cell of the column that `Find` says `name` reads; AttributeError 1002 when none does or
// the cell is None.
template <ColumnMatch (*Find)(IK7RTableColumnCollection*, int, std::string_view)>
bp::object readAttr(IK7RRow& row, std::string_view name)
{
    bp::object result;
    {
        const OwnedReference<IK7RTableColumnCollection> columns(row.getColumns());
        const ColumnMatch match = Find(columns.get(), static_cast<int>(row.getTableType()), name);
        if (match)
            result = cellToPython(row, match.index, match.type);  // decides, even if None
    }
    if (result.is_none())
        raiseMessage(PyExc_AttributeError, msgAttributeNotFound(shownName(name).c_str()));
    return result;
}

}  // namespace

bp::object rowFindAttr(IK7RRow& row, std::string_view name)
{
    return readAttr<lookupColumn>(row, name);
}

bp::object rowFindAttrByWalk(IK7RRow& row, std::string_view name)
{
    return readAttr<walkColumns>(row, name);
}

bp::object rowGetItem(IK7RRow& row, const bp::object& key)
{
    bp::extract<int> index(key);
    if (index.check())
        return rowGetCell(row, index());
    // The name is compared here, whole: not a text for the library, so a NUL in it is no refusal.
    if (PyUnicode_Check(key.ptr()))
        return rowFindAttr(row, utf8View(key.ptr()));
    if (PyBytes_Check(key.ptr()))
        return rowFindAttr(row, std::string_view(PyBytes_AS_STRING(key.ptr()),
                                                 static_cast<std::size_t>(PyBytes_GET_SIZE(key.ptr()))));
    raiseMessage(PyExc_ValueError, msgOnlyStringOrIntegerValue());
}

bp::object getRowColumns(IK7RRow& row)
{
    return wrapColumnCollection(row.getColumns());
}

} }  // namespace vexa2::python

void exportRow()
{
    namespace bp = boost::python;
    using namespace vexa2::python;

    bp::class_<IK7RRow, LibraryHandle<IK7RRow>, boost::noncopyable> row(
        "K7RRow", "The class provides access to abstract row information.", bp::no_init);
    row.def("get_cell", &rowGetCell, "Gets value of a table cell.")
        .def("is_cell_changed", &IK7RRow::isCellChanged,
             "Gets a flag indicating whether the value of the cell is changed.")
        .add_property("columns", &getRowColumns, "Gets the columns of the table.")
        .add_property("table_type", &IK7RRow::getTableType, "Gets the type of the table.");
    defRowGetAttr<IK7RRow>(row);
    row.def("__getitem__", &rowGetItem);
}
