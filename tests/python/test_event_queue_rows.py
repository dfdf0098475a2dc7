"""tests/python/test_event_queue_rows.py: the rows that event queues hold. A queue is read later, so
each of its rows reads as the table's row read at its event (cells, changed flags, validity, class,
table and columns), however late the queue is drained; one copy per event serves every queue that
heard it, none is made when no queue hears, and each copy goes once its last holder lets go."""

import gc
import threading

import pytest

import dedezi
from helpers import Recorder

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
Column = dedezi.K7RTableColumnType
OFFERS, ORDERS = int(T.OFFERS), int(T.ORDERS)
EVENTS = (U.INSERT, U.UPDATE, U.DELETE)


def reading(row):
    """All that a script reads of a row: its class, its table, each column with its cell and
    changed flag, and an offer row's validity flags."""
    columns = row.columns
    cells = tuple((columns.get(i).id, columns.get(i).type, row.get_cell(i), row.is_cell_changed(i))
                  for i in range(columns.size))
    validity = tuple((name, getattr(row, name)) for name in sorted(dir(type(row)))
                     if name.startswith("is_") and name.endswith("_valid"))
    return type(row), row.table_type, cells, validity


class Heard(dedezi.AK7RTableListener):
    """Reads each row in its callback, at its event: what a queue's row must read later."""

    def __init__(self):
        super().__init__()
        self.events = Recorder()

    def on_added(self, row_id, row):
        self.events.add((U.INSERT, reading(row)))

    def on_changed(self, row_id, row):
        self.events.add((U.UPDATE, reading(row)))

    def on_deleted(self, row_id, row):
        self.events.add((U.DELETE, reading(row)))

    def on_status_changed(self, status):
        pass


def listen(sim, session_id, table, events=EVENTS):
    """A Heard listener subscribed to the table's `events`, once the library has it."""
    heard = Heard()
    for event in events:
        table.subscribe_update(event, heard)
    for event in events:
        assert sim.wait_table_subscribers(session_id, int(table.type), f"table_update:{event.name}",
                                          1)
    return heard


def every_queue(manager, table, events=EVENTS):
    """Every queue a script can borrow that hears `table`: an update queue per event type, the
    table's all-events queue and the manager's."""
    queues = {f"{event.name} queue": table.get_update_event_queue(event) for event in events}
    queues["all-events queue"] = table.all_event_queue(False)
    queues["manager queue"] = manager.tables_update_event_queue
    return queues


def drained(queue):
    """(event type, reading) of each row in the queue, in order; the batch markers are left out."""
    taken = []
    while not queue.is_empty():
        element = queue.try_get()
        if isinstance(element, dedezi.K7RAllEventQueueItem):
            if element.row is not None:
                taken.append((element.event_type, reading(element.row)))
        else:
            taken.append((queue.events_type, reading(element)))
    return taken


def expected(queues, heard):
    """What each queue must give: the listener's readings of the events that it hears."""
    return {name: [(event, seen) for event, seen in heard
                   if queue.events_type in (event, U.UPDATE_UNKNOWN)]
            for name, queue in queues.items()}


def by_offer(events):
    """The readings of each offer, in order, by offer id."""
    offers = {}
    for _, (cls, table, cells, validity) in events:
        offers.setdefault(dict((id_, value) for id_, _, value, _ in cells)["offer_id"], []).append(
            (cls, table, cells, validity))
    return offers


def test_queues_drained_after_the_ticks_give_each_tick_its_own_prices(sim, loaded):
    _, session_id, manager = loaded
    offers = manager.get_table(T.OFFERS)
    heard = listen(sim, session_id, offers, [U.UPDATE])
    queues = every_queue(manager, offers, [U.UPDATE])
    sim.clock_virtual()
    sim.price_ticks(True, 250)
    # Ticks until EUR/USD moved eight times; a tick passes quietly when no rounded price moved.
    for _ in range(400):
        if len(by_offer(heard.events.items).get("1", [])) >= 8:
            break
        sim.advance(250)
        assert sim.flush() and sim.flush()  # the tick, then the batch that it posted
    sim.price_ticks(False)
    ticks = by_offer(heard.events.items)
    assert len(ticks["1"]) >= 8
    # Drained only now, after every tick: each queue still gives each tick's prices.
    assert {name: by_offer(drained(queue)) for name, queue in queues.items()} == {
        name: ticks for name in queues}


