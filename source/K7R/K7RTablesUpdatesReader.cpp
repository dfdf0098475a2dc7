// source/K7R/K7RTablesUpdatesReader.cpp: the tables updates classes: the items, the reader and its
// container base. An item owns a reference to its row, so items and their rows outlive the reader.
#include "K7R/K7RTablesUpdatesReader.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <memory>

#include "DateTime.h"
#include "K7R/RowWrapping.h"
#include "ObjectHandles.h"

namespace bp = boost::python;

// One update: its row (one reference of its own), its type and its table.
class K7RTablesUpdatesReaderItem
{
public:
    // Takes over the reference that `row` carries.
    K7RTablesUpdatesReaderItem(IK7RRow* row, K7RTableUpdateType type, K7RTable table)
        : m_row(row), m_type(type), m_table(table)
    {
    }

    ~K7RTablesUpdatesReaderItem() { m_row->release(); }

    K7RTablesUpdatesReaderItem(const K7RTablesUpdatesReaderItem&) = delete;
    K7RTablesUpdatesReaderItem& operator=(const K7RTablesUpdatesReaderItem&) = delete;

    IK7RRow* row() const { return m_row; }
    K7RTableUpdateType type() const { return m_type; }
    K7RTable table() const { return m_table; }

private:
    IK7RRow* m_row;
    K7RTableUpdateType m_type;
    K7RTable m_table;
};

namespace {

// What an item object holds: the item itself, made in the object's own storage. Its properties'
// `self` asks for the item and nothing else, so that is answered first and without the binding
// library's search through its holders by type name.
class ItemHolder : public bp::instance_holder
{
public:
    ItemHolder(IK7RRow* row, K7RTableUpdateType type, K7RTable table) : m_item(row, type, table) {}

private:
    void* holds(bp::type_info wanted, bool) override
    {
        static const char* const item = bp::type_id<K7RTablesUpdatesReaderItem>().name();
        if (wanted.name() == item || wanted == bp::type_id<K7RTablesUpdatesReaderItem>())
            return &m_item;
        return nullptr;
    }

    K7RTablesUpdatesReaderItem m_item;
};

}  // namespace

namespace vexa2 { namespace python {

std::size_t K7RTablesUpdatesReaderContainerSize(IK7RTablesUpdatesReader* reader)
{
    return defaultSize(reader);
}

bp::object K7RTablesUpdatesReaderContainerGetter(IK7RTablesUpdatesReader* reader, std::size_t index)
{
    if (!indexInRange<IK7RTablesUpdatesReader, K7RTablesUpdatesReaderContainerSize>(reader, index))
        return bp::object();
    const int i = static_cast<int>(index);
    IK7RRow* row = nullptr;
    const K7RTable table = reader->getUpdateTable(i);
    switch (table)
    {
    case K7RTable::Offers: row = reader->getOfferRow(i); break;
    case K7RTable::Accounts: row = reader->getAccountRow(i); break;
    case K7RTable::Orders: row = reader->getOrderRow(i); break;
    case K7RTable::Trades: row = reader->getTradeRow(i); break;
    case K7RTable::ClosedTrades: row = reader->getClosedTradeRow(i); break;
    case K7RTable::Messages: row = reader->getMessageRow(i); break;
    default: return bp::object();  // the summary, and tables that are none of the seven
    }
    if (!row)
        return bp::object();
    // The getter's reference becomes the item's; it goes back if the item is never made.
    std::unique_ptr<IK7RRow, void (*)(IK7RRow*)> returned(row, &releaseObject<IK7RRow>);
    const K7RTableUpdateType type = reader->getUpdateType(i);
    return makeInstance<K7RTablesUpdatesReaderItem, ItemHolder>([&](void* storage) {
        return new (storage) ItemHolder(returned.release(), type, table);
    });
}

} }  // namespace vexa2::python

namespace {

using namespace vexa2::python;
using Item = K7RTablesUpdatesReaderItem;
using Helper = K7RTablesUpdatesReaderHelper;
using Base = K7RTablesUpdatesReaderBase;

bp::object itemType(Item& item)
{
    return bp::object(item.type());
}

bp::object itemTable(Item& item)
{
    return bp::object(item.table());
}

// A reference of the result's own, as the most specific row class of the row's table.
bp::object tablesUpdatesItemRow(Item& item)
{
    item.row()->addRef();
    return rowToPythonObject(item.row());
}

bp::object tablesUpdatesServerTime(Helper& reader)
{
    return oleDateToPython(reader.getServerTime());
}

// tablesUpdatesGetRow: the plain row class of the getter's interface.
template <class Row, Row* (Helper::*Getter)(int)>
bp::object tablesUpdatesGetRow(Helper& reader, int i)
{
    return wrapApiObject((reader.*Getter)(i));
}

}  // namespace

void exportTablesUpdatesReader()
{
    // The items are made by ItemInstance only; the readers' shared-pointer converters come with
    // their held type.
    bp::class_<Item, boost::noncopyable>("K7RTablesUpdatesReaderItem", "One table update.",
                                                                  bp::no_init)
        .add_property("row", &tablesUpdatesItemRow, "Gets the row that has been updated.")
        .add_property("type", &itemType, "Gets the type of the update.")
        .add_property("table", &itemTable, "Gets the identifier of the table that has been updated.");

    bp::class_<Base, boost::shared_ptr<Base>, boost::noncopyable>("_K7RTablesUpdatesReader", bp::no_init);

    bp::class_<Helper, boost::shared_ptr<Helper>, bp::bases<Base>, boost::noncopyable>(
        "K7RTablesUpdatesReader", "The class reads a stream of table updates coming from the trading server.",
        bp::no_init)
        .add_property("server_time", &tablesUpdatesServerTime,
                      "Gets a calendar instance representing the date/time of a table update.")
        .def("get_update_type", &Helper::getUpdateType, "Gets the type of a table update.")
        .def("get_update_table", &Helper::getUpdateTable, "Gets the identifier of the table that has been updated.")
        .def("get_offer_row", &tablesUpdatesGetRow<IK7ROfferRow, &Helper::getOfferRow>,
             "Gets an instance of the class that provides access to the offer information.")
        .def("get_account_row", &tablesUpdatesGetRow<IK7RAccountRow, &Helper::getAccountRow>,
             "Gets an instance of the class that provides access to the account information.")
        .def("get_order_row", &tablesUpdatesGetRow<IK7ROrderRow, &Helper::getOrderRow>,
             "Gets an instance of the class that provides access to the order information.")
        .def("get_trade_row", &tablesUpdatesGetRow<IK7RTradeRow, &Helper::getTradeRow>,
             "Gets an instance of the class that provides access to the open position information.")
        .def("get_closed_trade_row", &tablesUpdatesGetRow<IK7RClosedTradeRow, &Helper::getClosedTradeRow>,
             "Gets an instance of the class that provides access to the closed position information.")
        .def("get_message_row", &tablesUpdatesGetRow<IK7RMessageRow, &Helper::getMessageRow>,
             "Gets an instance of the class that provides access to the message information.")
        .add_property("size", &Helper::size, "Gets the number of rows in the reader.")
        .def("__len__", &Helper::size, "Reserved for future use.")
        .def("get", &Base::get, "Gets one table update by its index.")
        .def("__iter__", bp::range(&Helper::begin, &Helper::end));
}
