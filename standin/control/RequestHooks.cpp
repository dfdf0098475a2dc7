// velvix_sim: the requests and responses face. Crafted responses are kept here, by registry id,
// until reset(); the server's request desk is scripted and read through plain values (request
// ids as str, parameters by their K7RRequestParamsEnum int). Deliveries run on the dispatcher
// and, when asked to wait, are waited for with the interpreter lock let go.
#include "RequestHooks.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "Control.h"
#include "core/World.h"
#include "velvix/OrderEngine.h"
#include "velvix/RequestServer.h"
#include "velvix/Responses.h"
#include "velvix/Rows.h"
#include "velvix/Session.h"
#include "velvix/SystemProperties.h"
#include "velvix/Timeframes.h"
#include "velvix/ValueMaps.h"

namespace control
{

namespace
{

using sim::velvix::MapContents;
using sim::velvix::RequestRecord;
using sim::velvix::RequestServer;
using sim::velvix::Response;
using sim::velvix::ResponseContent;
using sim::velvix::Session;

sim::World& world()
{
    return sim::world();
}

// The responses the face made, alive until reset().
struct Crafted
{
    std::mutex mutex;
    std::map<std::uint64_t, sim::Ref<Response>> responses;

    Crafted()
    {
        world().onReset([this] {
            std::map<std::uint64_t, sim::Ref<Response>> dropped;
            std::lock_guard<std::mutex> lock(mutex);
            dropped.swap(responses);
        });
    }
};

Crafted& crafted()
{
    static Crafted* c = new Crafted;
    return *c;
}

sim::Ref<Session> session(unsigned long long id)
{
    sim::Ref<Session> s = sim::Ref<Session>::adopt(world().registry().acquire<Session>(id));
    if (!s)
        raise(PyExc_LookupError, "no live session " + std::to_string(id));
    return s;
}

sim::Ref<Response> response(unsigned long long id)
{
    sim::Ref<Response> r = sim::Ref<Response>::adopt(world().registry().acquire<Response>(id));
    if (!r)
        raise(PyExc_LookupError, "no live response " + std::to_string(id));
    return r;
}

// A text as str when it is UTF-8, else as bytes; None for a null text.
py::object textObject(const std::string& s)
{
    PyObject* u = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
    if (u)
        return py::object(py::handle<>(u));
    PyErr_Clear();
    return fromValue(s);
}

py::object plain(const sim::Value& v)
{
    if (const auto* s = std::get_if<std::string>(&v))
        return textObject(*s);
    return fromValue(v);
}

py::dict paramsDict(const MapContents& c)
{
    py::dict out;
    for (const auto& [param, value] : c.params)
        out[param] = plain(value);
    if (!c.children.empty())
    {
        py::list children;
        for (const MapContents& child : c.children)
            children.append(paramsDict(child));
        out["children"] = children;
    }
    return out;
}

py::tuple recordTuple(const RequestRecord& r, bool withKind)
{
    py::dict params;
    if (r.kind == sim::velvix::RequestKind::Order)
        params = paramsDict(r.params);
    else
        for (const auto& [name, value] : r.info)
            params[name] = plain(value);
    if (withKind)
        return py::make_tuple(r.id, sim::velvix::kindName(r.kind), params);
    return py::make_tuple(r.id, params);
}

std::int64_t milliseconds(double seconds)
{
    return static_cast<std::int64_t>(std::max(seconds, 0.0) * 1000.0);
}

// A delivery posted earlier (by the server's desk) has run once the dispatcher drained it.
bool drained(bool wait, double timeout)
{
    if (!wait)
        return true;
    if (world().dispatcher().onDispatcherThread())
        return false;
    WithoutGil unlocked;
    return world().dispatcher().flush(milliseconds(timeout));
}

// --- crafted responses -----------------------------------------------------------------------

unsigned long long make_response(unsigned long long sessionId, int type, const py::object& requestId)
{
    session(sessionId);  // the response is meant for a live session
    sim::Ref<Response> r = sim::make<Response>(type, toText(requestId, "request_id"));
    const std::uint64_t id = r->simId();
    std::lock_guard<std::mutex> lock(crafted().mutex);
    crafted().responses.emplace(id, std::move(r));
    return id;
}

void set_response_reader(unsigned long long responseId, const std::string& creator, const py::object& reader)
{
    static const std::set<std::string> creators{
        "createTablesUpdatesReader",     "createMarketDataSnapshotReader", "createMarketDataReader",
        "createLevel2MarketDataReader",  "createOffersTableReader",        "createAccountsTableReader",
        "createOrdersTableReader",       "createTradesTableReader",        "createClosedTradesTableReader",
        "createMessagesTableReader",     "createOrderResponseReader",      "createLastOrderUpdateResponseReader",
        "createSystemPropertiesReader",  "processMarginRequirementsResponse"};
    if (!creators.count(creator))
        raise(PyExc_ValueError, "unknown reader creator '" + creator + "'");
    const bool null = reader.is_none();
    if (!null && reader.ptr() != Py_True)
        raise(PyExc_ValueError, "the reader is None (the creator gives null) or True (its own reader again)");
    response(responseId)->change([&](ResponseContent& c) {
        if (null)
            c.nullReaders.insert(creator);
        else
            c.nullReaders.erase(creator);
    });
}

void set_margin_result(unsigned long long responseId, bool result)
{
    response(responseId)->change([&](ResponseContent& c) { c.marginResult = result; });
}

void set_order_response(unsigned long long responseId, const py::object& orderId, bool dealerIntervention)
{
    sim::Text id = toText(orderId, "order_id");
    response(responseId)->change([&](ResponseContent& c) {
        c.orderId = id;
        c.dealerIntervention = dealerIntervention;
    });
}

double item(const py::object& items, Py_ssize_t i)
{
    return py::extract<double>(items[i])();
}

void set_snapshot(unsigned long long responseId, const py::object& items, bool isBar)
{
    auto series = std::make_shared<sim::history::Series>();
    series->isBar = isBar;
    const Py_ssize_t n = py::len(items);
    const Py_ssize_t width = isBar ? 10 : 4;
    for (Py_ssize_t i = 0; i < n; ++i)
    {
        py::object row = items[i];
        if (py::len(row) != width)
            raise(PyExc_ValueError, isBar ? "a bar is (ole_date, bid_open, bid_high, bid_low, bid_close, ask_open, "
                                            "ask_high, ask_low, ask_close, volume)"
                                          : "a tick is (ole_date, bid, ask, volume)");
        sim::history::Bar b;
        b.date = item(row, 0);
        if (isBar)
        {
            b.bidOpen = item(row, 1);
            b.bidHigh = item(row, 2);
            b.bidLow = item(row, 3);
            b.bidClose = item(row, 4);
            b.askOpen = item(row, 5);
            b.askHigh = item(row, 6);
            b.askLow = item(row, 7);
            b.askClose = item(row, 8);
            b.volume = py::extract<int>(row[9])();
        }
        else
        {
            b.bidOpen = b.bidHigh = b.bidLow = b.bidClose = item(row, 1);
            b.askOpen = b.askHigh = b.askLow = b.askClose = item(row, 2);
            b.volume = py::extract<int>(row[3])();
        }
        series->items.push_back(b);
    }
    response(responseId)->change([&](ResponseContent& c) { c.snapshot = std::move(series); });
}

void set_table_reader_type(unsigned long long responseId, const py::object& tableType)
{
    std::optional<int> type;
    if (!tableType.is_none())
        type = py::extract<int>(tableType)();
    response(responseId)->change([&](ResponseContent& c) { c.tableReaderType = type; });
}

void set_table_rows(unsigned long long responseId, unsigned long long sessionId, int tableType,
                    const py::object& account)
{
    sim::Ref<Session> s = session(sessionId);
    auto rows = std::make_shared<sim::velvix::TableRows>();
    const sim::Text accountText = toText(account, "account");
    std::string error;
    bool ok;
    {
        WithoutGil unlocked;
        ok = sim::velvix::tableRows(*s, static_cast<K7RTable>(tableType), accountText, *rows, error);
    }
    if (!ok)
        raise(PyExc_LookupError, error);
    response(responseId)->change([&](ResponseContent& c) { c.table = std::move(rows); });
}

bool deliver_response(unsigned long long sessionId, const py::object& responseId, const std::string& how,
                      const py::object& requestId, const py::object& error, bool wait, double timeout)
{
    sim::Ref<Session> target = session(sessionId);
    sim::Ref<Response> r;
    if (!responseId.is_none())
        r = response(py::extract<unsigned long long>(responseId)());
    sim::Text id = toText(requestId, "request_id");
    if (requestId.is_none() && r)
        id = r->requestId();
    const sim::Text text = toText(error, "error");
    std::function<void()> what;
    if (how == "completed" || how == "tables_updates")
    {
        if (!r)
            raise(PyExc_ValueError, "'" + how + "' delivers a response: give its id");
        if (how == "completed")
            what = [target, r, id] { target->deliverRequestCompleted(id, r.get()); };
        else
            what = [target, r] { target->deliverTablesUpdates(r.get()); };
    }
    else if (how == "failed")
        what = [target, id, text] { target->deliverRequestFailed(id, text); };
    else
        raise(PyExc_ValueError, "how is \"completed\", \"failed\" or \"tables_updates\"");
    return onDispatcher(std::move(what), wait, timeout);
}

// A completed response delivered `count` times in one go on the dispatcher; the seconds it took.
double deliver_response_burst(unsigned long long sessionId, unsigned long long responseId, int count,
                              double timeout)
{
    sim::Ref<Session> target = session(sessionId);
    sim::Ref<Response> r = response(responseId);
    const sim::Text id = r->requestId();
    auto seconds = std::make_shared<double>(-1.0);
    const bool ran = onDispatcher([target, r, id, count, seconds] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i)
            target->deliverRequestCompleted(id, r.get());
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }, true, timeout);
    return ran ? *seconds : -1.0;
}