def test_each_event_type_keeps_its_cells_changed_flags_and_validity(sim, loaded):
    _, session_id, manager = loaded
    offers = manager.get_table(T.OFFERS)
    heard = listen(sim, session_id, offers)
    queues = every_queue(manager, offers)
    sim.insert_row(session_id, OFFERS, {"OfferID": "98", "Instrument": "EUR/GBP", "Bid": 0.85})
    sim.set_validity(session_id, "98", {"is_bid_valid": False})
    sim.update_row(session_id, OFFERS, "98", {"Bid": 0.86, "Ask": 0.8602})
    sim.set_validity(session_id, "98", {"is_bid_valid": True})
    sim.update_row(session_id, OFFERS, "98", {"Instrument": "EUR/CHF"})
    sim.delete_row(session_id, OFFERS, "98")
    events = heard.events.wait_for(4)
    assert [event for event, _ in events] == [U.INSERT, U.UPDATE, U.UPDATE, U.DELETE]
    assert {name: drained(queue) for name, queue in queues.items()} == expected(queues, events)


OWN_COLUMNS = [("OrderID", int(Column.STRING), True), ("Amount", int(Column.INTEGER), False)]

# How a row of the orders table may be made: insert_row's options.
SHAPES = {
    "table row": {},
    "plain row": {"kind": "plain"},
    "own columns": {"columns": OWN_COLUMNS},
    "of no table": {"row_table_type": int(T.TABLE_UNKNOWN), "columns": OWN_COLUMNS},
}


@pytest.mark.parametrize("shape", SHAPES.values(), ids=list(SHAPES))
def test_a_queued_row_has_the_class_table_and_columns_of_its_row(sim, loaded, shape):
    _, session_id, manager = loaded
    orders = manager.get_table(T.ORDERS)
    heard = listen(sim, session_id, orders, [U.INSERT, U.UPDATE])
    queues = every_queue(manager, orders, [U.INSERT, U.UPDATE])
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-1", "Amount": 1000}, **shape)
    sim.update_row(session_id, ORDERS, "O-1", {"Amount": 2000})
    events = heard.events.wait_for(2)
    assert {name: drained(queue) for name, queue in queues.items()} == expected(queues, events)


KIND = "IK7ROrderTableRow"


def test_one_copy_per_event_heard_goes_once_its_last_holder_lets_go(sim, loaded):
    session, session_id, manager = loaded
    orders = manager.get_table(T.ORDERS)

    def insert(key):
        """The copies that the INSERT of a new order made, and the order's own row."""
        before = set(sim.objects(KIND))
        sim.insert_row(session_id, ORDERS, {"OrderID": key})
        row = sim.row_id(session_id, ORDERS, key)
        return set(sim.objects(KIND)) - before - {row}, row

    assert insert("O-1")[0] == set()  # no queue
    deletes = orders.get_update_event_queue(U.DELETE)
    assert insert("O-2")[0] == set()  # no queue that hears an INSERT
    inserts, emptied, returned, late = (
        orders.get_update_event_queue(U.INSERT), orders.get_update_event_queue(U.INSERT),
        orders.all_event_queue(False), manager.tables_update_event_queue)
    releases = sim.release_calls(KIND)
    (copy,), row = insert("O-3")
    assert sim.refcount(copy) == 4  # one copy, held by each of the four queues

    taken = inserts.try_get()
    emptied.delete_all_events()
    del returned  # given back to its table
    gc.collect()
    assert sim.refcount(copy) == 2  # the row taken, and the manager queue's item

    # A logout ends the queues, not what they hold: the manager queue is drained after it.
    logged_out = threading.Event()

    class Status(dedezi.AK7RSessionStatus):
        def on_session_status_changed(self, status):
            if status == dedezi.AK7RSessionStatus.K7RSessionStatus.DISCONNECTED:
                logged_out.set()

        def on_login_failed(self, error):
            pass

    status = Status()
    session.subscribe_session_status(status)
    session.logout()
    assert logged_out.wait(10)
    session.unsubscribe_session_status(status)
    _, item, _ = [late.try_get() for _ in range(3)]  # BEGIN, the INSERT, END
    late_row = item.row
    assert (taken.order_id, late_row.order_id) == ("O-3", "O-3")
    assert sim.refcount(copy) == 3

    del taken, item, late_row, inserts, emptied, late, deletes
    gc.collect()
    assert copy not in sim.objects(KIND)
    assert sim.release_calls(KIND) == releases + 2  # the two rows that Python took
    assert row in sim.objects(KIND)  # the table's own row, which no queue held
