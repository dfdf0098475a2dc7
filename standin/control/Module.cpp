// velvix_sim: the test and demo face of the simulated world. A thin layer: every function reads
// or scripts the world that the stand-in libraries share, with plain Python values only (no
// library type is registered, as dedezi registers those in the same process). Every call that
// waits lets go of the interpreter lock, since the deliveries it waits for need it.
#include <boost/python.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Control.h"
#include "HistoryHooks.h"
#include "RequestHooks.h"
#include "core/World.h"

#include "../windows/StringTableControl.h"

#include "ModuleStart.h"

using namespace control;

namespace
{

sim::World& world()
{
    return sim::world();
}

// --- the world -------------------------------------------------------------------------------

void reset()
{
    {
        WithoutGil unlocked;  // cancelled timers may let go of listeners of the module
        world().reset();
    }
    hooksOnThreads(false);
    winapi_sim::resetStringTable();
}

long long live(const std::string& kind)
{
    return world().registry().live(kind);
}

py::list objects(const py::object& kind)
{
    const std::vector<std::uint64_t> ids =
        kind.is_none() ? world().registry().objects() : world().registry().objects(py::extract<std::string>(kind)());
    py::list out;
    for (std::uint64_t id : ids)
        out.append(static_cast<unsigned long long>(id));
    return out;
}

int refcount(unsigned long long id)
{
    int count = 0;
    if (!world().registry().refCount(id, count))
        raise(PyExc_LookupError, "no live object " + std::to_string(id));
    return count;
}

py::object kind_of(unsigned long long id)
{
    const std::string kind = world().registry().kindOf(id);
    if (kind.empty())
        raise(PyExc_LookupError, "no live object " + std::to_string(id));
    return py::str(kind);
}

long long release_calls(const std::string& kind)
{
    return world().registry().releaseCalls(kind);
}

// --- journal and faults ----------------------------------------------------------------------

py::list journal(const py::object& op)
{
    std::optional<std::string> filter;
    if (!op.is_none())
        filter = py::extract<std::string>(op)();
    const std::vector<sim::JournalEntry> entries = world().journal().entries(filter);
    py::list out;
    for (const sim::JournalEntry& e : entries)
    {
        py::list args;
        for (const sim::Value& v : e.args)
            args.append(fromValue(v));
        out.append(py::make_tuple(e.op, py::tuple(args)));
    }
    return out;
}

void clear_journal()
{
    world().journal().clear();
}

void fault(const std::string& op, const std::string& action, const py::object& value, int times)
{
    sim::FaultKind kind;
    if (action == "null")
        kind = sim::FaultKind::Null;
    else if (action == "false")
        kind = sim::FaultKind::False;
    else if (action == "value")
        kind = sim::FaultKind::Value;
    else if (action == "error")
        kind = sim::FaultKind::Error;
    else
        raise(PyExc_ValueError, "unknown fault action '" + action + "' (null, false, value, error)");
    if (times == 0 || times < sim::Faults::Persistent)
        raise(PyExc_ValueError, "times must be a positive count, or -1 for every call");
    world().faults().arm(op, kind, toValue(value, "a fault value"), times);
}

void clear_faults()
{
    world().faults().clear();
}

// --- dispatcher and clock --------------------------------------------------------------------

bool flush(double timeout)
{
    const auto ms = static_cast<std::int64_t>(timeout * 1000.0);
    WithoutGil unlocked;
    return world().dispatcher().flush(ms);
}

py::dict thread_ids()
{
    long tid;
    {
        WithoutGil unlocked;
        tid = world().dispatcher().nativeThreadId();
    }
    py::dict out;
    if (tid)
        out["dispatcher"] = tid;
    return out;
}

void clock_virtual(const py::object& start)
{
    std::optional<double> ole;
    if (!start.is_none())
        ole = py::extract<double>(start)();
    WithoutGil unlocked;
    if (ole)
        world().clock().setVirtualOle(*ole);
    else
        world().clock().setVirtual();
}

void clock_real()
{
    WithoutGil unlocked;
    world().clock().setReal();
}

void advance(long long ms)
{
    if (ms < 0)
        raise(PyExc_ValueError, "cannot advance by a negative time");
    bool advanced;
    {
        WithoutGil unlocked;
        advanced = world().clock().advance(ms);
    }
    if (!advanced)
        raise(PyExc_RuntimeError, "the clock runs in real time: call clock_virtual() first");
}

double now()
{
    return world().clock().nowOle();
}

// --- transport and session scenario ----------------------------------------------------------

void proxyDict(const sim::ProxySettings& p, py::dict& out, const char* prefix)
{
    const std::string pre(prefix);
    out[pre + "host"] = fromText(p.host);
    out[pre + "port"] = fromOptional(p.port);
    out[pre + "user"] = fromText(p.user);
    out[pre + "password"] = fromText(p.password);
}

py::dict transport_settings()
{
    const sim::TransportSettings t = world().scenario().read([](const sim::ScenarioState& s) { return s.transport; });
    py::dict out;
    proxyDict(t.proxy, out, "proxy_");
    out["ca_info"] = fromText(t.caInfo);
    out["reconnections"] = fromOptional(t.reconnections);
    out["modules_path"] = fromText(t.modulesPath);
    out["application_id"] = fromValue(t.applicationId);
    out["closed_history_size"] = t.closedHistorySize;
    return out;
}

py::dict plenta_proxy()
{
    const sim::ProxySettings p = world().scenario().read([](const sim::ScenarioState& s) { return s.plentaProxy; });
    py::dict out;
    proxyDict(p, out, "");
    return out;
}

void set_application_id(const py::object& id, const py::object& reportedSize)
{
    sim::Text bytes = toText(id, "the identifier");
    std::optional<std::uint64_t> reported;
    if (!reportedSize.is_none())
    {
        const long long n = py::extract<long long>(reportedSize)();
        if (n < 0)
            raise(PyExc_ValueError, "reported_size must not be negative");
        reported = static_cast<std::uint64_t>(n);
    }
    world().scenario().update([&](sim::ScenarioState& s) {
        s.transport.applicationId = bytes.value_or(std::string());
        s.transport.applicationIdReportedSize = reported;
    });
}

long long finialize_calls()
{
    return world().finalizeCalls();
}

void set_session_descriptors(const py::object& descriptors)
{
    std::optional<std::vector<sim::SessionDescriptorSpec>> specs;
    if (!descriptors.is_none())
    {
        specs.emplace();
        const Py_ssize_t n = py::len(descriptors);
        for (Py_ssize_t i = 0; i < n; ++i)
        {
            py::object item = descriptors[i];
            if (py::len(item) != 4)
                raise(PyExc_ValueError, "a descriptor is (id, name, description, requires_pin)");
            sim::SessionDescriptorSpec spec;
            spec.id = toText(item[0], "id");
            spec.name = toText(item[1], "name");
            spec.description = toText(item[2], "description");
            spec.requiresPin = PyObject_IsTrue(py::object(item[3]).ptr()) == 1;
            specs->push_back(std::move(spec));
        }
    }
    world().scenario().update([&](sim::ScenarioState& s) { s.sessionDescriptors = std::move(specs); });
}

// --- platform layer --------------------------------------------------------------------------

void strings_missing(const py::object& ids)
{
    if (ids.is_none())
    {
        winapi_sim::resetStringTable();
        return;
    }
    if (PyUnicode_Check(ids.ptr()))
    {
        if (py::extract<std::string>(ids)() != "all")
            raise(PyExc_ValueError, "strings_missing takes a list of ids, \"all\" or None");
        winapi_sim::setAllStringsMissing(true);
        return;
    }
    std::vector<unsigned> list;
    const Py_ssize_t n = py::len(ids);
    for (Py_ssize_t i = 0; i < n; ++i)
        list.push_back(py::extract<unsigned>(ids[i])());
    winapi_sim::setAllStringsMissing(false);
    winapi_sim::setMissingStrings(list);
}

// Interpreter exit: the world's thread stops (bounded) and never delivers again.
void shutdown_at_exit()
{
    WithoutGil unlocked;
    world().dispatcher().shutdownForExit();
}

// The module body. Like dedezi, the module is the main interpreter's alone: its threads take the
// lock back through the same gate, whose exit hook only the main interpreter may hold.
void init_module_velvix_sim()
{
    py::docstring_options docs(true, false, false);
    using py::arg;

    py::scope().attr("__doc__") = "Scripting and inspection of the simulated trading platform.";

    py::def("reset", &reset, "Back to the default scenario; live objects stay alive.");
    py::def("live", &live, (arg("kind")), "Number of live objects of a kind (an interface name).");
    py::def("objects", &objects, (arg("kind") = py::object()), "Ids of the live objects of a kind, oldest first.");
    py::def("refcount", &refcount, (arg("obj_id")), "Reference count of a live object.");
    py::def("kind_of", &kind_of, (arg("obj_id")), "Kind of a live object.");
    py::def("release_calls", &release_calls, (arg("kind")), "release() calls made by callers on a kind.");

    py::def("journal", &journal, (arg("op") = py::object()), "Journaled calls as (op, args), oldest first.");
    py::def("clear_journal", &clear_journal);
    py::def("fault", &fault, (arg("op"), arg("action"), arg("value") = py::object(), arg("times") = 1),
            "Arms an override of an operation: null, false, value or error; times=-1 for every call.");
    py::def("clear_faults", &clear_faults);

    py::def("flush", &flush, (arg("timeout") = 10.0), "Waits until every delivery posted so far has run.");
    py::def("thread_ids", &thread_ids, "Native ids of the simulated libraries' threads.");
    py::def("hooks_on_threads", &hooksOnThreads, (arg("on")),
            "While on, each hook's delivery runs on a new thread of its own, beside any other.");
    py::def("clock_virtual", &clock_virtual, (arg("start") = py::object()),
            "Virtual time from an OLE date (default: the clock's current time).");
    py::def("clock_real", &clock_real);
    py::def("advance", &advance, (arg("ms")), "Moves virtual time on, running the timers that fall due.");
    py::def("now", &now, "The simulated clock's time as an OLE date.");

    py::def("transport_settings", &transport_settings, "The transport settings as the library received them.");
    py::def("plenta_proxy", &plenta_proxy, "The proxy the historical-price library received.");
    py::def("set_application_id", &set_application_id, (arg("id"), arg("reported_size") = py::object()),
            "Scripts the application identifier's bytes and the count reported for it.");
    py::def("finialize_calls", &finialize_calls);
    py::def("set_session_descriptors", &set_session_descriptors, (arg("descriptors")),
            "(id, name, description, requires_pin) tuples, or None for no collection.");

    py::def("strings_missing", &strings_missing, (arg("ids")),
            "Makes the string loader miss these ids, every id (\"all\"), or none (None).");

    exportSessionHooks();
    registerTableHooks();
    exportRequestHooks();
    exportHistoryHooks();
    exportServiceHooks();

    vexa2::python::watchInterpreterExit();
    py::def("_shutdown_at_exit", &shutdown_at_exit);
    py::object atExit = py::scope().attr("_shutdown_at_exit");
    py::import("atexit").attr("register")(atExit);
}

}  // namespace

PyMODINIT_FUNC PyInit_velvix_sim()
{
    static vexa2::python::ModuleStart start("velvix_sim", &init_module_velvix_sim);
    return start.definition();
}
