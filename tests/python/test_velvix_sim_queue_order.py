"""tests/python/test_velvix_sim_queue_order.py: the order in which one table event reaches the
simulated server's listeners and queues: the table's listeners, then the table's queues in the
order they were lent, whatever their kind, then the manager's queues."""

import pytest

import dedezi
from helpers import Recorder

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
ORDERS = int(T.ORDERS)


def recording(cls, method, name, calls):
    """A listener of `cls` whose `method` records `name` for each event (not the batch markers,
    which hold no row)."""
    def heard(self, value, *_):
        if getattr(value, "row", value) is not None:
            calls.add(name)
    return type("Recording", (cls,), {method: heard})()


def all_events(table):
    return table.all_event_queue(False), dedezi.AK7RAllEventQueueListener


def inserts(table):
    return table.get_update_event_queue(U.INSERT), dedezi.AK7RUpdateEventQueueListener


def deletes(table):
    return table.get_update_event_queue(U.DELETE), dedezi.AK7RUpdateEventQueueListener


@pytest.mark.parametrize("loans", [
    [inserts, all_events],
    [inserts, all_events, inserts, all_events],
    [all_events, inserts, deletes, all_events, inserts],
], ids=["update then all", "alternating", "mixed, one not hearing"])
def test_an_event_reaches_the_queues_in_loan_order(sim, loaded, loans):
    _, session_id, manager = loaded
    table = manager.get_table(T.ORDERS)
    calls, held = Recorder(), []

    def hear(target, cls, name):
        listener = recording(cls, "on_put_in_queue", name, calls)
        target.subscribe_on_put_in_queue(listener)
        held.append((target, listener))

    hear(manager.tables_update_event_queue, dedezi.AK7RAllEventQueueListener, "manager")
    expected = ["table listener"]
    for n, lend in enumerate(loans):
        queue, cls = lend(table)
        hear(queue, cls, f"{lend.__name__} {n}")
        if lend is not deletes:
            expected.append(f"{lend.__name__} {n}")
    expected.append("manager")
    table_listener = recording(dedezi.AK7RTableListener, "on_added", "table listener", calls)
    table.subscribe_update(U.INSERT, table_listener)
    # A table subscription reaches the library through the module's worker: wait for it.
    assert sim.wait_table_subscribers(session_id, ORDERS, "table_update:INSERT", 1)
    try:
        sim.insert_row(session_id, ORDERS, {"OrderID": "O-1"})
        assert calls.wait_for(len(expected)) == expected
        assert sim.flush()
        assert calls.items == expected
    finally:
        table.unsubscribe_update(U.INSERT, table_listener)
        for target, listener in held:
            target.unsubscribe_on_put_in_queue(listener)
        held.clear()  # the queues go back to the table with their handles