// --- reader contents ---------------------------------------------------------------------------

// A row for a response: None gives a null row, else (kind, table_type, {column id: value}) with
// kind "table", "plain" or "generic" and any table type.
sim::Ref<IK7RRow> responseRow(const py::object& spec)
{
    if (spec.is_none())
        return {};
    if (py::len(spec) != 3)
        raise(PyExc_ValueError, "a row is None or (kind, table_type, {column id: value})");
    const std::string kind = py::extract<std::string>(spec[0])();
    sim::velvix::RowKind k;
    if (kind == "table")
        k = sim::velvix::RowKind::Table;
    else if (kind == "plain")
        k = sim::velvix::RowKind::Plain;
    else if (kind == "generic")
        k = sim::velvix::RowKind::Generic;
    else
        raise(PyExc_ValueError, "unknown row kind '" + kind + "' (table, plain, generic)");
    const auto table = static_cast<K7RTable>(py::extract<int>(spec[1])());
    sim::velvix::CellValues cells;
    py::list items = py::dict(spec[2]).items();
    for (Py_ssize_t i = 0, n = py::len(items); i < n; ++i)
        cells.emplace_back(*toText(items[i][0], "a column id"), toValue(items[i][1], "a cell value"));
    sim::velvix::RowHold row = sim::velvix::makeRow(table, k);
    row->apply(cells);
    for (int i = 0; i < row->count(); ++i)
        row->setChanged(i, false);
    return sim::Ref<IK7RRow>::adopt(row.share());
}

