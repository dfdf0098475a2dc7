// source/K7R/RowWrapping.cpp: row wrapping by dynamic cast to the most specific interface that the
// row's table has.
#include "K7R/RowWrapping.h"

#include <boost/python.hpp>

#include "ObjectHandles.h"

namespace vexa2 { namespace python {

namespace {

// The table-row interface first: a table's rows usually are table rows, and a plain row of that
// table is its row interface. A row that is neither is let go and becomes None.
template <class TableRow, class Row>
boost::python::object wrapAs(IK7RRow* row)
{
    if (TableRow* tableRow = dynamic_cast<TableRow*>(row))
        return wrapApiObject(tableRow);
    if (Row* plainRow = dynamic_cast<Row*>(row))
        return wrapApiObject(plainRow);
    row->release();
    return boost::python::object();
}

}  // namespace

boost::python::object rowToPythonObject(IK7RRow* row)
{
    if (!row)
        return boost::python::object();
    switch (row->getTableType())
    {
    case K7RTable::Offers: return wrapAs<IK7ROfferTableRow, IK7ROfferRow>(row);
    case K7RTable::Accounts: return wrapAs<IK7RAccountTableRow, IK7RAccountRow>(row);
    case K7RTable::Orders: return wrapAs<IK7ROrderTableRow, IK7ROrderRow>(row);
    case K7RTable::Trades: return wrapAs<IK7RTradeTableRow, IK7RTradeRow>(row);
    case K7RTable::ClosedTrades: return wrapAs<IK7RClosedTradeTableRow, IK7RClosedTradeRow>(row);
    case K7RTable::Messages: return wrapAs<IK7RMessageTableRow, IK7RMessageRow>(row);
    case K7RTable::Summary: return wrapAs<IK7RSummaryTableRow, IK7RSummaryRow>(row);
    default: break;
    }
    return wrapApiObject(row);
}

} }  // namespace vexa2::python
