// velvix_sim: the tables face. Rows are authored here from plain values and handed to the
// session's table manager, which applies them on the dispatcher like any server update (BEGIN,
// the table events, END); waiting calls let go of the interpreter lock until that has happened.
// Tables are addressed by session id and table type, rows by their key, event queues by their
// registry id.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Control.h"
#include "core/World.h"
#include "velvix/EventQueues.h"
#include "velvix/Market.h"
#include "velvix/OrderEngine.h"
#include "velvix/Session.h"
#include "velvix/TableManager.h"

namespace control
{

namespace
{

using namespace sim::velvix;

sim::World& world()
{
    return sim::world();
}

std::int64_t milliseconds(double seconds)
{
    return static_cast<std::int64_t>(std::max(seconds, 0.0) * 1000.0);
}

void requireSession(unsigned long long id)
{
    if (!sim::Ref<Session>::adopt(world().registry().acquire<Session>(id)))
        raise(PyExc_LookupError, "no live session " + std::to_string(id));
}

sim::Ref<TableManager> manager(unsigned long long session)
{
    requireSession(session);
    sim::Ref<TableManager> m = SessionTables::instance().manager(session);
    if (!m)
        raise(PyExc_LookupError, "session " + std::to_string(session) +
                                     " has no table manager (use_table_manager(YES) before login)");
    return m;
}

Table* table(const sim::Ref<TableManager>& m, int type)
{
    Table* t = m->table(static_cast<K7RTable>(type));
    if (!t)
        raise(PyExc_ValueError, "no table of type " + std::to_string(type) + " (0 to 6)");
    return t;
}

CellValues toCellValues(const py::object& values)
{
    CellValues out;
    if (values.is_none())
        return out;
    py::list items = py::dict(values).items();
    for (Py_ssize_t i = 0, n = py::len(items); i < n; ++i)
    {
        py::object id = items[i][0];
        if (id.is_none())
            raise(PyExc_TypeError, "column ids must be str or bytes");
        out.emplace_back(*toText(id, "a column id"), toValue(items[i][1], "a cell value"));
    }
    return out;
}

std::string toKey(const py::object& key)
{
    if (key.is_none())
        raise(PyExc_TypeError, "a row key must be str or bytes");
    return *toText(key, "a row key");
}

py::object keyObject(const std::string& key)
{
    PyObject* s = PyUnicode_DecodeUTF8(key.data(), static_cast<Py_ssize_t>(key.size()), nullptr);
    if (s)
        return py::object(py::handle<>(s));
    PyErr_Clear();
    return fromValue(key);
}

RowKind rowKind(const std::string& kind)
{
    if (kind == "table")
        return RowKind::Table;
    if (kind == "plain")
        return RowKind::Plain;
    if (kind == "generic")
        return RowKind::Generic;
    raise(PyExc_ValueError, "unknown row kind '" + kind + "' (table, plain, generic)");
}

// A column set from (id, type, is_key) items.
sim::Ref<ColumnCollection> columnSet(const py::object& columns)
{
    std::vector<ColumnSpec> specs;
    for (Py_ssize_t i = 0, n = py::len(columns); i < n; ++i)
    {
        py::object item = columns[i];
        if (py::len(item) != 3)
            raise(PyExc_ValueError, "a column is (id, type, is_key)");
        ColumnSpec spec;
        spec.id = toText(item[0], "a column id").value_or(std::string());
        spec.type = py::extract<int>(item[1])();
        spec.key = PyObject_IsTrue(py::object(item[2]).ptr()) == 1;
        specs.push_back(std::move(spec));
    }
    return sim::make<ColumnCollection>(specs);
}

std::string valueKey(const sim::Value& v)
{
    if (auto s = std::get_if<std::string>(&v))
        return *s;
    if (auto i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    return std::string();
}

// A new row for a table, with its key: the key column's value, else a fresh one.
RowHold authorRow(Table& t, const CellValues& values, RowKind kind, ColumnCollection* columns, bool nullColumns,
                  const py::object& rowTableType)
{
    const K7RTable type = rowTableType.is_none() ? t.getType() : static_cast<K7RTable>(py::extract<int>(rowTableType)());
    RowHold row = makeRow(type, kind, columns, nullColumns);
    row->apply(values);
    for (int i = 0; i < row->count(); ++i)
        row->setChanged(i, false);
    const std::string keyId = keyColumnId(t.getType());
    std::string key;
    for (const auto& [id, value] : values)
        if (id == keyId)
        {
            key = valueKey(value);
            break;
        }
    if (key.empty())
    {
        key = t.freshKey();
        const int index = row->columnSet().indexOf(keyId);
        if (index >= 0 && row->columnSet().typeAt(index) == IK7RTableColumn::String)
            row->set(index, key);
    }
    row->setKey(key);
    return row;
}

struct Done
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    void set()
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        cv.notify_all();
    }
    bool wait(double timeout)
    {
        WithoutGil unlocked;
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(milliseconds(timeout)), [&] { return done; });
    }
};