void set_last_order_update(unsigned long long responseId, int updateType, const py::object& order)
{
    sim::Ref<IK7RRow> row = responseRow(order);
    response(responseId)->change([&](ResponseContent& c) {
        c.lastOrderUpdate = {static_cast<K7RTableUpdateType>(updateType), K7RTable::Orders, row};
    });
}

void set_tables_updates(unsigned long long responseId, double serverTime, const py::object& updates)
{
    std::vector<sim::velvix::TableUpdate> list;
    for (Py_ssize_t i = 0, n = py::len(updates); i < n; ++i)
    {
        py::object u = updates[i];
        if (py::len(u) != 3)
            raise(PyExc_ValueError, "an update is (update_type, table_type, row)");
        list.push_back({static_cast<K7RTableUpdateType>(py::extract<int>(u[0])()),
                        static_cast<K7RTable>(py::extract<int>(u[1])()), responseRow(u[2])});
    }
    response(responseId)->change([&](ResponseContent& c) {
        c.serverTime = serverTime;
        c.updates = std::move(list);
    });
}

// The message's fields by their Python property names; the ones not given keep their defaults
// (0, 0.0, false, null).
void set_market_data(unsigned long long responseId, const py::dict& fields)
{
    using M = sim::velvix::MarketDataMessage;
    auto m = std::make_shared<M>();
    const std::map<std::string, sim::Text M::*> texts{
        {"quote_id", &M::quoteId},
        {"instrument", &M::instrument},
        {"market_data_request_id", &M::marketDataRequestId},
        {"trading_session_id", &M::tradingSessionId},
        {"trading_session_sub_id", &M::tradingSessionSubId},
        {"bid_id", &M::bidId},
        {"bid_quote_condition", &M::bidQuoteCondition},
        {"ask_id", &M::askId},
        {"ask_quote_condition", &M::askQuoteCondition}};
    const std::map<std::string, double M::*> doubles{
        {"date_time", &M::dateTime},
        {"ask_low", &M::askLow},
        {"ask_high", &M::askHigh},
        {"ask_open", &M::askOpen},
        {"ask_close", &M::askClose},
        {"bid_low", &M::bidLow},
        {"bid_high", &M::bidHigh},
        {"bid_open", &M::bidOpen},
        {"bid_close", &M::bidClose},
        {"low", &M::low},
        {"high", &M::high},
        {"bid_expire_date_time", &M::bidExpireDateTime},
        {"ask_expire_date_time", &M::askExpireDateTime}};
    const std::map<std::string, int M::*> ints{
        {"symbol_id", &M::symbolId},
        {"timing_interval", &M::timingInterval},
        {"continuos_flag", &M::continuosFlag},
        {"bid_quote_type", &M::bidQuoteType},
        {"ask_quote_type", &M::askQuoteType}};
    py::list items = fields.items();
    for (Py_ssize_t i = 0, n = py::len(items); i < n; ++i)
    {
        const std::string name = py::extract<std::string>(items[i][0])();
        py::object value = items[i][1];
        if (auto t = texts.find(name); t != texts.end())
            (*m).*(t->second) = toText(value, name.c_str());
        else if (auto d = doubles.find(name); d != doubles.end())
            (*m).*(d->second) = py::extract<double>(value)();
        else if (auto k = ints.find(name); k != ints.end())
            (*m).*(k->second) = py::extract<int>(value)();
        else if (name == "candle_completed")
            m->candleCompleted = PyObject_IsTrue(value.ptr()) == 1;
        else
            raise(PyExc_ValueError, "no market data field '" + name + "'");
    }
    response(responseId)->change([&](ResponseContent& c) { c.marketData = std::move(m); });
}

