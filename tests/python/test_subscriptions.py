"""tests/python/test_subscriptions.py: what each subscription holds, for every kind of listener: a
subscription is one library object, one update type where the call names one, and one listener.
An unsubscribe gives back a reference only for a subscription it matches, and it leaves the
listener hearing the subscriptions that remain."""

import gc
import sys
import weakref

import pytest

import dedezi
from helpers import Recorder, new_session, ready_communicator

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
POINT = {U.INSERT: "table_update:INSERT", U.UPDATE: "table_update:UPDATE",
         U.DELETE: "table_update:DELETE", None: "table_status"}


def recording(base, *methods):
    """A listener of class `base` whose overrides named in `methods` record their calls."""
    calls = Recorder()

    def record(name):
        return lambda self, *args: calls.add(name)

    listener = type("Recording", (getattr(dedezi, base),), {m: record(m) for m in methods})()
    return listener, calls


class Case:
    """One kind of subscription: `a` the object subscribed to, `a_again` another Python wrapper of
    the same library object (or None), `b` another object of its kind (or None); `fire` makes `a`
    deliver once and returns when it did; `held(n)` whether the library holds n subscriptions at
    `a` (table subscriptions reach it later, through the late-call worker)."""

    def __init__(self, base, method, subscribe, unsubscribe, a, a_again, b, fire, held=None):
        self.base, self.method = base, method
        self.subscribe, self.unsubscribe = subscribe, unsubscribe
        self.a, self.a_again, self.b = a, a_again, b
        self.fire, self.held = fire, held or (lambda n: True)


def session_case(sim, name):
    session, sid = new_session(sim)
    other, _ = new_session(sim)
    services = {
        "session status": ("AK7RSessionStatus", "on_session_status_changed",
                           "subscribe_session_status", "unsubscribe_session_status",
                           lambda: sim.fire_session_status(sid, 3)),
        "chart session status": ("AK7RChartSessionStatus", "on_chart_session_status_changed",
                                 "subscribe_chart_session_status",
                                 "unsubscribe_chart_session_status",
                                 lambda: sim.fire_chart_session_status(sid, 1)),
        "response": ("AK7RResponseListener", "on_request_failed", "subscribe_response",
                     "unsubscribe_response",
                     lambda: sim.deliver_response(sid, sim.make_response(sid, 1, "RQ"), "failed",
                                                  request_id="RQ", error="no")),
        "system properties": ("AK7RSystemPropertiesListener", "on_change_property",
                              "subscribe_system_properties_change",
                              "unsubscribe_system_properties_change",
                              lambda: sim.fire_system_property(sid, "BASE_CRNCY", "EUR")),
    }
    if name in services:
        base, method, sub, unsub, fire = services[name]
        return Case(base, method, sub, unsub, session, None, other, fire), (session, other)
    if name == "commissions":
        return Case("AK7RCommissionProviderListener", "on_change_commission_provider_status",
                    "subscribe", "unsubscribe", session.commissions_provider,
                    session.commissions_provider, other.commissions_provider,
                    lambda: sim.fire_commission_status(sid, 1)), (session, other)
    assert name == "rollover"
    return Case("AK7RRolloverProviderListener", "on_status_changed", "subscribe", "unsubscribe",
                session.rollover_provider, session.rollover_provider, other.rollover_provider,
                lambda: sim.fire_rollover_status(sid, 2)), (session, other)


def table_case(sim, loaded, name):
    session, sid, manager = loaded
    key = sim.insert_row(sid, int(T.ORDERS), {"OrderID": "O-1"})
    sim.flush()
    orders = manager.get_table(T.ORDERS)

    def table_held(update_type):
        return lambda n: sim.wait_table_subscribers(sid, int(T.ORDERS), POINT[update_type], n)

    if name == "table status":
        return Case("AK7RTableListener", "on_status_changed", "subscribe_status",
                    "unsubscribe_status", orders, manager.get_table(T.ORDERS),
                    manager.get_table(T.TRADES),
                    lambda: sim.set_table_status(sid, int(T.ORDERS), 1), table_held(None))
    if name == "updates process":
        return Case("AK7RUpdatesProcessStatusListener", "on_updates_process_status_changed",
                    "subscribe_updates_process_status", "unsubscribe_updates_process_status",
                    manager, session.get_table_manager_by_account("1000101"), None,
                    lambda: sim.fire_updates_process_status(sid, 0))
    assert name == "all-events queue"
    queue = orders.all_event_queue(False)
    (queue_id,) = sim.objects("IK7RAllEventQueue")
    return Case("AK7RAllEventQueueListener", "on_put_in_queue", "subscribe_on_put_in_queue",
                "unsubscribe_on_put_in_queue", queue, None, orders.all_event_queue(False),
                lambda: sim.queue_put(queue_id, session_id=sid, key=key))


