// source/K7R/K7RTable.cpp: the table classes: the reader over a table's rows, K7RTable and
// K7RTableManager, and exportTables, which registers the whole table family in order.
#include "K7R/K7RTable.h"

#include <boost/python.hpp>

#include <cstdint>
#include <limits>

#include "K7R/K7RRow.h"
#include "K7R/K7RTableColumn.h"
#include "K7R/K7RTableIterator.h"
#include "K7R/K7RTableManagerListener.h"
#include "K7R/RowWrapping.h"
#include "ObjectHandles.h"
#include "Registrations.h"

namespace bp = boost::python;
using namespace vexa2::python;

namespace vexa2 { namespace python {

bp::object K7RGenericTableResponseReaderGetter(IK7RGenericTableResponseReader* reader,
                                               std::size_t index)
{
    if (!indexInRange(reader, index))
        return bp::object();
    return rowToPythonObject(reader->getRow(static_cast<int>(index)));
}

bp::object K7RGenericTableResponseReaderRowAt(IK7RGenericTableResponseReader* reader,
                                              std::size_t index)
{
    if (!reader || index > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return bp::object();
    return rowToPythonObject(reader->getRow(static_cast<int>(index)));
}

} }  // namespace vexa2::python

namespace {

void releaseTable(CK7RTable* table)
{
    if (table)
        static_cast<IAddRef*>(table)->release();
}

}  // namespace

boost::shared_ptr<CK7RTable> makeTableHandle(CK7RTable* table)
{
    return boost::shared_ptr<CK7RTable>(table, &releaseTable);
}

namespace {

using Reader = K7RGenericTableResponseReader;
using ReaderBase = K7RGenericTableResponseReaderBase;

bp::object readerColumns(Reader& reader)
{
    IK7RGenericTableResponseReader* library = reader.collection();
    return wrapColumnCollection(library ? library->getColumns() : nullptr);
}

bool readerIsCellValid(Reader& reader, int row, int column)
{
    IK7RGenericTableResponseReader* library = reader.collection();
    return library && library->isCellValid(row, column);
}

K7RTable readerType(Reader& reader)
{
    IK7RGenericTableResponseReader* library = reader.collection();
    return library ? library->getType() : K7RTable::TableUnknown;
}

// The manager owns its tables and lends them: the wrapper takes a reference of its own.
boost::shared_ptr<CK7RTable> getTable(IK7RTableManager& manager, K7RTable type)
{
    IK7RTable* table = manager.getTable(type);
    if (!table)
        return boost::shared_ptr<CK7RTable>();
    return makeTableHandle(new CK7RTable(table));
}

K7RTableStatus tableStatus(CK7RTable& table) { return table.table()->getStatus(); }

bool tableIsCellChanged(CK7RTable& table, int row, int column)
{
    return table.table()->isCellChanged(row, column);
}

K7RTableEventsFilter tableEventsFilter(CK7RTable& table)
{
    return table.table()->getTableEventsFilter();
}

void setTableEventsFilter(CK7RTable& table, K7RTableEventsFilter filter)
{
    table.table()->setTableEventsFilter(filter);
}

void exportReader()
{
    const char* const doc = "The class provides methods to read a stream of trading table rows "
                            "coming from the trading server.";
    bp::class_<ReaderBase, boost::shared_ptr<ReaderBase>, boost::noncopyable>(
        "_K7RGenericTableResponseReader", doc, bp::no_init);

    bp::class_<Reader, boost::shared_ptr<Reader>, bp::bases<ReaderBase>, boost::noncopyable>(
        "K7RGenericTableResponseReader", doc, bp::no_init)
        .add_property("columns", &readerColumns,
                      "Gets an instance of the class that provides access to the list of table "
                      "columns.")
        .def("is_cell_valid", &readerIsCellValid,
             "Checks whether the cell value can be used or not.")
        .add_property("type", &readerType, "Gets the type of a trading table.")
        .def("__iter__", bp::range(&ReaderBase::begin, &ReaderBase::end))
        .def(ContainerMembers<ReaderBase>().get("__getitem__", nullptr))
        .def(ContainerMembers<ReaderBase>()
                 .get("get_row", "Gets a row by its index.")
                 .size("Gets the number of rows in the reader.")
                 .len("Reserved for future use."));
}

void exportTable()
{
    bp::class_<CK7RTable, boost::shared_ptr<CK7RTable>, bp::bases<Reader>, boost::noncopyable>(
        "K7RTable", "The class provides access to a table.", bp::no_init)
        .add_property("status", &tableStatus, "Gets the status of the table.")
        .def("is_cell_changed", &tableIsCellChanged, "Defines whether the cell is changed.")
        .def("get_rows_by_column_value", &getRowsByColumnValue,
             "Gets rows containing a specified column value.")
        .def("get_rows_by_multi_column_values", &getRowsByMultiColumnValues,
             "Gets rows containing a number of specified column values that satisfy specified "
             "conditions.")
        .def("get_rows_by_column_values", &getRowsByColumnValues,
             "Gets rows containing any of the specified column values.")
        .def("get_rows_by_condition", &getRowsByCondition,
             "Gets rows containing column values that satisfy a specified condition.")
        .add_property("table_events_filter", &tableEventsFilter, &setTableEventsFilter,
                      "Gets or sets a filter to receive trading events only and not receive "
                      "events caused by data recalculation.");
}

void exportTableManager()
{
    using M = IK7RTableManager;
    bp::class_<M, LibraryHandle<M>, boost::noncopyable>(
        "K7RTableManager", "The class creates and maintains trading tables in the Velvix memory.",
        bp::no_init)
        .def("get_table", &getTable, "Gets an instance of a trading table.")
        .add_property("status", &M::getStatus, "Gets a table manager status.")
        .def("lock_updates", &M::lockUpdates, "Locks tables updates.")
        .def("unlock_updates", &M::unlockUpdates, "Unlocks tables updates.");
}

}  // namespace

void exportTables()
{
    exportTableColumns();
    exportRow();
    exportOfferRow();
    exportAccountRow();
    exportOrderRow();
    exportTableManagerListener();
    exportClosedTradeRow();
    exportTradeRow();
    exportMessageRow();
    exportSummaryRow();

    exportReader();
    exportTableIterator();
    exportTable();
    exportTableManager();
}