// Updates as (ole_date, symbol_id, volume, prices), a price as (flags, rate, amount, condition,
// originator) with flags any of the letters B, A, L and H.
void set_level2(unsigned long long responseId, const py::object& updates)
{
    auto list = std::make_shared<std::vector<sim::velvix::Level2Quote>>();
    for (Py_ssize_t i = 0, n = py::len(updates); i < n; ++i)
    {
        py::object u = updates[i];
        if (py::len(u) != 4)
            raise(PyExc_ValueError, "an update is (ole_date, symbol_id, volume, prices)");
        sim::velvix::Level2Quote q;
        q.dateTime = py::extract<double>(u[0])();
        q.symbolId = py::extract<int>(u[1])();
        q.volume = py::extract<int>(u[2])();
        py::object prices = u[3];
        for (Py_ssize_t j = 0, m = py::len(prices); j < m; ++j)
        {
            py::object p = prices[j];
            if (py::len(p) != 5)
                raise(PyExc_ValueError, "a price is (flags, rate, amount, condition, originator)");
            const std::string flags = py::extract<std::string>(p[0])();
            if (flags.find_first_not_of("BALH") != std::string::npos)
                raise(PyExc_ValueError, "price flags are letters of B, A, L and H");
            sim::velvix::Level2Price price;
            price.bid = flags.find('B') != std::string::npos;
            price.ask = flags.find('A') != std::string::npos;
            price.low = flags.find('L') != std::string::npos;
            price.high = flags.find('H') != std::string::npos;
            price.rate = py::extract<double>(p[1])();
            price.amount = py::extract<double>(p[2])();
            price.condition = toText(p[3], "the condition");
            price.originator = toText(p[4], "the originator");
            q.prices.push_back(std::move(price));
        }
        list->push_back(std::move(q));
    }
    response(responseId)->change([&](ResponseContent& c) { c.level2 = std::move(list); });
}

