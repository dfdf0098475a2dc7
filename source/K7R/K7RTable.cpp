// source/K7R/K7RTable.cpp: the table classes: the reader over a table's rows, the table listener
// and each-row listener pairs, K7RTable with its subscriptions and queues, K7RTableManager, and
// exportTables, which registers the whole table family in order.
#include "K7R/K7RTable.h"

#include <boost/python.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_map>

#include "Callback.h"
#include "Constructors.h"
#include "K7R/K7RAllEventQueueListener.h"
#include "K7R/K7REventQueue.h"
#include "K7R/K7RRow.h"
#include "K7R/K7RTableColumn.h"
#include "K7R/K7RTableIterator.h"
#include "K7R/K7RTableManagerListener.h"
#include "K7R/K7RUpdateEventQueueListener.h"
#include "K7R/K7RUpdatesProcessStatusListener.h"
#include "K7R/LentRow.h"
#include "K7R/RowWrapping.h"
#include "LateCaller.h"
#include "Subscription.h"
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

// --- the table listener pair -----------------------------------------------------------------------

class K7RTableListenerImpl;

// The subscription a table listener's callback belongs to: on_added is INSERT's, on_changed
// UPDATE's, on_deleted DELETE's, on_status_changed the status's.
enum TableEvents
{
    kInserts,
    kUpdates,
    kDeletes,
    kStatus,
    kNoTableEvents  // an update type no callback belongs to
};

// One per table the listener is subscribed at, so that each callback says which table's
// subscription it belongs to. A null row reaches no override.
//
// The library lets a subscription go only when the late-call worker runs the job, so each kind of
// callback has a mark of its own, set while the listener holds no subscription of that kind at
// this table: from the unsubscribe call on, callbacks of that kind from this table do nothing,
// while the other kinds, and the other tables, are still heard. Guarded by the interpreter lock.
class K7RTableListenerHelper final : public ListenerHelper<K7RTableListenerImpl, IK7RTableListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onAdded(const char* rowId, IK7RRow* row) override;
    void onChanged(const char* rowId, IK7RRow* row) override;
    void onDeleted(const char* rowId, IK7RRow* row) override;
    void onStatusChanged(K7RTableStatus status) override;

    void hear(TableEvents events) { m_silent[events] = false; }
    void silence(TableEvents events) { m_silent[events] = true; }
    bool silent(TableEvents events) const { return m_silent[events]; }

private:
    bool m_silent[kNoTableEvents + 1] = {};
};

// Held by shared pointer in its Python object, AK7RTableListener. Rows arrive as their most
// specific row class. Each callback comes with the library-side object of the table it is from.
class K7RTableListenerImpl : public ListenerImpl<K7RTableListenerImpl, K7RTableListenerHelper>
{
public:
    K7RTableListenerImpl() : ListenerImpl(this) {}
    ~K7RTableListenerImpl() override;
    virtual void onAdded(const char* rowId, const bp::object& row);
    virtual void onChanged(const char* rowId, const bp::object& row);
    virtual void onDeleted(const char* rowId, const bp::object& row);
    virtual void onStatusChanged(K7RTableStatus status);

    // The library's callbacks, through the helper of the table they come from.
    void addedAt(const char* rowId, const bp::object& row, const K7RTableListenerHelper* from);
    void changedAt(const char* rowId, const bp::object& row, const K7RTableListenerHelper* from);
    void deletedAt(const char* rowId, const bp::object& row, const K7RTableListenerHelper* from);
    void statusChangedAt(K7RTableStatus status, const K7RTableListenerHelper* from);

    // The library-side object subscribed at `table` (the library's table), made on first use and
    // kept while this object lives. With the interpreter lock held.
    K7RTableListenerHelper& helperAt(const void* table);

private:
    std::unordered_map<const void*, K7RTableListenerHelper*> m_atTables;  // a reference each
};

// --- the each-row listener pair --------------------------------------------------------------------

class K7REachRowListenerImpl;

// A null row reaches no override, as with the table listener.
class K7REachRowListenerHelper final
    : public ListenerHelper<K7REachRowListenerImpl, IK7REachRowListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onEachRow(const char* rowId, IK7RRow* row) override;
};

// No callback guard: the library calls it only from inside for_each_row, on that call's thread, so
// there is no subscription to end and nothing to wait for. Held by shared pointer in its Python
// object, AK7REachRowListener.
class K7REachRowListenerImpl : public bp::wrapper<K7REachRowListenerImpl>
{
public:
    K7REachRowListenerImpl() : m_helper(new K7REachRowListenerHelper(this)) {}
    K7REachRowListenerImpl(const K7REachRowListenerImpl&) = delete;
    K7REachRowListenerImpl& operator=(const K7REachRowListenerImpl&) = delete;

