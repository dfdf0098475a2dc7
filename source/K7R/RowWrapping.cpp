// source/K7R/RowWrapping.cpp: row wrapping by dynamic cast to the most specific interface that the
// row's table has, and the Python object made straight as that interface's class.
#include "K7R/RowWrapping.h"

#include <boost/python.hpp>

#include <cstddef>
#include <typeinfo>

#include "ObjectHandles.h"

namespace vexa2 { namespace python {

namespace {

namespace bp = boost::python;

// A row on its way to its object: the reference it carries (none when lent) is given back if no
// object takes it.
struct Taken
{
    IK7RRow* row;
    bool lent;
    RowLoan* loan = nullptr;  // the made object's

    Taken(IK7RRow* row, bool lent) : row(row), lent(lent) {}
    ~Taken()
    {
        if (row && !lent)
            row->release();
    }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;
};

// As wrapApiObject, for a row that is not null.
template <class Interface>
bp::object wrapRow(Interface* row, Taken& taken)
{
    using Holder = RowHolder<Interface>;
    return makeInstance<Interface, Holder>([row, &taken](void* storage) {
        Holder* holder = new (storage) Holder(row, taken.lent);
        taken.row = nullptr;
        taken.loan = holder;
        return holder;
    });
}

// The table-row interface first: a table's rows usually are table rows, and a plain row of that
// table is its row interface. A row that is neither becomes None.
//
// A cast across the library's boundary compares type names, so each table remembers the answer
// for the last concrete class it met (the rows of one table are one class): the offset from the
// IK7RRow part of such a row to the interface found, which is the same for every object of that
// class reached through the same part.
template <class TableRow, class Row>
bp::object wrapAs(IK7RRow* row, Taken& taken)
{
    enum class Found { Nothing, AsTableRow, AsRow };
    struct Cast
    {
        const std::type_info* type = nullptr;
        std::ptrdiff_t top = 0;  // where the IK7RRow part lies in the whole object
        Found found = Found::Nothing;
        std::ptrdiff_t offset = 0;
    };
    static Cast last;  // the interpreter lock guards it, as every row wrapping holds it

    char* const part = reinterpret_cast<char*>(row);
    const std::type_info* type = &typeid(*row);
    const std::ptrdiff_t top = static_cast<char*>(dynamic_cast<void*>(row)) - part;
    if (type != last.type || top != last.top)
    {
        Cast cast{type, top, Found::Nothing, 0};
        if (TableRow* tableRow = dynamic_cast<TableRow*>(row))
            cast = Cast{type, top, Found::AsTableRow, reinterpret_cast<char*>(tableRow) - part};
        else if (Row* plainRow = dynamic_cast<Row*>(row))
            cast = Cast{type, top, Found::AsRow, reinterpret_cast<char*>(plainRow) - part};
        last = cast;
    }
    switch (last.found)
    {
    case Found::AsTableRow: return wrapRow(reinterpret_cast<TableRow*>(part + last.offset), taken);
    case Found::AsRow: return wrapRow(reinterpret_cast<Row*>(part + last.offset), taken);
    case Found::Nothing: break;
    }
    return bp::object();
}

bp::object wrap(Taken& taken)
{
    IK7RRow* const row = taken.row;
    if (!row)
        return bp::object();
    switch (row->getTableType())
    {
    case K7RTable::Offers: return wrapAs<IK7ROfferTableRow, IK7ROfferRow>(row, taken);
    case K7RTable::Accounts: return wrapAs<IK7RAccountTableRow, IK7RAccountRow>(row, taken);
    case K7RTable::Orders: return wrapAs<IK7ROrderTableRow, IK7ROrderRow>(row, taken);
    case K7RTable::Trades: return wrapAs<IK7RTradeTableRow, IK7RTradeRow>(row, taken);
    case K7RTable::ClosedTrades: return wrapAs<IK7RClosedTradeTableRow, IK7RClosedTradeRow>(row, taken);
    case K7RTable::Messages: return wrapAs<IK7RMessageTableRow, IK7RMessageRow>(row, taken);
    case K7RTable::Summary: return wrapAs<IK7RSummaryTableRow, IK7RSummaryRow>(row, taken);
    default: break;
    }
    return wrapRow(row, taken);
}

}  // namespace

bp::object rowToPythonObject(IK7RRow* row)
{
    Taken taken(row, false);
    return wrap(taken);
}

bp::object lendRowToPython(IK7RRow* row, RowLoan*& loan)
{
    Taken taken(row, true);
    bp::object object = wrap(taken);
    loan = taken.loan;
    return object;
}

} }  // namespace vexa2::python