def communicator_case(sim, communicator, online_session):
    comm, comm_id = communicator
    other = ready_communicator(online_session)
    return Case("APlentaCommunicatorStatusListener", "on_communicator_status_changed",
                "add_status_listener", "remove_status_listener", comm, None, other,
                lambda: sim.fire_communicator_status(comm_id, True))


SESSION_KINDS = ["session status", "chart session status", "response", "system properties",
                 "commissions", "rollover"]
TABLE_KINDS = ["table status", "updates process", "all-events queue"]


@pytest.fixture(params=SESSION_KINDS + TABLE_KINDS + ["communicator status"])
def case(request, sim):
    if request.param in SESSION_KINDS:
        made, keep = session_case(sim, request.param)
        yield made
        del keep
    elif request.param in TABLE_KINDS:
        yield table_case(sim, request.getfixturevalue("loaded"), request.param)
    else:
        yield communicator_case(sim, request.getfixturevalue("communicator"),
                                request.getfixturevalue("online_session"))


# (call, where, subscriptions held at `a` afterwards): twice at a, once given back through an
# object it is not subscribed to, once through another wrapper of a, once through a, once more.
STEPS = [("subscribe", "a", 1), ("subscribe", "a", 2), ("unsubscribe", "b", 2),
         ("unsubscribe", "a_again", 1), ("unsubscribe", "a", 0), ("unsubscribe", "a", 0)]


def test_each_unsubscribe_gives_back_only_its_own_subscription(sim, case):
    listener, calls = recording(case.base, case.method)
    base = sys.getrefcount(listener)
    for call, where, count in STEPS:
        if where == "b" and case.b is None:
            continue
        target = getattr(case, where)
        target = case.a if target is None else target  # a table is false while it is empty
        getattr(target, getattr(case, call))(listener)
        assert case.held(count), (call, where)
        assert sys.getrefcount(listener) - base == count, (call, where)
        # The library delivers once per subscription it holds, and the listener hears each.
        before = len(calls.items)
        assert case.fire() is not False
        assert sim.flush(10)
        assert len(calls.items) - before == count, (call, where)
    gone = weakref.ref(listener)
    del listener
    gc.collect()
    assert gone() is None


# (subscribed, unsubscribed): the update types (None for the status) a table listener holds, and
# the one it gives back.
TABLE_SUBSCRIPTIONS = [
    pytest.param((U.INSERT, U.DELETE), U.INSERT, id="insert-and-delete-less-insert"),
    pytest.param((U.INSERT, U.DELETE), U.DELETE, id="insert-and-delete-less-delete"),
    pytest.param((U.UPDATE, None), None, id="update-and-status-less-status"),
    pytest.param((U.UPDATE, None), U.UPDATE, id="update-and-status-less-update"),
]
EVENT = {U.INSERT: ("on_added", 0), U.UPDATE: ("on_changed", 1), U.DELETE: ("on_deleted", 2)}


@pytest.mark.parametrize("subscribed, unsubscribed", TABLE_SUBSCRIPTIONS)
def test_a_table_listener_keeps_hearing_what_it_is_still_subscribed_to(sim, loaded, subscribed,
                                                                      unsubscribed):
    _, sid, manager = loaded
    key = sim.insert_row(sid, int(T.ORDERS), {"OrderID": "O-1"})
    sim.flush()
    orders = manager.get_table(T.ORDERS)
    listener, calls = recording("AK7RTableListener", "on_added", "on_changed", "on_deleted",
                                "on_status_changed")
    base = sys.getrefcount(listener)

    def change(name, update_type):
        if update_type is None:
            getattr(orders, name + "_status")(listener)
        else:
            getattr(orders, name + "_update")(update_type, listener)

    def fire(update_type):
        if update_type is None:
            assert sim.set_table_status(sid, int(T.ORDERS), 1)
        else:
            assert sim.fire_table_event(sid, int(T.ORDERS), EVENT[update_type][1], "O-1", key)

    def heard(update_type):
        return "on_status_changed" if update_type is None else EVENT[update_type][0]

    for update_type in subscribed:
        change("subscribe", update_type)
        assert sim.wait_table_subscribers(sid, int(T.ORDERS), POINT[update_type], 1)
    # A type it does not hold gives nothing back and stops nothing.
    other = next(t for t in (U.INSERT, U.UPDATE, U.DELETE) if t not in subscribed)
    change("unsubscribe", other)
    change("unsubscribe", unsubscribed)
    assert sim.wait_table_subscribers(sid, int(T.ORDERS), POINT[unsubscribed], 0)
    assert sys.getrefcount(listener) - base == len(subscribed) - 1
    for update_type in (U.INSERT, U.UPDATE, U.DELETE, None):
        fire(update_type)
    assert sim.flush(10)
    remaining = [t for t in subscribed if t != unsubscribed]
    assert calls.items == [heard(t) for t in (U.INSERT, U.UPDATE, U.DELETE, None)
                           if t in remaining]
    for update_type in remaining:
        change("unsubscribe", update_type)
    assert sys.getrefcount(listener) == base