// --- system properties ---------------------------------------------------------------------

py::object textOrNone(const sim::Text& t)
{
    return t ? textObject(*t) : py::object();
}

py::list system_properties()
{
    py::list out;
    for (const auto& [name, value] : sim::velvix::systemProperties())
        out.append(py::make_tuple(textObject(name), textOrNone(value)));
    return out;
}

void set_system_property(const py::object& name, const py::object& value)
{
    const sim::Text n = toText(name, "the property name");
    if (!n)
        raise(PyExc_ValueError, "a property of the server has a name");
    sim::velvix::setSystemProperty(*n, toText(value, "the property value"));
}

void set_system_properties(const py::object& pairs)
{
    if (pairs.is_none())
    {
        sim::velvix::setSystemProperties(sim::demoSystemProperties());
        return;
    }
    sim::SystemPropertyList list;
    const Py_ssize_t n = py::len(pairs);
    for (Py_ssize_t i = 0; i < n; ++i)
    {
        py::object pair = pairs[i];
        if (py::len(pair) != 2 || py::object(pair[0]).is_none())
            raise(PyExc_ValueError, "a property of the server is (name, value), the value may be None");
        list.emplace_back(*toText(pair[0], "the property name"), toText(pair[1], "the property value"));
    }
    sim::velvix::setSystemProperties(std::move(list));
}

bool deliver_system_properties(unsigned long long sessionId, const py::object& requestId, bool wait, double timeout)
{
    sim::Ref<Session> target = session(sessionId);
    sim::Ref<Response> r = sim::velvix::systemPropertiesResponse(toText(requestId, "request_id"));
    return onDispatcher([target, r] { target->deliverRequestCompleted(r->requestId(), r.get()); }, wait, timeout);
}

void set_response_properties(unsigned long long responseId, const py::object& pairs)
{
    auto list = std::make_shared<sim::velvix::PropertyPairs>();
    const Py_ssize_t n = py::len(pairs);
    for (Py_ssize_t i = 0; i < n; ++i)
    {
        py::object pair = pairs[i];
        if (py::len(pair) != 2)
            raise(PyExc_ValueError, "a property is (name, value), either may be None");
        list->emplace_back(toText(pair[0], "the property name"), toText(pair[1], "the property value"));
    }
    response(responseId)->change([&](ResponseContent& c) { c.properties = std::move(list); });
}

