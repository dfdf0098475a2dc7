// velvix_sim: the face of a session's services: the tables a login loads and the properties it was
// sent, deliveries to the commissions and rollover providers' listeners, and their subscriber
// counts. Sessions are reached
// by their registry id; deliveries run on the dispatcher.
#include <algorithm>
#include <set>

#include "Control.h"
#include "core/World.h"
#include "velvix/LoginRules.h"
#include "velvix/Providers.h"
#include "velvix/Session.h"
#include "velvix/SessionServices.h"

namespace control
{

namespace
{

using sim::velvix::CommissionsProvider;
using sim::velvix::RolloverProvider;
using sim::velvix::SessionServices;

std::uint64_t liveSession(unsigned long long id)
{
    sim::Ref<sim::velvix::Session> s =
        sim::Ref<sim::velvix::Session>::adopt(sim::world().registry().acquire<sim::velvix::Session>(id));
    if (!s)
        raise(PyExc_LookupError, "no live session " + std::to_string(id));
    return id;
}

std::int64_t milliseconds(double seconds)
{
    return static_cast<std::int64_t>(std::max(seconds, 0.0) * 1000.0);
}

void set_login_tables(const py::object& tables)
{
    std::optional<std::set<int>> chosen;
    if (!tables.is_none())
    {
        chosen.emplace();
        for (Py_ssize_t i = 0, n = py::len(tables); i < n; ++i)
            chosen->insert(py::extract<int>(tables[i])());
    }
    SessionServices::instance().setLoginTables(std::move(chosen));
}

// A text as str, or as bytes when it is not UTF-8.
py::object textOf(const sim::Text& t)
{
    if (!t)
        return py::object();
    if (PyObject* u = PyUnicode_DecodeUTF8(t->data(), static_cast<Py_ssize_t>(t->size()), nullptr))
        return py::object(py::handle<>(u));
    PyErr_Clear();
    return fromValue(*t);
}

// The (name, value) texts of the login's system properties response; None outside a login.
py::object login_properties(unsigned long long id)
{
    sim::Ref<sim::velvix::LoginRules> rules = SessionServices::instance().loginRules(liveSession(id));
    if (!rules || !rules->properties())
        return py::object();
    py::list out;
    if (const auto pairs = rules->properties()->content().properties)
        for (const auto& [name, value] : *pairs)
            out.append(py::make_tuple(textOf(name), textOf(value)));
    return out;
}

bool fire_commission_status(unsigned long long id, int status, bool wait, double timeout)
{
    sim::Ref<CommissionsProvider> provider = SessionServices::instance().commissions(liveSession(id));
    return onDispatcher([provider, status] { provider->deliverStatus(status); }, wait, timeout);
}

bool fire_need_update_commissions(unsigned long long id, bool wait, double timeout)
{
    sim::Ref<CommissionsProvider> provider = SessionServices::instance().commissions(liveSession(id));
    return onDispatcher([provider] { provider->deliverNeedUpdate(); }, wait, timeout);
}

// Always waited for: a rollover listener is held by a plain pointer, so a delivery must not be
// left on its way while its listener may go.
bool fire_rollover_status(unsigned long long id, int status, double timeout)
{
    sim::Ref<RolloverProvider> provider = SessionServices::instance().rollover(liveSession(id));
    return onDispatcher([provider, status] { provider->deliverStatus(status); }, true, timeout);
}

int service_subscribers(unsigned long long id, const std::string& service)
{
    if (service == "commissions")
        return SessionServices::instance().commissions(liveSession(id))->subscribers();
    if (service == "rollover")
        return SessionServices::instance().rollover(liveSession(id))->subscribers();
    raise(PyExc_ValueError, "unknown service '" + service + "' (commissions, rollover)");
}

bool wait_service_subscribers(unsigned long long id, const std::string& service, int n, double timeout)
{
    const std::uint64_t session = liveSession(id);
    if (service != "commissions" && service != "rollover")
        raise(PyExc_ValueError, "unknown service '" + service + "' (commissions, rollover)");
    WithoutGil unlocked;
    if (service == "commissions")
        return SessionServices::instance().commissions(session)->waitSubscribers(n, milliseconds(timeout));
    return SessionServices::instance().rollover(session)->waitSubscribers(n, milliseconds(timeout));
}

}  // namespace

void exportServiceHooks()
{
    using py::arg;
    py::def("set_login_tables", &set_login_tables, (arg("tables")),
            "The tables a login loads by default (K7RTableType values), or None for all seven.");
    py::def("login_properties", &login_properties, (arg("session_id")),
            "The system properties the session's login was sent, as (name, value); None outside a login.");
    py::def("fire_commission_status", &fire_commission_status,
            (arg("session_id"), arg("status"), arg("wait") = true, arg("timeout") = 10.0),
            "Delivers a commission status (any integer) to the commissions provider's listeners.");
    py::def("fire_need_update_commissions", &fire_need_update_commissions,
            (arg("session_id"), arg("wait") = true, arg("timeout") = 10.0),
            "Tells the commissions provider's listeners that commissions must be recalculated.");
    py::def("fire_rollover_status", &fire_rollover_status,
            (arg("session_id"), arg("status"), arg("timeout") = 10.0),
            "Delivers a rollover status (any integer) to the rollover provider's listeners and waits "
            "until it was delivered.");
    py::def("service_subscribers", &service_subscribers, (arg("session_id"), arg("service")),
            "Listeners held by a session's provider: commissions or rollover.");
    py::def("wait_service_subscribers", &wait_service_subscribers,
            (arg("session_id"), arg("service"), arg("n"), arg("timeout") = 10.0),
            "Waits until exactly n listeners are held by the provider; false on timeout.");
}

}  // namespace control