// Submits a batch; with wait, true once applied and delivered within the timeout.
bool submit(const sim::Ref<TableManager>& m, std::vector<TableChange> batch, bool wait, double timeout)
{
    auto done = std::make_shared<Done>();
    {
        WithoutGil unlocked;  // the batch may hold the last reference to rows of a dropped table
        m->submit(std::move(batch), [done] { done->set(); });
    }
    if (!wait)
        return true;
    if (world().dispatcher().onDispatcherThread())
        return false;
    return done->wait(timeout);
}

// --- rows ------------------------------------------------------------------------------------

py::object insert_row(unsigned long long session, int tableType, const py::object& values, const std::string& kind,
                      const py::object& columns, bool nullColumns, const py::object& rowTableType, bool wait,
                      double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    Table* t = table(m, tableType);
    sim::Ref<ColumnCollection> own = columns.is_none() ? sim::Ref<ColumnCollection>() : columnSet(columns);
    TableChange change;
    change.table = t->getType();
    change.op = K7RTableUpdateType::Insert;
    change.row = authorRow(*t, toCellValues(values), rowKind(kind), own.get(), nullColumns, rowTableType);
    const std::string key = change.row->key();
    std::vector<TableChange> batch;
    batch.push_back(std::move(change));
    if (!submit(m, std::move(batch), wait, timeout))
        raise(PyExc_TimeoutError, "the row was not delivered within the timeout (are updates locked?)");
    return keyObject(key);
}

py::list insert_rows(unsigned long long session, int tableType, const py::object& rows, const std::string& kind,
                     bool wait, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    Table* t = table(m, tableType);
    const RowKind k = rowKind(kind);
    std::vector<TableChange> batch;
    py::list keys;
    for (Py_ssize_t i = 0, n = py::len(rows); i < n; ++i)
    {
        TableChange change;
        change.table = t->getType();
        change.op = K7RTableUpdateType::Insert;
        change.row = authorRow(*t, toCellValues(rows[i]), k, nullptr, false, py::object());
        keys.append(keyObject(change.row->key()));
        batch.push_back(std::move(change));
    }
    if (!submit(m, std::move(batch), wait, timeout))
        raise(PyExc_TimeoutError, "the rows were not delivered within the timeout (are updates locked?)");
    return keys;
}

bool update_row(unsigned long long session, int tableType, const py::object& key, const py::object& values, bool wait,
                double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    Table* t = table(m, tableType);
    TableChange change;
    change.table = t->getType();
    change.op = K7RTableUpdateType::Update;
    change.key = toKey(key);
    change.values = toCellValues(values);
    if (!t->find(change.key))
        raise(PyExc_LookupError, "no row with that key in table " + std::to_string(tableType));
    std::vector<TableChange> batch;
    batch.push_back(std::move(change));
    return submit(m, std::move(batch), wait, timeout);
}