// --- the request desk ------------------------------------------------------------------------

void hold_requests(bool on)
{
    RequestServer::instance().hold(on);
}

py::list records(const std::vector<RequestRecord>& list, bool withKind)
{
    py::list out;
    for (const RequestRecord& r : list)
        out.append(recordTuple(r, withKind));
    return out;
}

py::list pending_requests()
{
    return records(RequestServer::instance().pending(), false);
}

py::list requests_created()
{
    return records(RequestServer::instance().createdLog(), true);
}

py::list requests_sent()
{
    return records(RequestServer::instance().sentLog(), true);
}

bool complete_request(const std::string& id, bool wait, double timeout)
{
    if (!RequestServer::instance().complete(id))
        raise(PyExc_LookupError, "no pending request '" + id + "'");
    return drained(wait, timeout);
}

bool fail_request(const std::string& id, const py::object& text, bool wait, double timeout)
{
    if (!RequestServer::instance().fail(id, toText(text, "text")))
        raise(PyExc_LookupError, "no pending request '" + id + "'");
    return drained(wait, timeout);
}

py::dict value_map_contents(unsigned long long id)
{
    auto* map = world().registry().acquire<sim::velvix::ValueMap>(id);
    if (!map)
        raise(PyExc_LookupError, "no live value map " + std::to_string(id));
    sim::Ref<sim::velvix::ValueMap> held = sim::Ref<sim::velvix::ValueMap>::adopt(map);
    return paramsDict(held->contents());
}

void set_last_error(const py::object& text)
{
    RequestServer::instance().scriptError(toText(text, "text"));
}

void set_timeframes(const py::object& specs)
{
    if (specs.is_none())
    {
        sim::velvix::scriptTimeframes(std::nullopt);
        return;
    }
    std::vector<sim::velvix::TimeframeSpec> list;
    const Py_ssize_t n = py::len(specs);
    for (Py_ssize_t i = 0; i < n; ++i)
    {
        py::object s = specs[i];
        if (py::len(s) != 4)
            raise(PyExc_ValueError, "a timeframe is (id, unit_int, size, query_depth)");
        list.push_back({py::extract<std::string>(s[0])(), static_cast<K7RTimeframeUnit>(py::extract<int>(s[1])()),
                        py::extract<int>(s[2])(), py::extract<int>(s[3])()});
    }
    sim::velvix::scriptTimeframes(std::move(list));
}

}  // namespace

