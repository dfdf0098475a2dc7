"""tests/python/test_velvix_sim_tables.py: the tables face of the test-control extension. A
session made through dedezi logs in with the table manager in use; the hooks then author rows,
fire statuses and read back what the simulated tables hold."""

import pytest

from helpers import new_session

pytestmark = pytest.mark.timeout(60)

OFFERS, ACCOUNTS, ORDERS, MESSAGES = 0, 1, 2, 5
TABLES_LOADED = 1


@pytest.fixture
def tables(sim):
    """A logged-in session whose tables are loaded, with live prices off."""
    sim.price_ticks(False)
    session, session_id = new_session(sim)
    sim.use_table_manager(session_id)
    assert session.login("demo", "demo", "https://demo.example/", "Demo")
    assert sim.wait_manager_status(session_id, TABLES_LOADED)
    yield session_id
    session.logout()
    sim.flush()


def test_the_demo_account_is_loaded(sim, tables):
    offers = sim.table_keys(tables, OFFERS)
    assert len(offers) >= 8
    instruments = {sim.cell(tables, OFFERS, key, "Instrument") for key in offers}
    assert {b"EUR/USD", b"USD/JPY", b"GBP/USD", b"XAU/USD"} <= instruments
    for key in offers:
        assert sim.cell(tables, OFFERS, key, "Bid") < sim.cell(tables, OFFERS, key, "Ask")
    (account,) = sim.table_keys(tables, ACCOUNTS)
    assert sim.cell(tables, ACCOUNTS, account, "Balance") > 0
    assert len(sim.table_keys(tables, MESSAGES)) == 1
    assert sim.table_keys(tables, ORDERS) == []


@pytest.mark.parametrize("values, expected", [
    ({"OrderID": "O-1"}, "O-1"),
    ({"Amount": 1000}, "1"),  # no key given: a fresh one
    ({"OrderID": b"\xff\xfe"}, b"\xff\xfe"),  # not UTF-8: given back as bytes
])
def test_insert_row_gives_the_key(sim, tables, values, expected):
    key = sim.insert_row(tables, ORDERS, values)
    assert key == expected
    assert sim.table_keys(tables, ORDERS) == [expected]


def test_update_and_delete_change_the_row_on_the_dispatcher(sim, tables):
    key = sim.insert_row(tables, ORDERS, {"OrderID": "O-2", "Amount": 1000, "Rate": 1.5})
    assert sim.update_row(tables, ORDERS, key, {"Amount": 2000, "RequestTXT": None})
    assert sim.cell(tables, ORDERS, key, "Amount") == 2000
    assert sim.cell(tables, ORDERS, key, "RequestTXT") is None
    assert sim.cell(tables, ORDERS, key, "Rate") == 1.5
    assert sim.delete_row(tables, ORDERS, key)
    assert sim.table_keys(tables, ORDERS) == []
    with pytest.raises(LookupError):
        sim.update_row(tables, ORDERS, key, {"Amount": 1})


def test_custom_columns_keep_their_types_and_duplicates(sim, tables):
    columns = [("OfferID", 2, True), ("Odd", 5, False), ("Odd", 1, False), ("Nowhere", 3, False)]
    key = sim.insert_row(tables, OFFERS, {"OfferID": "C1", "Odd": 7, "Nowhere": 1e9},
                         kind="generic", columns=columns, null_columns=True)
    assert sim.cell(tables, OFFERS, key, 1) == 7  # the first "Odd" took the value
    assert sim.cell(tables, OFFERS, key, 2) == 0.0
    assert sim.cell(tables, OFFERS, key, "Nowhere") == 1e9


def test_manager_status_reaches_no_one_without_a_listener_and_is_kept(sim, tables):
    assert sim.set_manager_status(tables, 2)
    assert sim.wait_manager_status(tables, 2, timeout=1)
    assert sim.set_manager_status(tables, 1, null_manager=True)
    assert sim.wait_manager_status(tables, 1, timeout=1)


@pytest.mark.parametrize("point", ["table_update:INSERT", "table_update:2", "table_status", "updates_process"])
def test_subscriber_points_start_empty(sim, tables, point):
    assert sim.table_subscribers(tables, OFFERS, point) == 0
    assert sim.wait_table_subscribers(tables, OFFERS, point, 0, timeout=1)


def test_unknown_points_kinds_and_flags_are_refused(sim, tables):
    with pytest.raises(ValueError):
        sim.table_subscribers(tables, OFFERS, "table_update:UPSERT")
    with pytest.raises(ValueError):
        sim.insert_row(tables, OFFERS, {}, kind="fancy")
    with pytest.raises(ValueError):
        sim.set_validity(tables, sim.table_keys(tables, OFFERS)[0], {"is_nothing_valid": False})
    with pytest.raises(ValueError):
        sim.insert_row(tables, 7, {})


def test_set_validity_and_cell_changed_take_effect(sim, tables):
    key = sim.table_keys(tables, OFFERS)[0]
    sim.set_validity(tables, key, {"getIsBidValid": False, "is_ask_valid": True})
    sim.set_cell_changed(tables, OFFERS, key, 3, True)
    with pytest.raises(IndexError):
        sim.set_cell_changed(tables, OFFERS, key, 99, True)


def test_price_ticks_move_the_offers(sim, tables):
    key = sim.table_keys(tables, OFFERS)[0]
    sim.clock_virtual()
    sim.price_ticks(True, interval_ms=250)
    before = sim.cell(tables, OFFERS, key, "Time")
    # A tick moves the quote only when the rounded price changes: allow a run of quiet ticks.
    for _ in range(200):
        sim.advance(250)
        sim.flush()
        if sim.cell(tables, OFFERS, key, "Time") > before:
            break
    assert sim.cell(tables, OFFERS, key, "Time") > before
    sim.price_ticks(False)


def test_queue_hooks_reach_lent_queues_only(sim, loaded):
    _, session_id, manager = loaded
    with pytest.raises(LookupError, match="no live event queue"):
        sim.queue_info(10 ** 9)
    import dedezi

    queue = manager.get_table(dedezi.K7RTableType(ORDERS)).all_event_queue(True)
    (queue_id,) = sim.objects("IK7RAllEventQueue")
    assert sim.queue_info(queue_id) == {"kind": "IK7RAllEventQueue", "table": ORDERS, "events": -1,
                                        "flag": True, "size": 0, "subscribers": 0,
                                        "returned": False, "waiters": 0}
    with pytest.raises(ValueError, match="session_id"):
        sim.queue_put(queue_id, key="O-1")
    with pytest.raises(LookupError):
        sim.queue_put(queue_id, session_id=session_id, key="no such order")
    assert sim.queue_put(queue_id, null_item=True)
    assert sim.queue_info(queue_id)["size"] == 1
    assert sim.queue_loans("IK7RAllEventQueue") == (1, 0)
    del queue
    assert sim.queue_loans("IK7RAllEventQueue") == (1, 1)
    with pytest.raises(LookupError):
        sim.queue_info(queue_id)


def test_without_a_manager_the_hooks_say_so(sim):
    session, session_id = new_session(sim)
    assert sim.manager_id(session_id) is None
    with pytest.raises(LookupError, match="no table manager"):
        sim.insert_row(session_id, OFFERS, {})
    assert sim.search_journal() == []
