// velvix_sim: the historical-price and quotes-cache face. Communicators are named by registry id;
// held requests by the index they were given when sent. Errors come in as dicts (code, message,
// nested / sub_code), None for a null error. Reports run on the dispatcher and, when asked to
// wait, are waited for with the interpreter lock let go.
#include "HistoryHooks.h"

#include "Control.h"
#include "core/World.h"
#include "plenta/Communicator.h"
#include "zorvat/QuotesCache.h"

namespace control
{

namespace
{

using plenta_sim::Communicator;

sim::Ref<Communicator> communicator(unsigned long long id)
{
    auto c = sim::Ref<Communicator>::adopt(sim::world().registry().acquire<Communicator>(id));
    if (!c)
        raise(PyExc_LookupError, "no live communicator " + std::to_string(id));
    return c;
}

py::object item(const py::dict& d, const char* key)
{
    return d.has_key(key) ? py::object(d[key]) : py::object();
}

int intItem(const py::dict& d, const char* key, int fallback)
{
    py::object o = item(d, key);
    return o.is_none() ? fallback : py::extract<int>(o)();
}

std::optional<zorvat_sim::ErrorSpec> zorvatError(const py::object& o)
{
    if (o.is_none())
        return std::nullopt;
    py::dict d = py::extract<py::dict>(o)();
    return zorvat_sim::ErrorSpec{intItem(d, "code", zorvat::IError::OTHER_ERROR), intItem(d, "sub_code", 0),
                                 toText(item(d, "message"), "message")};
}

std::optional<plenta_sim::ErrorSpec> plentaError(const py::object& o)
{
    if (o.is_none())
        return std::nullopt;
    py::dict d = py::extract<py::dict>(o)();
    return plenta_sim::ErrorSpec{intItem(d, "code", plenta::IError::OTHER_ERROR), toText(item(d, "message"), "message"),
                                 zorvatError(item(d, "nested"))};
}

bool run(std::function<void()> job, const char* what, unsigned long long index, bool wait, double timeout)
{
    if (!job)
        raise(PyExc_LookupError, std::string("no held request ") + std::to_string(index) + " to " + what);
    return onDispatcher(std::move(job), wait, timeout);
}

// --- communicators ---------------------------------------------------------------------------

py::list communicators()
{
    py::list out;
    for (std::uint64_t id : sim::world().registry().objects("plenta::IPlentaCommunicator"))
        out.append(static_cast<unsigned long long>(id));
    return out;
}

py::tuple communicator_listeners(unsigned long long id)
{
    const auto [listeners, status] = communicator(id)->listenerCounts();
    return py::make_tuple(listeners, status);
}

bool fire_communicator_status(unsigned long long id, bool ready, bool wait, double timeout)
{
    sim::Ref<Communicator> c = communicator(id);
    return onDispatcher([c, ready] { c->deliverStatus(ready); }, wait, timeout);
}

bool fire_communicator_init_failed(unsigned long long id, const py::object& error, bool wait, double timeout)
{
    sim::Ref<Communicator> c = communicator(id);
    std::optional<plenta_sim::ErrorSpec> spec = plentaError(error);
    return onDispatcher(
        [c, spec] {
            sim::Ref<plenta::IError> e;
            if (spec)
                e = sim::Ref<plenta::IError>::adopt(plenta_sim::makeError(*spec));
            c->deliverInitFailed(e.get());
        },
        wait, timeout);
}

// --- held requests ---------------------------------------------------------------------------

void plenta_hold(bool on)
{
    plenta_sim::hold(on);
}

py::list plenta_pending()
{
    py::list out;
    for (const plenta_sim::PendingInfo& p : plenta_sim::pending())
    {
        py::dict d;
        d["index"] = static_cast<unsigned long long>(p.index);
        d["communicator"] = static_cast<unsigned long long>(p.communicator);
        d["instrument"] = p.instrument ? py::object(*p.instrument) : py::object();
        d["timeframe"] = p.timeframe ? py::object(*p.timeframe) : py::object();
        d["from"] = p.from;
        d["to"] = p.to;
        d["count"] = p.count;
        out.append(d);
    }
    return out;
}

// Blocks with the interpreter lock let go until `count` requests are held (a fetch running on
// another Python thread has then sent its request); gives the held ones.
py::list plenta_wait_pending(std::size_t count, double timeout)
{
    {
        WithoutGil unlocked;
        plenta_sim::waitPending(count, static_cast<std::int64_t>(std::max(timeout, 0.0) * 1000.0));
    }
    return plenta_pending();
}

bool plenta_complete(unsigned long long index, bool nullResponse, bool wait, double timeout)
{
    return run(plenta_sim::takeCompletion(index, nullResponse), "complete", index, wait, timeout);
}

bool plenta_fail(unsigned long long index, const py::object& error, bool wait, double timeout)
{
    return run(plenta_sim::takeFailure(index, plentaError(error)), "fail", index, wait, timeout);
}

bool plenta_cancel(unsigned long long index, bool wait, double timeout)
{
    return run(plenta_sim::takeCancellation(index), "cancel", index, wait, timeout);
}

void plenta_fail_next(const std::string& op, const py::object& error, const py::object& result)
{
    const bool succeed = !result.is_none() && PyObject_IsTrue(result.ptr()) == 1;
    if (!plenta_sim::failNext(op, plentaError(error), succeed))
        raise(PyExc_ValueError, "unknown operation '" + op + "'");
}

void plenta_null_next(const std::string& op)
{
    if (!plenta_sim::nullNext(op))
        raise(PyExc_ValueError, "unknown operation '" + op + "'");
}

// --- the quotes cache ------------------------------------------------------------------------

void zorvat_loaded(bool loaded)
{
    zorvat_sim::setInstrumentsLoaded(loaded);
}

void zorvat_task_outcome(const std::string& outcome, const py::object& error)
{
    zorvat_sim::TaskOutcome o;
    if (outcome == "completed")
        o = zorvat_sim::TaskOutcome::Completed;
    else if (outcome == "failed")
        o = zorvat_sim::TaskOutcome::Failed;
    else if (outcome == "cancelled")
        o = zorvat_sim::TaskOutcome::Cancelled;
    else
        raise(PyExc_ValueError, "unknown outcome '" + outcome + "' (completed, failed, cancelled)");
    zorvat_sim::scriptTaskOutcome(o, zorvatError(error));
}

void zorvat_fail_next(const std::string& op, const py::object& error)
{
    if (!zorvat_sim::failNext(op, zorvatError(error)))
        raise(PyExc_ValueError, "unknown operation '" + op + "'");
}

void zorvat_null_next(const std::string& op)
{
    if (!zorvat_sim::nullNext(op))
        raise(PyExc_ValueError, "unknown operation '" + op + "'");
}

std::vector<std::string> textList(const py::object& list)
{
    std::vector<std::string> out;
    const Py_ssize_t n = py::len(list);
    for (Py_ssize_t i = 0; i < n; ++i)
        out.push_back(*toText(list[i], "a timeframe id"));
    return out;
}

void zorvat_instruments(const py::object& list)
{
    if (list.is_none())
    {
        zorvat_sim::scriptInstruments(std::nullopt);
        return;
    }
    std::vector<zorvat_sim::InstrumentSpec> specs;
    const Py_ssize_t n = py::len(list);
    for (Py_ssize_t i = 0; i < n; ++i)
    {
        py::object entry = list[i];
        if (py::len(entry) != 2)
            raise(PyExc_ValueError, "an instrument is (name, [timeframe ids])");
        specs.push_back({*toText(entry[0], "a name"), textList(entry[1])});
    }
    zorvat_sim::scriptInstruments(std::move(specs));
}

void zorvat_timeframes(const py::object& list)
{
    if (list.is_none())
        zorvat_sim::scriptTimeframes(std::nullopt);
    else
        zorvat_sim::scriptTimeframes(textList(list));
}

long long zorvat_tasks_created()
{
    return zorvat_sim::tasksCreated();
}

long zorvat_thread_id()
{
    return zorvat_sim::cacheThreadId();
}

void zorvat_hold(bool on)
{
    zorvat_sim::hold(on);
}

std::size_t zorvat_held()
{
    return zorvat_sim::heldCount();
}

// Blocks with the interpreter lock let go until `count` update tasks are held; gives how many are.
std::size_t zorvat_wait_held(std::size_t count, double timeout)
{
    {
        WithoutGil unlocked;
        zorvat_sim::waitHeld(count, static_cast<std::int64_t>(std::max(timeout, 0.0) * 1000.0));
    }
    return zorvat_sim::heldCount();
}

void zorvat_run_held()
{
    zorvat_sim::runHeld();
}

bool zorvat_flush(double timeout)
{
    WithoutGil unlocked;
    return zorvat_sim::flush(static_cast<std::int64_t>(std::max(timeout, 0.0) * 1000.0));
}

}  // namespace

void exportHistoryHooks()
{
    using py::arg;
    const double t = 10.0;

    py::def("communicators", &communicators, "Ids of the live history communicators, oldest first.");
    py::def("communicator_listeners", &communicator_listeners, (arg("comm_id")),
            "(listeners, status listeners) a communicator holds.");
    py::def("fire_communicator_status", &fire_communicator_status,
            (arg("comm_id"), arg("ready"), arg("wait") = true, arg("timeout") = t),
            "Delivers a status change to a communicator's status listeners; its readiness stays.");
    py::def("fire_communicator_init_failed", &fire_communicator_init_failed,
            (arg("comm_id"), arg("error") = py::object(), arg("wait") = true, arg("timeout") = t),
            "Delivers an init failure (an error dict, or None for a null error).");

    py::def("plenta_hold", &plenta_hold, (arg("on")), "While on, sent history requests wait for a hook.");
    py::def("plenta_pending", &plenta_pending, "The held history requests, in sending order.");
    py::def("plenta_wait_pending", &plenta_wait_pending, (py::arg("count"), py::arg("timeout") = 10.0),
            "Waits until `count` history requests are held; gives the held ones.");
    py::def("plenta_complete", &plenta_complete,
            (arg("index"), arg("null_response") = false, arg("wait") = true, arg("timeout") = t),
            "Completes a held request with the generator's bars, or with a null response.");
    py::def("plenta_fail", &plenta_fail, (arg("index"), arg("error") = py::object(), arg("wait") = true, arg("timeout") = t),
            "Fails a held request with an error dict, or with a null error.");
    py::def("plenta_cancel", &plenta_cancel, (arg("index"), arg("wait") = true, arg("timeout") = t),
            "Cancels a held request.");
    py::def("plenta_fail_next", &plenta_fail_next, (arg("op"), arg("error") = py::object(), arg("result") = py::object()),
            "The next call of op gives null or false (result=True: its usual result), writing the error if given.");
    py::def("plenta_null_next", &plenta_null_next, (arg("op")), "The next getTimeframeFactory or getZorvat gives null.");

    py::def("zorvat_loaded", &zorvat_loaded, (arg("loaded")), "Whether the quotes cache has its instruments.");
    py::def("zorvat_task_outcome", &zorvat_task_outcome, (arg("outcome"), arg("error") = py::object()),
            "How later update tasks end: completed, failed (with an error dict) or cancelled.");
    py::def("zorvat_fail_next", &zorvat_fail_next, (arg("op"), arg("error") = py::object()),
            "The next call of op gives false or null, with that error (None: no error).");
    py::def("zorvat_null_next", &zorvat_null_next, (arg("op")), "The next getInstruments or getTimeframes gives null.");
    py::def("zorvat_instruments", &zorvat_instruments, (arg("instruments")),
            "(name, [timeframe ids]) pairs the cache lists, or None for the offers' instruments.");
    py::def("zorvat_timeframes", &zorvat_timeframes, (arg("ids")), "The general timeframe list, or None for the default.");
    py::def("zorvat_tasks_created", &zorvat_tasks_created, "Update tasks created since reset().");
    py::def("zorvat_thread_id", &zorvat_thread_id, "Native id of the quotes cache's thread (0 before it ran).");
    py::def("zorvat_hold", &zorvat_hold, (arg("on")), "While on, executed update tasks wait for zorvat_run_held.");
    py::def("zorvat_held", &zorvat_held, "How many update tasks are held.");
    py::def("zorvat_wait_held", &zorvat_wait_held, (arg("count"), arg("timeout") = t),
            "Waits until `count` update tasks are held; gives how many are.");
    py::def("zorvat_run_held", &zorvat_run_held, "Runs the held update tasks by the scripted outcome.");
    py::def("zorvat_flush", &zorvat_flush, (arg("timeout") = t),
            "Waits until the quotes cache's thread has run everything queued so far.");
}

}  // namespace control