    // The library may still hold the helper: from now on it finds no owner.
    virtual ~K7REachRowListenerImpl()
    {
        GILGuard gil;
        m_helper->detach();
        m_helper->release();
    }

    virtual void onEachRow(const char* rowId, const bp::object& row);

    K7REachRowListenerHelper* helper() const { return m_helper; }

    // A row that could not be made was reported: its error is kept for for_each_row, as an
    // override's is.
    void reported();

private:
    K7REachRowListenerHelper* m_helper;
};

} }  // namespace vexa2::python

namespace {

const char* const kTableFile = "source\\K7R\\K7RTable";

const CallbackSite kAdded{"on_added", "AK7RTableListener::on_added", "onAdded", kTableFile, 555};
const CallbackSite kChanged{"on_changed", "AK7RTableListener::on_changed", "onChanged", kTableFile,
                            571};
const CallbackSite kDeleted{"on_deleted", "AK7RTableListener::on_deleted", "onDeleted", kTableFile,
                            586};
const CallbackSite kStatusChanged{"on_status_changed", "AK7RTableListener::on_status_changed",
                                  "onStatusChanged", kTableFile, 601};
const CallbackSite kEachRow{"on_each_row", "AK7REachRowListenerImpl::on_each_row", "onEachRow",
                            kTableFile, 712};

// The errors the each-row overrides of one for_each_row call raise on its thread. Each is
// reported as it happens and then taken out of the interpreter, so that the next row's callback
// never runs with an error pending; the call raises the last one when the library returns.
// Calls nest (an override may walk another table), each keeping its own.
class EachRowErrors
{
public:
    EachRowErrors() : m_outer(t_current) { t_current = this; }
    ~EachRowErrors()
    {
        t_current = m_outer;
        clear();
    }
    EachRowErrors(const EachRowErrors&) = delete;
    EachRowErrors& operator=(const EachRowErrors&) = delete;

    // After a callback, with the lock held: keeps the error it left set, if any. Outside a
    // for_each_row call there is no one to raise it to: the report was all.
    static void keepPending()
    {
        if (!PyErr_Occurred())
            return;
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        if (EachRowErrors* current = t_current)
        {
            current->clear();
            current->m_type = type;
            current->m_value = value;
            current->m_traceback = traceback;
            return;
        }
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
    }

    // Raises the last error kept, as it was raised; nothing when there is none.
    void raiseLast()
    {
        if (!m_type)
            return;
        PyErr_Restore(std::exchange(m_type, nullptr), std::exchange(m_value, nullptr),
                      std::exchange(m_traceback, nullptr));
        bp::throw_error_already_set();
    }

private:
    void clear()
    {
        Py_CLEAR(m_type);
        Py_CLEAR(m_value);
        Py_CLEAR(m_traceback);
    }

    static thread_local EachRowErrors* t_current;
    EachRowErrors* m_outer;
    PyObject* m_type = nullptr;
    PyObject* m_value = nullptr;
    PyObject* m_traceback = nullptr;
};

thread_local EachRowErrors* EachRowErrors::t_current = nullptr;

}  // namespace