bool delete_row(unsigned long long session, int tableType, const py::object& key, bool wait, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    Table* t = table(m, tableType);
    TableChange change;
    change.table = t->getType();
    change.op = K7RTableUpdateType::Delete;
    change.key = toKey(key);
    if (!t->find(change.key))
        raise(PyExc_LookupError, "no row with that key in table " + std::to_string(tableType));
    std::vector<TableChange> batch;
    batch.push_back(std::move(change));
    return submit(m, std::move(batch), wait, timeout);
}

RowHold row(unsigned long long session, int tableType, const py::object& key)
{
    RowHold r = table(manager(session), tableType)->find(toKey(key));
    if (!r)
        raise(PyExc_LookupError, "no row with that key in table " + std::to_string(tableType));
    return r;
}

void set_cell_changed(unsigned long long session, int tableType, const py::object& key, int column, bool changed)
{
    RowHold r = row(session, tableType, key);
    if (column < 0 || column >= r->count())
        raise(PyExc_IndexError, "no column " + std::to_string(column));
    r->setChanged(column, changed);
}

void set_validity(unsigned long long session, const py::object& key, const py::dict& flags)
{
    RowHold r = row(session, static_cast<int>(K7RTable::Offers), key);
    py::list items = flags.items();
    for (Py_ssize_t i = 0, n = py::len(items); i < n; ++i)
    {
        const std::string name = py::extract<std::string>(items[i][0])();
        const int f = validityFlag(name);
        if (f < 0)
            raise(PyExc_ValueError, "no validity flag '" + name + "'");
        r->setValid(f, PyObject_IsTrue(py::object(items[i][1]).ptr()) == 1);
    }
}

py::object cell(unsigned long long session, int tableType, const py::object& key, const py::object& column)
{
    RowHold r = row(session, tableType, key);
    int index;
    if (PyLong_Check(column.ptr()))
        index = py::extract<int>(column)();
    else
        index = r->columnSet().indexOf(*toText(column, "a column id"));
    if (index < 0 || index >= r->count())
        raise(PyExc_LookupError, "no such column");
    return fromValue(r->read(index));
}

py::list table_keys(unsigned long long session, int tableType)
{
    py::list out;
    for (const RowHold& r : table(manager(session), tableType)->rows())
        out.append(keyObject(r->key()));
    return out;
}

py::object manager_id(unsigned long long session)
{
    requireSession(session);
    sim::Ref<TableManager> m = SessionTables::instance().manager(session);
    return m ? py::object(static_cast<unsigned long long>(m->simId())) : py::object();
}

unsigned long long table_id(unsigned long long session, int tableType)
{
    return table(manager(session), tableType)->simId();
}

unsigned long long row_id(unsigned long long session, int tableType, const py::object& key)
{
    RowHold r = row(session, tableType, key);
    return dynamic_cast<sim::Registered*>(r->row())->simId();
}

void use_table_manager(unsigned long long session, int mode)
{
    requireSession(session);
    WithoutGil unlocked;  // a listener replaced goes back to its owner
    SessionTables::instance().use(session, static_cast<K7RTableManagerMode>(mode), nullptr);
}

bool wait_manager_status(unsigned long long session, int status, double timeout)
{
    requireSession(session);
    WithoutGil unlocked;
    return SessionTables::instance().waitStatus(session, status, milliseconds(timeout));
}

// --- statuses and batches --------------------------------------------------------------------

bool set_table_status(unsigned long long session, int tableType, int status, bool wait, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    table(m, tableType);
    return onDispatcher([m, tableType, status] { m->table(static_cast<K7RTable>(tableType))->setStatus(status); },
                        wait, timeout);
}

bool set_manager_status(unsigned long long session, int status, bool nullManager, bool wait, double timeout)
{
    requireSession(session);
    sim::Ref<TableManager> m = SessionTables::instance().manager(session);
    return onDispatcher(
        [m, session, status, nullManager] {
            if (m)
            {
                m->reportStatus(status, nullManager);
                return;
            }
            // No manager yet: the listener hears of the status with no manager.
            if (SharedManagerListener l = SessionTables::instance().listener(session); l && l->get())
                l->get()->onStatusChanged(static_cast<K7RTableManagerStatus>(status), nullptr);
        },
        wait, timeout);
}