void exportRequestHooks()
{
    (void)crafted();  // its reset hook is in place before the first response is made
    using py::arg;
    const py::object none;

    py::def("make_response", &make_response, (arg("session_id"), arg("type"), arg("request_id") = none),
            "A response of any type int for a session's listeners; gives its id. Kept until reset().");
    py::def("set_response_reader", &set_response_reader, (arg("response_id"), arg("creator"), arg("reader")),
            "reader None: that creator of the reader factory gives null for the response; True: its reader again.");
    py::def("set_margin_result", &set_margin_result, (arg("response_id"), arg("result")),
            "What processMarginRequirementsResponse gives for a MARGIN_REQUIREMENTS_RESPONSE.");
    py::def("set_order_response", &set_order_response,
            (arg("response_id"), arg("order_id"), arg("dealer_intervention") = false),
            "The order id (None for null) and the flag the order response reader gives.");
    py::def("set_last_order_update", &set_last_order_update, (arg("response_id"), arg("update_type"), arg("order")),
            "The update type int and the order row a last order update reader gives: None, or (kind, table_type, "
            "{column id: value}) with kind table, plain or generic.");
    py::def("set_tables_updates", &set_tables_updates, (arg("response_id"), arg("server_time"), arg("updates")),
            "The server time (OLE date) and the (update_type, table_type, row) updates of a tables updates reader; "
            "a row as in set_last_order_update.");
    py::def("set_market_data", &set_market_data, (arg("response_id"), arg("fields")),
            "The fields of a market data reader by property name (texts may be None, dates OLE); others 0 or null.");
    py::def("set_level2", &set_level2, (arg("response_id"), arg("updates")),
            "Level-2 updates as (ole_date, symbol_id, volume, prices), a price as (flags of B/A/L/H, rate, amount, "
            "condition, originator).");
    py::def("set_snapshot", &set_snapshot, (arg("response_id"), arg("bars"), arg("is_bar") = true),
            "Bars (ole_date, bid_open, bid_high, bid_low, bid_close, ask_open, ask_high, ask_low, ask_close, volume) "
            "or, with is_bar=False, ticks (ole_date, bid, ask, volume).");
    py::def("set_table_reader_type", &set_table_reader_type, (arg("response_id"), arg("table_type")),
            "The table type a table reader of the response reports (None: the rows' own).");
    py::def("set_table_rows", &set_table_rows,
            (arg("response_id"), arg("session_id"), arg("table_type"), arg("account") = none),
            "Plain copies of a session's table rows (of one account) for the response's table reader.");
    py::def("deliver_response", &deliver_response,
            (arg("session_id"), arg("response_id"), arg("how") = "completed", arg("request_id") = none,
             arg("error") = none, arg("wait") = true, arg("timeout") = 10.0),
            "Delivers to the session's response listeners: \"completed\", \"failed\" or \"tables_updates\". "
            "request_id None takes the response's own id.");

    py::def("deliver_response_burst", &deliver_response_burst,
            (arg("session_id"), arg("response_id"), arg("count"), arg("timeout") = 60.0),
            "Delivers a response as completed `count` times in one go on the dispatcher; gives the seconds.");

    py::def("system_properties", &system_properties, "The server's system properties as (name, value), in order.");
    py::def("set_system_property", &set_system_property, (arg("name"), arg("value")),
            "Changes one of the server's properties (value None for null), or adds it; later responses carry it.");
    py::def("set_system_properties", &set_system_properties, (arg("properties")),
            "Replaces the server's properties with (name, value) pairs; None: the demo account's.");
    py::def("deliver_system_properties", &deliver_system_properties,
            (arg("session_id"), arg("request_id") = none, arg("wait") = true, arg("timeout") = 10.0),
            "The server sends its properties as a GET_SYSTEM_PROPERTIES response to the session's response "
            "listeners (completed).");
    py::def("set_response_properties", &set_response_properties, (arg("response_id"), arg("properties")),
            "The (name, value) pairs a system properties reader of the response gives; either may be None.");

    py::def("hold_requests", &hold_requests, (arg("on")), "While on, sent requests stay pending.");
    py::def("pending_requests", &pending_requests, "(request_id, params) of the held requests, oldest first.");
    py::def("complete_request", &complete_request, (arg("request_id"), arg("wait") = true, arg("timeout") = 10.0),
            "Answers a held request as the server would.");
    py::def("fail_request", &fail_request,
            (arg("request_id"), arg("text"), arg("wait") = true, arg("timeout") = 10.0),
            "Fails a held request with a text (None for null).");
    py::def("requests_created", &requests_created, "(request_id, kind, params) of the requests made since reset().");
    py::def("requests_sent", &requests_sent, "(request_id, kind, params) of the requests sent since reset().");
    py::def("value_map_contents", &value_map_contents, (arg("obj_id")),
            "A live value map's parameters by K7RRequestParamsEnum int (\"children\": theirs).");
    py::def("set_last_error", &set_last_error, (arg("text")),
            "The text a factory's last error gives after a scripted null (None: the factory's own).");
    py::def("set_timeframes", &set_timeframes, (arg("timeframes")),
            "The server's timeframes as (id, unit_int, size, query_depth), duplicates allowed; None: the default.");
}

}  // namespace control
