// velvix_sim: the session face. Sessions are reached by their registry id; deliveries are posted
// to the dispatcher and, when asked to wait, waited for with the interpreter lock let go (the
// listeners they reach need it). The login server's scenario lives in the world and is undone by
// reset().
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "Control.h"
#include "core/World.h"
#include "velvix/Session.h"
#include "velvix/SystemProperties.h"

namespace control
{

namespace
{

using sim::velvix::Point;
using sim::velvix::Session;

sim::World& world()
{
    return sim::world();
}

sim::Ref<Session> session(unsigned long long id)
{
    sim::Ref<Session> s = sim::Ref<Session>::adopt(world().registry().acquire<Session>(id));
    if (!s)
        raise(PyExc_LookupError, "no live session " + std::to_string(id));
    return s;
}

Point point(const std::string& name)
{
    if (name == "session_status")
        return Point::SessionStatus;
    if (name == "chart_session_status")
        return Point::ChartSessionStatus;
    if (name == "response")
        return Point::Response;
    if (name == "system_properties")
        return Point::SystemProperties;
    raise(PyExc_ValueError, "unknown subscription point '" + name +
                                "' (session_status, chart_session_status, response, system_properties)");
}

std::int64_t milliseconds(double seconds)
{
    return static_cast<std::int64_t>(std::max(seconds, 0.0) * 1000.0);
}

bool onDispatcher(unsigned long long id, std::function<void(Session&)> what, bool wait, double timeout)
{
    return control::onDispatcher([target = session(id), what = std::move(what)] { what(*target); }, wait, timeout);
}

py::list sessions()
{
    py::list out;
    for (std::uint64_t id : world().registry().objects("IK7RSession"))
        out.append(static_cast<unsigned long long>(id));
    return out;
}

bool fire_session_status(unsigned long long id, int status, bool wait, double timeout)
{
    return onDispatcher(id, [status](Session& s) { s.deliverSessionStatus(status); }, wait, timeout);
}

// For the dispatch benchmark: `count` deliveries in one dispatcher job, timed there, so that the
// figure holds the deliveries alone. Gives the seconds they took, or -1 when the time ran out.
double fire_session_status_burst(unsigned long long id, int status, int count, double timeout)
{
    auto seconds = std::make_shared<double>(-1.0);
    const bool ran = onDispatcher(id, [status, count, seconds](Session& s) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i)
            s.deliverSessionStatus(status);
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }, true, timeout);
    return ran ? *seconds : -1.0;
}

bool fire_login_failed(unsigned long long id, const py::object& error, bool wait, double timeout)
{
    sim::Text text = toText(error, "the error text");
    return onDispatcher(id, [text](Session& s) { s.deliverLoginFailed(text); }, wait, timeout);
}

bool fire_chart_session_status(unsigned long long id, int status, bool wait, double timeout)
{
    return onDispatcher(id, [status](Session& s) { s.deliverChartSessionStatus(status); }, wait, timeout);
}

bool fire_chart_session_login_failed(unsigned long long id, const py::object& error, bool wait, double timeout)
{
    sim::Text text = toText(error, "the error text");
    return onDispatcher(id, [text](Session& s) { s.deliverChartSessionLoginFailed(text); }, wait, timeout);
}

// A property of the server changes (later responses carry it) and the session hears of it; a
// change without a name is a delivery only.
bool fire_system_property(unsigned long long id, const py::object& name, const py::object& value, bool wait,
                          double timeout)
{
    sim::Text n = toText(name, "the property name"), v = toText(value, "the property value");
    if (n)
        sim::velvix::setSystemProperty(*n, v);
    return onDispatcher(id, [n, v](Session& s) { s.deliverPropertyChange(n, v); }, wait, timeout);
}

int subscribers(unsigned long long id, const std::string& where)
{
    return session(id)->subscribers(point(where));
}

bool wait_subscribers(unsigned long long id, const std::string& where, int n, double timeout)
{
    sim::Ref<Session> s = session(id);
    const Point p = point(where);
    WithoutGil unlocked;
    return s->waitSubscribers(p, n, milliseconds(timeout));
}

void set_users(const py::dict& users)
{
    std::map<std::string, std::string> table;
    py::list items = users.items();
    for (Py_ssize_t i = 0, n = py::len(items); i < n; ++i)
    {
        py::object user = items[i][0], password = items[i][1];
        if (user.is_none() || password.is_none())
            raise(PyExc_TypeError, "user names and passwords must be str or bytes");
        table[*toText(user, "a user name")] = *toText(password, "a password");
    }
    world().scenario().update([&](sim::ScenarioState& s) { s.sessions.users = std::move(table); });
}

void set_login_delay(long long ms)
{
    if (ms < 0)
        raise(PyExc_ValueError, "the login delay must not be negative");
    world().scenario().update([&](sim::ScenarioState& s) { s.sessions.loginDelayMs = ms; });
}

void set_login_outcome(const std::string& outcome, const py::object& text)
{
    std::string key(outcome);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
    sim::LoginOutcome chosen;
    if (key == "CONNECTED")
        chosen = sim::LoginOutcome::Connect;
    else if (key == "REJECTED")
        chosen = sim::LoginOutcome::Reject;
    else if (key == "TRADING_SESSION_REQUESTED")
        chosen = sim::LoginOutcome::TradingSession;
    else if (key == "CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD")
        chosen = sim::LoginOutcome::NeedToChangePassword;
    else
        raise(PyExc_ValueError, "unknown login outcome '" + outcome +
                                    "' (CONNECTED, REJECTED, TRADING_SESSION_REQUESTED, "
                                    "CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD)");
    const sim::Text reject = toText(text, "the rejection text");
    world().scenario().update([&](sim::ScenarioState& s) {
        s.sessions.outcome = chosen;
        s.sessions.rejectText = reject.value_or(sim::SessionServer{}.rejectText);
    });
}