bool fire_updates_process_status(unsigned long long session, int status, bool wait, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    return onDispatcher([m, status] { m->deliverProcessStatus(status); }, wait, timeout);
}

bool fire_updates_process_failed(unsigned long long session, const py::object& reason, bool wait, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    sim::Text text = toText(reason, "the reason");
    return onDispatcher([m, text] { m->deliverProcessFailed(text); }, wait, timeout);
}

py::tuple updates_locked(unsigned long long session)
{
    sim::Ref<TableManager> m = manager(session);
    return py::make_tuple(m->lockDepth(), m->pendingBatches());
}

// --- raw table events and event queues --------------------------------------------------------

// The row a hook passes: the row with that key in the table, or null for None.
RowHold rowOrNull(unsigned long long session, int tableType, const py::object& key)
{
    return key.is_none() ? RowHold() : row(session, tableType, key);
}

bool fire_table_event(unsigned long long session, int tableType, int event, const py::object& rowId,
                      const py::object& key, bool wait, double timeout)
{
    auto held = sim::Ref<Table>::retain(table(manager(session), tableType));
    RowHold r = rowOrNull(session, tableType, key);
    sim::Text id = toText(rowId, "a row id");
    return control::onDispatcher([held, event, id, r] { held->fire(static_cast<K7RTableUpdateType>(event), id, r); },
                                 wait, timeout);
}

double fire_table_event_burst(unsigned long long session, int tableType, int event, const py::object& key, int count,
                              double timeout)
{
    auto held = sim::Ref<Table>::retain(table(manager(session), tableType));
    RowHold r = rowOrNull(session, tableType, key);
    sim::Text id = r ? sim::Text(r->key()) : sim::Text();
    auto seconds = std::make_shared<double>(-1.0);
    const bool ran = control::onDispatcher(
        [held, event, id, r, count, seconds] {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < count; ++i)
                held->fire(static_cast<K7RTableUpdateType>(event), id, r);
            *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        },
        true, timeout);
    return ran ? *seconds : -1.0;
}

template <class Queue>
sim::Ref<Queue> liveQueue(unsigned long long id)
{
    return sim::Ref<Queue>::adopt(world().registry().acquire<Queue>(id));
}

template <class Queue>
py::dict queueInfo(Queue& q)
{
    py::dict out;
    out["kind"] = q.simKind();
    out["table"] = static_cast<int>(q.getBelongTableType());
    out["events"] = static_cast<int>(q.getEventsType());
    out["flag"] = q.loanFlag();
    out["size"] = q.size();
    out["subscribers"] = q.subscribers();
    out["returned"] = q.closed();
    out["waiters"] = q.waiters();
    return out;
}

[[noreturn]] void noQueue(unsigned long long id)
{
    raise(PyExc_LookupError, "no live event queue " + std::to_string(id));
}

py::dict queue_info(unsigned long long id)
{
    if (auto q = liveQueue<AllEventQueue>(id))
        return queueInfo(*q);
    if (auto q = liveQueue<UpdateEventQueue>(id))
        return queueInfo(*q);
    noQueue(id);
}