namespace vexa2 { namespace python {

void K7RTableListenerHelper::onAdded(const char* rowId, IK7RRow* row)
{
    if (row)
        forward(kAdded, &K7RTableListenerImpl::addedAt, rowId, LentRow{row}, this);
}

void K7RTableListenerHelper::onChanged(const char* rowId, IK7RRow* row)
{
    if (row)
        forward(kChanged, &K7RTableListenerImpl::changedAt, rowId, LentRow{row}, this);
}

void K7RTableListenerHelper::onDeleted(const char* rowId, IK7RRow* row)
{
    if (row)
        forward(kDeleted, &K7RTableListenerImpl::deletedAt, rowId, LentRow{row}, this);
}

void K7RTableListenerHelper::onStatusChanged(K7RTableStatus status)
{
    forward(&K7RTableListenerImpl::statusChangedAt, status, this);
}

K7RTableListenerImpl::~K7RTableListenerImpl()
{
    GILGuard gil;
    for (const auto& [table, helper] : m_atTables)
    {
        helper->detach();
        helper->release();
    }
}

K7RTableListenerHelper& K7RTableListenerImpl::helperAt(const void* table)
{
    K7RTableListenerHelper*& helper = m_atTables[table];
    if (!helper)
        helper = new K7RTableListenerHelper(this);
    return *helper;
}

// The mark is read in the same hold of the lock as the callback's guard is taken, so an
// unsubscribe sets it either before (the callback does nothing) or after (it waits for the
// callback, where it waits at all).
void K7RTableListenerImpl::addedAt(const char* rowId, const bp::object& row,
                                   const K7RTableListenerHelper* from)
{
    if (!from->silent(kInserts))
        onAdded(rowId, row);
}

void K7RTableListenerImpl::changedAt(const char* rowId, const bp::object& row,
                                     const K7RTableListenerHelper* from)
{
    if (!from->silent(kUpdates))
        onChanged(rowId, row);
}

void K7RTableListenerImpl::deletedAt(const char* rowId, const bp::object& row,
                                     const K7RTableListenerHelper* from)
{
    if (!from->silent(kDeletes))
        onDeleted(rowId, row);
}

void K7RTableListenerImpl::statusChangedAt(K7RTableStatus status, const K7RTableListenerHelper* from)
{
    if (!from->silent(kStatus))
        onStatusChanged(status);
}

void K7RTableListenerImpl::onAdded(const char* rowId, const bp::object& row)
{
    dispatch(kAdded, rowId, row);
}

void K7RTableListenerImpl::onChanged(const char* rowId, const bp::object& row)
{
    dispatch(kChanged, rowId, row);
}

void K7RTableListenerImpl::onDeleted(const char* rowId, const bp::object& row)
{
    dispatch(kDeleted, rowId, row);
}

void K7RTableListenerImpl::onStatusChanged(K7RTableStatus status)
{
    dispatch(kStatusChanged, status);
}

void K7REachRowListenerHelper::onEachRow(const char* rowId, IK7RRow* row)
{
    if (row)
        forward(kEachRow, &K7REachRowListenerImpl::onEachRow, rowId, LentRow{row});
}

void K7REachRowListenerImpl::onEachRow(const char* rowId, const bp::object& row)
{
    GILGuard gil;
    detail::callOverride(
        kEachRow, bp::detail::wrapper_base_::get_owner(*this),
        bp::converter::registered<K7REachRowListenerImpl>::converters.get_class_object(),
        [this](const char* name) { return this->get_override(name); }, rowId, row);
    EachRowErrors::keepPending();
}

void K7REachRowListenerImpl::reported()
{
    EachRowErrors::keepPending();
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

// --- table listener subscriptions ----------------------------------------------------------------

enum class TableSubscription
{
    SubscribeUpdate,
    UnsubscribeUpdate,
    SubscribeStatus,
    UnsubscribeStatus
};

// One table subscription change on its way to the library through the late-call worker. It holds
// a reference to the table wrapper and one to the listener's library-side object, and gives both
// back when it goes, whether it ran or a stopped worker dropped it; none of it touches Python.
class TableSubscriptionJob
{
public:
    TableSubscriptionJob(CK7RTable& table, K7RTableListenerHelper* helper, TableSubscription change,
                         K7RTableUpdateType type)
        : m_table(table), m_helper(helper), m_change(change), m_type(type)
    {
        static_cast<IAddRef&>(m_table).addRef();
        m_helper->addRef();
    }

    ~TableSubscriptionJob()
    {
        static_cast<IAddRef&>(m_table).release();
        m_helper->release();
    }

    TableSubscriptionJob(const TableSubscriptionJob&) = delete;
    TableSubscriptionJob& operator=(const TableSubscriptionJob&) = delete;

    void run()
    {
        IK7RTable& table = *m_table.table();
        switch (m_change)
        {
        case TableSubscription::SubscribeUpdate: table.subscribeUpdate(m_type, m_helper); break;
        case TableSubscription::UnsubscribeUpdate: table.unsubscribeUpdate(m_type, m_helper); break;
        case TableSubscription::SubscribeStatus: table.subscribeStatus(m_helper); break;
        case TableSubscription::UnsubscribeStatus: table.unsubscribeStatus(m_helper); break;
        }
    }

private:
    CK7RTable& m_table;
    K7RTableListenerHelper* m_helper;
    TableSubscription m_change;
    K7RTableUpdateType m_type;
};

// The library hears of the change after the Python call returned, in the order of the calls.
void postTableSubscription(CK7RTable& table, K7RTableListenerHelper& helper,
                           TableSubscription change,
                           K7RTableUpdateType type = K7RTableUpdateType::UpdateUnknown)
{
    auto job = std::make_shared<TableSubscriptionJob>(table, &helper, change, type);
    LateCaller::instance().post([job] { job->run(); });
}

TableEvents eventsOf(K7RTableUpdateType type)
{
    switch (type)
    {
    case K7RTableUpdateType::Insert: return kInserts;
    case K7RTableUpdateType::Update: return kUpdates;
    case K7RTableUpdateType::Delete: return kDeletes;
    default: break;
    }
    return kNoTableEvents;
}

void subscribeTable(CK7RTable& table, K7RTableListenerImpl& impl, TableEvents events,
                    TableSubscription change, K7RTableUpdateType type)
{
    impl.reset();
    K7RTableListenerHelper& helper = impl.helperAt(subscriptionTarget(table));
    helper.hear(events);
    postTableSubscription(table, helper, change, type);
}

// The library lets the subscription go only when the job runs; until then it may still deliver
// to it. The table's callbacks of its kind find their mark set, unless the listener is subscribed
// to that kind there more than once; the other kinds and tables it holds are still heard.
void unsubscribeTable(CK7RTable& table, K7RTableListenerImpl& impl, TableEvents events,
                      TableSubscription change, K7RTableUpdateType type, long long keyType)
{
    const SubscriptionKey key = subscriptionKey(table, keyType, impl);
    K7RTableListenerHelper& helper = impl.helperAt(key.target);
    if (matchingSubscriptionsLeftAfter(key) == 0)
        helper.silence(events);
    unsubscribeSteps(impl, key, [&] { postTableSubscription(table, helper, change, type); });
}

void subscribeTableUpdate(CK7RTable& table, K7RTableUpdateType type, K7RTableListenerImpl* listener)
{
    subscribeTable(table, requireListener(listener), eventsOf(type),
                   TableSubscription::SubscribeUpdate, type);
}

void unsubscribeTableUpdate(CK7RTable& table, K7RTableUpdateType type,
                            K7RTableListenerImpl* listener)
{
    unsubscribeTable(table, requireListener(listener), eventsOf(type),
                     TableSubscription::UnsubscribeUpdate, type, static_cast<int>(type));
}

void subscribeTableStatus(CK7RTable& table, K7RTableListenerImpl* listener)
{
    subscribeTable(table, requireListener(listener), kStatus, TableSubscription::SubscribeStatus,
                   K7RTableUpdateType::UpdateUnknown);
}

void unsubscribeTableStatus(CK7RTable& table, K7RTableListenerImpl* listener)
{
    unsubscribeTable(table, requireListener(listener), kStatus,
                     TableSubscription::UnsubscribeStatus, K7RTableUpdateType::UpdateUnknown,
                     kNoUpdateType);
}

// The library calls back on this thread before it returns; the lock stays held throughout.
void forEachRow(CK7RTable& table, K7REachRowListenerImpl* listener)
{
    K7REachRowListenerImpl& impl = requireListener(listener);
    EachRowErrors errors;
    table.table()->forEachRow(impl.helper());
    errors.raiseLast();
}

// --- event queues ----------------------------------------------------------------------------------

// A queue as Python holds it. Queues are not counted: when the last handle goes, the queue is
// given back to its owner, which the handle kept alive meanwhile.
template <class Queue, class Owner, class GiveBack>
boost::shared_ptr<Queue> queueHandle(Queue* queue, Owner* owner, GiveBack giveBack)
{
    if (!queue)
        return boost::shared_ptr<Queue>();
    owner->addRef();
    return boost::shared_ptr<Queue>(queue, [owner, giveBack](Queue* lent) {
        giveBack(*owner, lent);
        owner->release();
    });
}

boost::shared_ptr<IK7RUpdateEventQueue> updateEventQueue(CK7RTable& table, K7RTableUpdateType type,
                                                         bool flag)
{
    return queueHandle(table.table()->getUpdateEventQueue(type, flag), &table,
                       [](CK7RTable& owner, IK7RUpdateEventQueue* queue) {
                           owner.table()->returnUpdateEventQueue(queue);
                       });
}

boost::shared_ptr<IK7RUpdateEventQueue> updateEventQueueNoFlag(CK7RTable& table,
                                                               K7RTableUpdateType type)
{
    return updateEventQueue(table, type, false);
}

boost::shared_ptr<IK7RAllEventQueue> allEventQueue(CK7RTable& table, bool flag)
{
    return queueHandle(table.table()->getAllEventQueue(flag), &table,
                       [](CK7RTable& owner, IK7RAllEventQueue* queue) {
                           owner.table()->returnAllEventQueue(queue);
                       });
}

boost::shared_ptr<IK7RAllEventQueue> tablesUpdateEventQueue(IK7RTableManager& manager)
{
    return queueHandle(manager.getTablesUpdateEventQueue(), &manager,
                       [](IK7RTableManager& owner, IK7RAllEventQueue* queue) {
                           owner.returnTablesUpdateEventQueue(queue);
                       });
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

void exportTableListener()
{
    using L = K7RTableListenerImpl;
    bp::class_<L, boost::shared_ptr<L>, boost::noncopyable> listener(
        "AK7RTableListener",
        "The abstract class provides method signatures to process notifications about trading "
        "tables events: adding/updating/deleting of rows, and changes in a table status.",
        checkedInit<L>());
    defCallback(listener, "on_added", &L::onAdded,
                "Processes a notification about the row addition to a table.");
    defCallback(listener, "on_changed", &L::onChanged,
                "Processes a notification about the row change in a table.");
    defCallback(listener, "on_deleted", &L::onDeleted,
                "Processes a notification about the row deletion from a table.");
    defCallback(listener, "on_status_changed", &L::onStatusChanged,
                "Processes notifications about a table status changes.");
}

void exportEachRowListener()
{
    using L = K7REachRowListenerImpl;
    bp::class_<L, boost::shared_ptr<L>, boost::noncopyable> listener(
        "AK7REachRowListener",
        "The abstract class provides the method signature to process notifications about "
        "iteration through rows of a table.",
        checkedInit<L>());
    defCallback(listener, "on_each_row", &L::onEachRow, "Iterates through the rows of the table.");
}

void exportTable()
{
    const char* const reserved = "Reserved for future use.";
    bp::class_<CK7RTable, boost::shared_ptr<CK7RTable>, bp::bases<Reader>, boost::noncopyable>(
        "K7RTable", "The class provides access to a table.", bp::no_init)
        .def("subscribe_update", &subscribeTableUpdate, incref_arg_value_policy<2, CK7RTable>(),
             "Subscribes table listener to table updates.")
        .def("unsubscribe_update", &unsubscribeTableUpdate,
             decref_arg_value_policy<2, CK7RTable>(),
             "Unsubscribes table listener from table updates.")
        .def("subscribe_status", &subscribeTableStatus, incref_arg_value_policy<1, CK7RTable>(),
             "Subscribes table listener to changes in table status.")
        .def("unsubscribe_status", &unsubscribeTableStatus,
             decref_arg_value_policy<1, CK7RTable>(),
             "Unsubscribes table listener from changes in table status.")
        .add_property("status", &tableStatus, "Gets the status of the table.")
        .def("for_each_row", &forEachRow, "Iterates through the rows of the table.")
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
        .def("get_update_event_queue", &updateEventQueueNoFlag, reserved)
        .def("get_update_event_queue", &updateEventQueue, reserved)
        .def("all_event_queue", &allEventQueue, reserved)
        .add_property("table_events_filter", &tableEventsFilter, &setTableEventsFilter,
                      "Gets or sets a filter to receive trading events only and not receive "
                      "events caused by data recalculation.");
}

void exportTableManager()
{
    using M = IK7RTableManager;
    using Process = K7RUpdatesProcessStatusListenerImpl;
    const char* const reserved = "Reserved for future use.";
    bp::class_<M, LibraryHandle<M>, boost::noncopyable>(
        "K7RTableManager", "The class creates and maintains trading tables in the Velvix memory.",
        bp::no_init)
        .def("get_table", &getTable, "Gets an instance of a trading table.")
        .add_property("status", &M::getStatus, "Gets a table manager status.")
        .def("lock_updates", &M::lockUpdates, "Locks tables updates.")
        .def("unlock_updates", &M::unlockUpdates, "Unlocks tables updates.")
        .def("subscribe_updates_process_status",
             &subscribeListener<&M::subscribeUpdatesProcessStatus, Process>,
             incref_arg_value_policy<1, M>(), reserved)
        .def("unsubscribe_updates_process_status",
             &unsubscribeListener<&M::unsubscribeUpdatesProcessStatus, Process>,
             decref_arg_value_policy<1, M>(), reserved)
        .add_property("tables_update_event_queue", &tablesUpdateEventQueue, reserved);
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
    exportUpdateEventQueueListener();
    exportUpdatesProcessStatusListener();
    exportAllEventQueueListener();

    exportReader();
    exportTableListener();
    exportEachRowListener();
    exportTableIterator();
    exportTable();
    exportTableManager();
    exportAllEventQueue();
    exportAllEventQueueItem();
    exportUpdateEventQueue();
}