void script_counts(const std::string& op, const py::object& counts)
{
    if (op != "getToken" && op != "getReportUrl")
        raise(PyExc_ValueError, "counts are scripted for getToken or getReportUrl, not '" + op + "'");
    std::deque<int> script;
    for (Py_ssize_t i = 0, n = py::len(counts); i < n; ++i)
        script.push_back(py::extract<int>(counts[i])());
    world().scenario().update([&](sim::ScenarioState& s) { s.sessions.countScripts[op] = std::move(script); });
}

void set_server_time(const py::object& ole)
{
    std::optional<double> fixed;
    if (!ole.is_none())
        fixed = py::extract<double>(ole)();
    world().scenario().update([&](sim::ScenarioState& s) { s.sessions.serverTime = fixed; });
}

void ghost(unsigned long long id, const std::string& where)
{
    sim::Ref<Session> s = session(id);
    const Point p = point(where);
    WithoutGil unlocked;  // ghosts replaced may be the last hold on a listener
    s->keepGhosts(p);
}

bool fire_ghost_session_status(unsigned long long id, int status, bool wait, double timeout)
{
    return onDispatcher(id, [status](Session& s) { s.deliverGhostSessionStatus(status); }, wait, timeout);
}

bool fire_ghost_chart_session_status(unsigned long long id, int status, bool wait, double timeout)
{
    return onDispatcher(id, [status](Session& s) { s.deliverGhostChartSessionStatus(status); }, wait, timeout);
}

void clear_ghosts()
{
    WithoutGil unlocked;
    for (std::uint64_t id : world().registry().objects("IK7RSession"))
        if (sim::Ref<Session> s = sim::Ref<Session>::adopt(world().registry().acquire<Session>(id)))
            s->clearGhosts();
}

}  // namespace

void exportSessionHooks()
{
    using py::arg;
    const auto fireArgs = (arg("session_id"), arg("status"), arg("wait") = true, arg("timeout") = 10.0);
    const auto textArgs = (arg("session_id"), arg("error"), arg("wait") = true, arg("timeout") = 10.0);

    py::def("sessions", &sessions, "Ids of the live sessions, oldest first.");
    py::def("fire_session_status", &fire_session_status, fireArgs,
            "Delivers a session status (any integer) to the session's status listeners; with wait, "
            "returns whether it was delivered within the timeout.");
    py::def("fire_session_status_burst", &fire_session_status_burst,
            (arg("session_id"), arg("status"), arg("count"), arg("timeout") = 60.0),
            "Delivers a status `count` times in one go on the dispatcher; gives the seconds it took.");
    py::def("fire_login_failed", &fire_login_failed, textArgs,
            "Delivers a login failure text (or None) to the session's status listeners.");
    py::def("fire_chart_session_status", &fire_chart_session_status, fireArgs,
            "Delivers a chart session status (any integer) to the chart session listeners.");
    py::def("fire_chart_session_login_failed", &fire_chart_session_login_failed, textArgs,
            "Delivers a chart session login failure text (or None).");
    py::def("fire_system_property", &fire_system_property,
            (arg("session_id"), arg("name"), arg("value"), arg("wait") = true, arg("timeout") = 10.0),
            "Changes a property of the server (unless the name is None) and delivers the change (texts or "
            "None) to the session's system properties listeners.");
    py::def("subscribers", &subscribers, (arg("session_id"), arg("point")),
            "Listeners held at a point: session_status, chart_session_status, response, system_properties.");
    py::def("wait_subscribers", &wait_subscribers,
            (arg("session_id"), arg("point"), arg("n"), arg("timeout") = 10.0),
            "Waits until exactly n listeners are held at the point; false on timeout.");

    py::def("set_users", &set_users, (arg("users")), "The login server's users, as {user: password}.");
    py::def("set_login_delay", &set_login_delay, (arg("ms")), "Time between two statuses of a login or logout.");
    py::def("set_login_outcome", &set_login_outcome, (arg("outcome"), arg("text") = py::object()),
            "How accepted logins end: CONNECTED, REJECTED (with a text), TRADING_SESSION_REQUESTED or "
            "CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD.");
    py::def("script_counts", &script_counts, (arg("op"), arg("counts")),
            "Counts getToken or getReportUrl report, one per call, before their own resume.");
    py::def("set_server_time", &set_server_time, (arg("ole")),
            "A fixed server time as an OLE date, or None to follow the clock.");

    py::def("ghost", &ghost, (arg("session_id"), arg("point")),
            "Keeps the listeners now held at a point, with references, whatever unsubscribes follow.");
    py::def("fire_ghost_session_status", &fire_ghost_session_status, fireArgs,
            "Delivers a session status to the kept listeners, subscribed or not.");
    py::def("fire_ghost_chart_session_status", &fire_ghost_chart_session_status, fireArgs,
            "Delivers a chart session status to the kept listeners, subscribed or not.");
    py::def("clear_ghosts", &clear_ghosts, "Lets go of every kept listener.");
}

}  // namespace control