bool queue_put(unsigned long long id, const py::object& session, const py::object& tableType, const py::object& key,
               int event, int process, bool nullItem, bool wait, double timeout)
{
    // The row comes from the session's table of the queue's own type unless another is named,
    // frozen as the server's events are.
    auto rowFor = [&](K7RTable belong) {
        if (key.is_none() || nullItem)
            return RowHold();
        if (session.is_none())
            raise(PyExc_ValueError, "a row key needs the session_id");
        const int type = tableType.is_none() ? static_cast<int>(belong) : py::extract<int>(tableType)();
        return row(py::extract<unsigned long long>(session)(), type, key)->freeze();
    };
    if (auto q = liveQueue<AllEventQueue>(id))
    {
        sim::Ref<IK7RAllEventQueueItem> item;
        if (!nullItem)
            item = sim::Ref<IK7RAllEventQueueItem>::adopt(
                sim::make<QueueItem>(rowFor(q->getBelongTableType()), static_cast<K7RTableUpdateType>(event),
                                     static_cast<K7RUpdatesProcessStatus>(process))
                    .detach());
        return control::onDispatcher([q, item] { q->put(item); }, wait, timeout);
    }
    if (auto q = liveQueue<UpdateEventQueue>(id))
    {
        RowHold r = rowFor(q->getBelongTableType());
        auto element = sim::Ref<IK7RRow>::adopt(r.share());
        return control::onDispatcher([q, element] { q->put(element); }, wait, timeout);
    }
    noQueue(id);
}

py::tuple queue_loans(const std::string& kind)
{
    const QueueCounts c = queueCounts(kind);
    return py::make_tuple(c.loans, c.returns);
}

// --- subscribers ---------------------------------------------------------------------------

enum class Where
{
    Table,
    Process
};

std::pair<Where, TablePoint> tablePoint(const std::string& name)
{
    if (name == "table_status")
        return {Where::Table, TablePoint::Status};
    if (name == "updates_process")
        return {Where::Process, TablePoint::Status};
    const std::string prefix = "table_update:";
    if (name.rfind(prefix, 0) == 0)
    {
        const std::string type = name.substr(prefix.size());
        if (type == "INSERT" || type == "0")
            return {Where::Table, TablePoint::Insert};
        if (type == "UPDATE" || type == "1")
            return {Where::Table, TablePoint::Update};
        if (type == "DELETE" || type == "2")
            return {Where::Table, TablePoint::Delete};
    }
    raise(PyExc_ValueError, "unknown table point '" + name +
                                "' (table_update:INSERT|UPDATE|DELETE or 0|1|2, table_status, updates_process)");
}

int table_subscribers(unsigned long long session, int tableType, const std::string& point)
{
    sim::Ref<TableManager> m = manager(session);
    const auto [where, p] = tablePoint(point);
    if (where == Where::Process)
        return m->processSubscribers();
    return table(m, tableType)->subscribers(p);
}

bool wait_table_subscribers(unsigned long long session, int tableType, const std::string& point, int n, double timeout)
{
    sim::Ref<TableManager> m = manager(session);
    const auto [where, p] = tablePoint(point);
    Table* t = where == Where::Table ? table(m, tableType) : nullptr;
    WithoutGil unlocked;
    if (!t)
        return m->waitProcessSubscribers(n, milliseconds(timeout));
    return t->waitSubscribers(p, n, milliseconds(timeout));
}

// --- searches, prices, loading ---------------------------------------------------------------

py::list search_journal(bool withOperators)
{
    py::list out;
    for (const SearchRecord& r : searchJournal())
    {
        py::object column;
        if (r.operation == "getNextGenericRowByMultiColumnValues")
        {
            py::list ids;
            for (const auto& id : r.columns)
                ids.append(fromText(id));
            column = ids;
        }
        else
        {
            column = fromText(r.columns.empty() ? sim::Text() : r.columns.front());
        }
        py::list values;
        for (const sim::Value& v : r.values)
            values.append(fromValue(v));
        if (!withOperators)
        {
            out.append(py::make_tuple(r.operation, column, values));
            continue;
        }
        py::list ops;
        for (int op : r.operators)
            ops.append(op);
        out.append(py::make_tuple(r.operation, column, values, ops, r.logic < 0 ? py::object() : py::object(r.logic)));
    }
    return out;
}

void miss_search(int after)
{
    if (after < 0)
        raise(PyExc_ValueError, "after must not be negative");
    missSearch(after);
}

void price_ticks(bool enabled, long long intervalMs)
{
    if (intervalMs <= 0)
        raise(PyExc_ValueError, "the tick interval must be positive");
    market::Settings s = market::settings();
    s.ticks = enabled;
    s.tickMs = intervalMs;
    market::setSettings(s);
    restartPriceFeed();
}

bool set_price(const std::string& offerId, double bid, double ask, bool wait, double timeout)
{
    if (market::findInstrument(offerId) < 0)
        raise(PyExc_LookupError, "the server quotes no offer '" + offerId + "'");
    if (!std::isfinite(bid) || !std::isfinite(ask) || !(bid > 0.0) || ask < bid)
        raise(PyExc_ValueError, "a price needs 0 < bid <= ask");
    return onDispatcher([offerId, bid, ask] { movePrice(offerId, bid, ask); }, wait, timeout);
}

void set_table_load(long long delayMs, bool fails)
{
    if (delayMs < 0)
        raise(PyExc_ValueError, "the load delay must not be negative");
    market::Settings s = market::settings();
    s.loadDelayMs = delayMs;
    s.loadFails = fails;
    market::setSettings(s);
}

void set_market_seed(unsigned long long seed)
{
    market::Settings s = market::settings();
    s.seed = seed;
    market::setSettings(s);
}

}  // namespace

void registerTableHooks()
{
    using py::arg;
    const py::object none;

    py::def("insert_row", &insert_row,
            (arg("session_id"), arg("table_type"), arg("values"), arg("kind") = "table", arg("columns") = none,
             arg("null_columns") = false, arg("row_table_type") = none, arg("wait") = true, arg("timeout") = 10.0),
            "Appends a row to a table of the session's manager (INSERT to its listeners) and gives its key. "
            "values: {column id: value}; kind: table, plain or generic; columns: (id, type, is_key) items "
            "replacing the column set; row_table_type: the type the row reports.");
    py::def("insert_rows", &insert_rows,
            (arg("session_id"), arg("table_type"), arg("rows"), arg("kind") = "table", arg("wait") = true,
             arg("timeout") = 10.0),
            "Appends many rows in one batch; gives their keys.");
    py::def("update_row", &update_row,
            (arg("session_id"), arg("table_type"), arg("key"), arg("values"), arg("wait") = true,
             arg("timeout") = 10.0),
            "Sets cells of the row with that key (UPDATE to its table's listeners).");
    py::def("delete_row", &delete_row,
            (arg("session_id"), arg("table_type"), arg("key"), arg("wait") = true, arg("timeout") = 10.0),
            "Takes the row with that key out of its table (DELETE to the listeners).");
    py::def("set_cell_changed", &set_cell_changed,
            (arg("session_id"), arg("table_type"), arg("key"), arg("column_index"), arg("flag")),
            "Sets a cell's changed flag.");
    py::def("set_validity", &set_validity, (arg("session_id"), arg("key"), arg("flags")),
            "Sets validity flags of an offer row: {getter or property name: bool}.");
    py::def("cell", &cell, (arg("session_id"), arg("table_type"), arg("key"), arg("column")),
            "A cell's current value, by column index or id (texts as bytes).");
    py::def("table_keys", &table_keys, (arg("session_id"), arg("table_type")), "The keys of a table's rows, in order.");
    py::def("manager_id", &manager_id, (arg("session_id")), "The id of the session's table manager, or None.");
    py::def("table_id", &table_id, (arg("session_id"), arg("table_type")), "The id of a table.");
    py::def("row_id", &row_id, (arg("session_id"), arg("table_type"), arg("key")), "The id of a row.");

    py::def("use_table_manager", &use_table_manager, (arg("session_id"), arg("mode") = 1),
            "As the session's useTableManager with no listener: the tables load at the next login.");
    py::def("wait_manager_status", &wait_manager_status,
            (arg("session_id"), arg("status"), arg("timeout") = 10.0),
            "Waits until the session has a table manager in that status; false on timeout.");
    py::def("set_table_status", &set_table_status,
            (arg("session_id"), arg("table_type"), arg("status"), arg("wait") = true, arg("timeout") = 10.0),
            "Sets a table's status (any integer) and reports it to its status listeners.");
    py::def("set_manager_status", &set_manager_status,
            (arg("session_id"), arg("status"), arg("null_manager") = false, arg("wait") = true,
             arg("timeout") = 10.0),
            "Reports a manager status (any integer) to the useTableManager listener; with null_manager, or "
            "before a manager exists, with no manager.");
    py::def("fire_updates_process_status", &fire_updates_process_status,
            (arg("session_id"), arg("status"), arg("wait") = true, arg("timeout") = 10.0),
            "Delivers an updates-process status to the manager's updates-process listeners.");
    py::def("fire_updates_process_failed", &fire_updates_process_failed,
            (arg("session_id"), arg("reason"), arg("wait") = true, arg("timeout") = 10.0),
            "Delivers the updates-process listeners' second callback with a reason (or None).");
    py::def("updates_locked", &updates_locked, (arg("session_id")),
            "(lock depth, batches held back) of the session's manager.");

    py::def("fire_table_event", &fire_table_event,
            (arg("session_id"), arg("table_type"), arg("event"), arg("row_id"), arg("key") = none,
             arg("wait") = true, arg("timeout") = 10.0),
            "Calls the table's listeners of that update type (0 INSERT, 1 UPDATE, 2 DELETE) with a row id (str, "
            "bytes or None) and the row with that key (None: a null row); nothing else changes.");
    py::def("fire_table_event_burst", &fire_table_event_burst,
            (arg("session_id"), arg("table_type"), arg("event"), arg("key"), arg("count"), arg("timeout") = 60.0),
            "Calls the listeners `count` times in one go on the dispatcher with the row of that key; gives the "
            "seconds it took.");
    py::def("queue_info", &queue_info, (arg("queue_id")),
            "A lent event queue as {kind, table, events, flag, size, subscribers, returned, waiters}.");
    py::def("queue_put", &queue_put,
            (arg("queue_id"), arg("session_id") = none, arg("table_type") = none, arg("key") = none,
             arg("event") = -1, arg("process_status") = -1, arg("null_item") = false, arg("wait") = true,
             arg("timeout") = 10.0),
            "Puts into a queue on the dispatcher, telling its listeners: the row with that key (None: no row) as "
            "an item with the event and process status, or as the row of an update queue; null_item puts a null "
            "element, which a waiter takes as None.");
    py::def("queue_loans", &queue_loans, (arg("kind")),
            "(loans, returns) of a queue kind since reset: IK7RAllEventQueue or IK7RUpdateEventQueue.");

    py::def("table_subscribers", &table_subscribers, (arg("session_id"), arg("table_type"), arg("point")),
            "Listeners held at a table point: table_update:INSERT|UPDATE|DELETE, table_status, updates_process.");
    py::def("wait_table_subscribers", &wait_table_subscribers,
            (arg("session_id"), arg("table_type"), arg("point"), arg("n"), arg("timeout") = 10.0),
            "Waits until exactly n listeners are held at the table point; false on timeout.");

    py::def("search_journal", &search_journal, (arg("with_operators") = false),
            "Searches since reset as (operation, column id, values); with_operators adds (operators, logic).");
    py::def("miss_search", &miss_search, (arg("after") = 0),
            "The search call number after+1 from now finds nothing (once).");
    py::def("price_ticks", &price_ticks, (arg("enabled") = true, arg("interval_ms") = 250),
            "Live offer price updates on or off, and their interval.");
    py::def("set_price", &set_price,
            (arg("offer_id"), arg("bid"), arg("ask"), arg("wait") = true, arg("timeout") = 10.0),
            "Publishes a price of an offer the server quotes, as a tick would: every loaded manager's offer row "
            "follows, and the desk deals at it.");
    py::def("set_table_load", &set_table_load, (arg("delay_ms") = 50, arg("fails") = false),
            "Time from TABLES_LOADING to TABLES_LOADED, or a load that fails.");
    py::def("set_market_seed", &set_market_seed, (arg("seed")), "The price model's seed (42 until reset).");
}

}  // namespace control
