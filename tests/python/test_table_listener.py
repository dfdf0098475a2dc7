"""tests/python/test_table_listener.py: AK7RTableListener and AK7REachRowListener on K7RTable: row
events and statuses reaching the overrides as the most specific row classes, subscriptions that
reach the library later, through the late-call worker, in call order, the reports of missing and
raising overrides, for_each_row on the calling thread with every failing row reported and the last
error raised, None refused, and the references that subscriptions, jobs and rows give back."""

import contextlib
import gc
import sys
import textwrap
import threading
import weakref

import pytest

import dedezi
from helpers import (LOGGED_IN_CHILD, Recorder, callback_reports, log_in, new_session, row_classes,
                     run_python, settled_refcount)

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
ROWS = row_classes()
U = dedezi.K7RTableUpdateType
TableStatus = dedezi.K7RTableStatus
ManagerStatus = dedezi.K7RTableManagerStatus
YES = dedezi.K7RTableManagerMode.YES
POINT = {U.INSERT: "table_update:INSERT", U.UPDATE: "table_update:UPDATE",
         U.DELETE: "table_update:DELETE", None: "table_status"}
FILE = "source\\K7R\\K7RTable"


class Recording(dedezi.AK7RTableListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_added(self, row_id, row):
        self.calls.add(("added", row_id, row))

    def on_changed(self, row_id, row):
        self.calls.add(("changed", row_id, row))

    def on_deleted(self, row_id, row):
        self.calls.add(("deleted", row_id, row))

    def on_status_changed(self, status):
        self.calls.add(("status", status))


class Subscriptions:
    """Subscribes table listeners and waits until the library holds them; unsubscribes them all
    at the end."""

    def __init__(self, sim, session_id, manager):
        self.sim, self.session_id, self.manager = sim, session_id, manager
        self.made = []

    def add(self, table_type, listener, *update_types):
        """Subscribes to each update type, or to the status when none is given."""
        table = self.manager.get_table(table_type)
        for update_type in update_types or (None,):
            if update_type is None:
                table.subscribe_status(listener)
            else:
                table.subscribe_update(update_type, listener)
            self.made.append((table, update_type, listener))
            assert self.sim.wait_table_subscribers(self.session_id, int(table_type),
                                                   POINT[update_type], 1)
        return table

    def close(self):
        for table, update_type, listener in reversed(self.made):
            if update_type is None:
                table.unsubscribe_status(listener)
            else:
                table.unsubscribe_update(update_type, listener)
            assert self.sim.wait_table_subscribers(self.session_id, int(table.type),
                                                   POINT[update_type], 0)


@pytest.fixture
def subs(sim, loaded):
    _, session_id, manager = loaded
    made = Subscriptions(sim, session_id, manager)
    yield made
    made.close()


@contextlib.contextmanager
def worker_held(sim, session, session_id):
    """Inside, a table manager report holds the late-call worker: jobs posted meanwhile wait."""
    entered, release = threading.Event(), threading.Event()

    class Blocking(dedezi.AK7RTableManagerListener):
        def on_status_changed(self, status, manager):
            entered.set()
            release.wait(10)

    session.use_table_manager(YES, Blocking())
    sim.set_manager_status(session_id, int(ManagerStatus.TABLES_LOADED), wait=False)
    assert entered.wait(10)
    try:
        yield
    finally:
        release.set()


def drain_worker(sim, session_id, manager):
    """Returns once every job posted to the late-call worker so far has run and is gone."""
    fence, messages = Recording(), manager.get_table(T.MESSAGES)
    messages.subscribe_status(fence)
    assert sim.wait_table_subscribers(session_id, int(T.MESSAGES), "table_status", 1)
    messages.unsubscribe_status(fence)
    assert sim.wait_table_subscribers(session_id, int(T.MESSAGES), "table_status", 0)


class TestTableListener:
    @pytest.mark.parametrize("table_type", list(ROWS))
    def test_row_events_reach_the_overrides_as_the_most_specific_row_class(self, sim, loaded,
                                                                           subs, table_type):
        _, session_id, _ = loaded
        key_column, plain, table_row = ROWS[table_type]
        listener = Recording()
        subs.add(table_type, listener, U.INSERT, U.UPDATE, U.DELETE)
        sim.insert_row(session_id, int(table_type), {key_column: "K-1"})
        sim.insert_row(session_id, int(table_type), {key_column: "K-2"}, kind="plain")
        sim.update_row(session_id, int(table_type), "K-1", {key_column: "K-1"})
        sim.delete_row(session_id, int(table_type), "K-2")
        calls = listener.calls.wait_for(4)
        assert [(what, row_id, type(row)) for what, row_id, row in calls] == [
            ("added", "K-1", table_row), ("added", "K-2", plain), ("changed", "K-1", table_row),
            ("deleted", "K-2", plain)]
        assert calls[0][2].get_cell(0) == "K-1"

    def test_statuses_arrive_in_order_as_table_statuses(self, sim, loaded, subs):
        _, session_id, _ = loaded
        listener = Recording()
        subs.add(T.TRADES, listener)
        for status in (TableStatus.REFRESHING, TableStatus.FAILED, TableStatus.REFRESHED):
            sim.set_table_status(session_id, int(T.TRADES), int(status))
        calls = listener.calls.wait_for(3)
        assert calls == [("status", TableStatus.REFRESHING), ("status", TableStatus.FAILED),
                         ("status", TableStatus.REFRESHED)]
        assert all(type(status) is TableStatus for _, status in calls)

    @pytest.mark.parametrize("row_id, with_row, expected", [
        ("R-9", True, [("added", "R-9")]),
        (None, True, [("added", None)]),
        ("R-9", False, []),  # a null row reaches no override
    ])
    def test_row_ids_and_null_rows(self, sim, loaded, subs, row_id, with_row, expected):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-1"})
        listener = Recording()
        subs.add(T.ORDERS, listener, U.INSERT)
        assert sim.fire_table_event(session_id, int(T.ORDERS), int(U.INSERT), row_id,
                                    key if with_row else None)
        assert [(what, rid) for what, rid, _ in listener.calls.items] == expected

    def test_subscriptions_reach_the_library_later_on_the_worker_in_call_order(self, sim,
                                                                               loaded):
        session, session_id, manager = loaded
        orders, listener = manager.get_table(T.ORDERS), Recording()
        with worker_held(sim, session, session_id):  # the subscriptions queue behind the report
            sim.clear_journal()
            orders.subscribe_update(U.INSERT, listener)
            orders.unsubscribe_update(U.INSERT, listener)
            orders.subscribe_update(U.INSERT, listener)
            orders.subscribe_status(listener)
            sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "early"})
            assert sim.table_subscribers(session_id, int(T.ORDERS), "table_update:INSERT") == 0
        assert sim.wait_table_subscribers(session_id, int(T.ORDERS), "table_status", 1)
        assert [op for op, _ in sim.journal() if op.startswith("IK7RTable::")] == [
            "IK7RTable::subscribeUpdate", "IK7RTable::unsubscribeUpdate",
            "IK7RTable::subscribeUpdate", "IK7RTable::subscribeStatus"]
        sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "late"})
        assert [row_id for _, row_id, _ in listener.calls.wait_for(1)] == ["late"]
        orders.unsubscribe_update(U.INSERT, listener)
        orders.unsubscribe_status(listener)

    def test_a_type_given_back_at_a_table_is_silent_there_before_the_worker_lets_it_go(self, sim,
                                                                                       loaded):
        session, session_id, manager = loaded
        orders, trades = manager.get_table(T.ORDERS), manager.get_table(T.TRADES)
        listener = Recording()
        order = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-1"})
        trade = sim.insert_row(session_id, int(T.TRADES), {"TradeID": "T-1"})
        orders.subscribe_update(U.INSERT, listener)
        orders.subscribe_status(listener)
        trades.subscribe_update(U.INSERT, listener)
        trades.subscribe_status(listener)
        assert sim.wait_table_subscribers(session_id, int(T.TRADES), "table_status", 1)

        def heard_after(fire):
            before = len(listener.calls.items)
            assert fire()
            return [call[:2] for call in listener.calls.items[before:]]

        def insert_order():
            return sim.fire_table_event(session_id, int(T.ORDERS), int(U.INSERT), "O-1", order)

        def insert_trade():
            return sim.fire_table_event(session_id, int(T.TRADES), int(U.INSERT), "T-1", trade)

        def refresh(table):
            return lambda: sim.set_table_status(session_id, int(table), int(TableStatus.REFRESHED))

        # While the worker is held, the library keeps the subscriptions given back.
        with worker_held(sim, session, session_id):
            # Given back at the trades, still held at the orders: each table's own.
            trades.unsubscribe_update(U.INSERT, listener)
            trades.unsubscribe_status(listener)
            assert sim.table_subscribers(session_id, int(T.TRADES), "table_update:INSERT") == 1
            assert heard_after(insert_trade) == []
            assert heard_after(refresh(T.TRADES)) == []
            assert heard_after(insert_order) == [("added", "O-1")]
            orders.unsubscribe_update(U.INSERT, listener)
            assert sim.table_subscribers(session_id, int(T.ORDERS), "table_update:INSERT") == 1
            assert heard_after(insert_order) == []
            assert heard_after(refresh(T.ORDERS)) == [("status", TableStatus.REFRESHED)]
            orders.subscribe_update(U.INSERT, listener)  # heard again, through the old one still
            assert heard_after(insert_order) == [("added", "O-1")]
            assert heard_after(insert_trade) == []
        drain_worker(sim, session_id, manager)
        assert [sim.table_subscribers(session_id, int(table), "table_update:INSERT")
                for table in (T.ORDERS, T.TRADES)] == [1, 0]
        assert sim.table_subscribers(session_id, int(T.TRADES), "table_status") == 0
        orders.unsubscribe_update(U.INSERT, listener)
        orders.unsubscribe_status(listener)

    @pytest.mark.parametrize("raising", [False, True], ids=["missing", "raising"])
    @pytest.mark.parametrize("method, update_type, name, line", [
        ("on_added", U.INSERT, "onAdded", 555),
        ("on_changed", U.UPDATE, "onChanged", 571),
        ("on_deleted", U.DELETE, "onDeleted", 586),
        ("on_status_changed", None, "onStatusChanged", 601),
    ])
    def test_reports_of_a_missing_or_raising_override(self, sim, loaded, subs, capfd, method,
                                                      update_type, name, line, raising):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-1"})

        def boom(self, *args):
            raise ValueError("boom in the override")

        body = {m: (lambda self, *args: None) for m in
                ("on_added", "on_changed", "on_deleted", "on_status_changed")}
        del body[method]
        if raising:
            body[method] = boom
        listener = type("Partial", (dedezi.AK7RTableListener,), body)()
        subs.add(T.ORDERS, listener, *([update_type] if update_type is not None else []))
        capfd.readouterr()
        for _ in range(2):
            if update_type is None:
                sim.set_table_status(session_id, int(T.ORDERS), int(TableStatus.REFRESHED))
            else:
                sim.fire_table_event(session_id, int(T.ORDERS), int(update_type), "O-1", key)
        reports = callback_reports(capfd.readouterr().err)
        if raising:
            assert [(n, f, ln) for _, n, f, ln in reports] == [(name, FILE, line + 4)] * 2
            assert all("ValueError: boom in the override" in text for text, *_ in reports)
        else:
            assert reports == [("Exception: Pure virtual method called: "
                                f"'AK7RTableListener::{method}'", name, FILE, line)] * 2

    def test_a_row_id_that_is_not_utf8_is_reported_as_the_override_call_failing(
            self, sim, loaded, subs, capfd):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-1"})
        listener = Recording()
        subs.add(T.ORDERS, listener, U.INSERT)
        capfd.readouterr()
        sim.fire_table_event(session_id, int(T.ORDERS), int(U.INSERT), b"\xff\xfe", key)
        ((text, name, file, line),) = callback_reports(capfd.readouterr().err)
        assert "UnicodeDecodeError" in text
        assert (name, file, line) == ("onAdded", FILE, 559)
        assert listener.calls.items == []

    def test_a_row_that_cannot_be_made_is_reported_and_the_next_listener_still_hears(
            self, sim, loaded, capfd):
        testcapi = pytest.importorskip("_testcapi")
        _, session_id, manager = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-1"})
        orders = manager.get_table(T.ORDERS)

        class Starving(Recording):
            def on_changed(self, row_id, row):
                testcapi.set_nomemory(0, 1)  # the next allocation fails: the next row object

        listeners = [Starving(), Recording(), Recording()]
        for listener in listeners:  # delivered in this order
            orders.subscribe_update(U.UPDATE, listener)
        assert sim.wait_table_subscribers(session_id, int(T.ORDERS), "table_update:UPDATE", 3)
        capfd.readouterr()
        try:
            assert sim.fire_table_event(session_id, int(T.ORDERS), int(U.UPDATE), "O-1", key)
        finally:
            testcapi.remove_mem_hooks()
            for listener in listeners:
                orders.unsubscribe_update(U.UPDATE, listener)
        err = capfd.readouterr().err
        ((text, name, file, line),) = callback_reports(err)
        assert (name, file, line) == ("onChanged", FILE, 575)
        assert text.splitlines()[-1] == "MemoryError"
        assert "delivery failed" not in err
        assert [[call[:2] for call in listener.calls.items] for listener in listeners[1:]] == [
            [], [("changed", "O-1")]]

    def test_a_script_sees_its_tables_load_and_close(self, sim):
        session, _ = new_session(sim)
        sim.set_table_load(300)
        listener, seen = Recording(), []

        class Loading(dedezi.AK7RTableManagerListener):
            def on_status_changed(self, status, manager):
                if status == ManagerStatus.TABLES_LOADING:
                    offers = manager.get_table(T.OFFERS)
                    seen.append((offers, offers.status))
                    offers.subscribe_status(listener)

        session.use_table_manager(YES, Loading())
        log_in(session)
        assert listener.calls.wait_for(1) == [("status", TableStatus.REFRESHED)]
        ((offers, status),) = seen
        assert status == TableStatus.REFRESHING
        session.logout()
        assert listener.calls.wait_for(2)[1:] == [("status", TableStatus.INITIAL)]
        assert session.table_manager is None
        assert offers.status == TableStatus.INITIAL and offers.size > 0
        offers.unsubscribe_status(listener)


class TestReferences:
    def test_subscribing_and_unsubscribing_give_back_every_reference(self, sim, loaded):
        _, session_id, manager = loaded
        table_id = sim.table_id(session_id, int(T.ORDERS))
        held = sim.refcount(table_id)
        listener = Recording()
        refs = sys.getrefcount(listener)
        orders = manager.get_table(T.ORDERS)
        orders.subscribe_update(U.INSERT, listener)
        orders.subscribe_status(listener)
        assert sys.getrefcount(listener) == refs + 2
        assert sim.wait_table_subscribers(session_id, int(T.ORDERS), "table_status", 1)
        orders.unsubscribe_update(U.INSERT, listener)
        orders.unsubscribe_status(listener)
        orders.unsubscribe_status(listener)  # unmatched: gives nothing back
        assert sys.getrefcount(listener) == refs
        drain_worker(sim, session_id, manager)
        assert sim.table_subscribers(session_id, int(T.ORDERS), "table_update:INSERT") == 0
        del orders
        gc.collect()
        assert sim.refcount(table_id) == held
        gone = weakref.ref(listener)
        del listener
        gc.collect()
        assert gone() is None

    def test_a_table_dropped_right_after_subscribing_is_let_go_by_the_job(self, sim, loaded,
                                                                        subs):
        _, session_id, manager = loaded
        table_id = sim.table_id(session_id, int(T.TRADES))
        held = sim.refcount(table_id)
        listener = Recording()
        manager.get_table(T.TRADES).subscribe_status(listener)
        assert sim.wait_table_subscribers(session_id, int(T.TRADES), "table_status", 1)
        drain_worker(sim, session_id, manager)
        assert sim.refcount(table_id) == held
        sim.set_table_status(session_id, int(T.TRADES), int(TableStatus.REFRESHED))
        assert listener.calls.wait_for(1) == [("status", TableStatus.REFRESHED)]
        subs.made.append((manager.get_table(T.TRADES), None, listener))

    def test_rows_handed_to_overrides_are_released_once_python_drops_them(self, sim, loaded,
                                                                          subs):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-kept"})
        sim.flush()  # the batch that brought the row has let go of it
        row_id = sim.row_id(session_id, int(T.ORDERS), key)
        before, released = sim.refcount(row_id), sim.release_calls("IK7ROrderTableRow")
        listener = Recording()
        subs.add(T.ORDERS, listener, U.UPDATE)
        for amount in (1000, 2000):
            sim.update_row(session_id, int(T.ORDERS), key, {"Amount": amount})
        assert len(listener.calls.wait_for(2)) == 2
        assert sim.refcount(row_id) == before + 2
        listener.calls = None
        gc.collect()
        assert sim.refcount(row_id) == before
        assert sim.release_calls("IK7ROrderTableRow") == released + 2

    @pytest.mark.parametrize("treatment", ["drops", "keeps", "raises with", "keeps its frame"])
    def test_a_row_object_holds_the_row_exactly_while_python_holds_it(self, sim, loaded, subs,
                                                                      capfd, treatment):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-lent"})
        sim.flush()
        row_id = sim.row_id(session_id, int(T.ORDERS), key)
        before, kept, seen = sim.refcount(row_id), [], Recorder()

        class Treating(Recording):
            def on_changed(self, row_id, row):
                seen.add(row.amount)
                if treatment == "keeps":
                    kept.append(row)
                elif treatment == "raises with":
                    raise ValueError(row)
                elif treatment == "keeps its frame":
                    kept.append(sys._getframe())

        subs.add(T.ORDERS, Treating(), U.UPDATE)
        sim.update_row(session_id, int(T.ORDERS), key, {"Amount": 3000})
        assert seen.wait_for(1) == [3000]
        held = before + 1 if kept else before
        assert settled_refcount(sim, row_id) == held
        if treatment == "keeps":
            sim.update_row(session_id, int(T.ORDERS), key, {"Amount": 4000}, wait=True)
            assert kept[0].amount == 4000
        kept.clear()
        assert sim.refcount(row_id) == before
        assert ("ValueError" in capfd.readouterr().err) == (treatment == "raises with")

    def test_a_kept_row_outlives_its_deletion_from_the_table(self, sim, loaded, subs):
        _, session_id, _ = loaded
        key = sim.insert_row(session_id, int(T.ORDERS), {"OrderID": "O-gone", "Amount": 7000})
        sim.flush()
        row_id = sim.row_id(session_id, int(T.ORDERS), key)
        listener = Recording()
        subs.add(T.ORDERS, listener, U.DELETE)
        sim.delete_row(session_id, int(T.ORDERS), key)
        [(_, _, row)] = listener.calls.wait_for(1)
        sim.flush()
        assert sim.wait_table_subscribers(session_id, int(T.ORDERS), "table_update:DELETE", 1)
        assert (row.order_id, row.amount) == ("O-gone", 7000)
        assert row_id in sim.objects("IK7ROrderTableRow")
        listener.calls, row = None, None
        gc.collect()
        assert row_id not in sim.objects("IK7ROrderTableRow")

    def test_jobs_a_stopped_worker_drops_give_back_their_references(self):
        code = LOGGED_IN_CHILD + textwrap.dedent("""
            import gc
            entered, release = threading.Event(), threading.Event()

            class Blocking(dedezi.AK7RTableManagerListener):
                def on_status_changed(self, status, manager):
                    entered.set()
                    release.wait(10)

            session.use_table_manager(dedezi.K7RTableManagerMode.YES, Blocking())
            sim.set_manager_status(sid, 1, wait=False)
            assert entered.wait(10)
            table_id = sim.table_id(sid, 2)
            held = sim.refcount(table_id)
            listener = dedezi.AK7RTableListener()
            orders = manager.get_table(dedezi.K7RTableType.ORDERS)
            orders.subscribe_status(listener)
            orders.subscribe_update(dedezi.K7RTableUpdateType.INSERT, listener)
            # The worker is stopped while both jobs wait behind the blocked report.
            stopping = threading.Thread(target=dedezi.K7RTransport.finalize_wrapper)
            stopping.start()
            release.set()
            stopping.join(10)
            del orders
            gc.collect()
            print(sim.table_subscribers(sid, 2, "table_status"),
                  sim.table_subscribers(sid, 2, "table_update:INSERT"),
                  sim.refcount(table_id) - held)
            # Posted after the stop: it never runs.
            manager.get_table(dedezi.K7RTableType.ORDERS).subscribe_status(listener)
            sim.flush()
            print(sim.table_subscribers(sid, 2, "table_status"))
            session.logout()
        """)
        returncode, out, err = run_python(code, timeout=30)
        assert returncode == 0, err
        assert out.split("\n")[:2] == ["0 0 0", "0"]


    def test_a_subscription_after_finalize_holds_nothing(self):
        # The stopped worker refuses its job: the table and the table's rows go back with it.
        code = LOGGED_IN_CHILD + textwrap.dedent("""
            import gc
            sim.insert_row(sid, 2, {"OrderID": "O-1"})
            table_id = sim.table_id(sid, 2)
            listener = dedezi.AK7RTableListener()
            dedezi.K7RTransport.finalize()
            held = sim.refcount(table_id)
            orders = manager.get_table(dedezi.K7RTableType.ORDERS)
            orders.subscribe_update(dedezi.K7RTableUpdateType.INSERT, listener)
            orders.subscribe_status(listener)
            del orders
            gc.collect()
            print(sim.refcount(table_id) - held, sim.table_subscribers(sid, 2, "table_status"))
            del listener, manager
            session.logout()
            del session
            gc.collect()
            print(sim.live("IK7RTable"), sim.live("IK7ROrderTableRow"))
        """)
        returncode, out, err = run_python(code, timeout=30)
        assert returncode == 0, err
        assert out.splitlines() == ["0 0", "0 0"]


class TestEachRowListener:
    def test_every_row_is_visited_on_the_calling_thread_before_the_call_returns(self, sim,
                                                                               loaded):
        _, session_id, manager = loaded
        sim.insert_row(session_id, int(T.MESSAGES), {"MsgID": "plain"}, kind="plain")
        visits = []

        class Visitor(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                visits.append((row_id, type(row), threading.get_native_id()))

        visitor = Visitor()
        for table_type in (T.OFFERS, T.MESSAGES):
            manager.get_table(table_type).for_each_row(visitor)
        offer_keys = sim.table_keys(session_id, int(T.OFFERS))
        message_keys = sim.table_keys(session_id, int(T.MESSAGES))
        assert [row_id for row_id, _, _ in visits] == offer_keys + message_keys
        assert {thread for _, _, thread in visits} == {threading.get_native_id()}
        assert [cls for _, cls, _ in visits[len(offer_keys):]] == [
            dedezi.K7RMessageTableRow, dedezi.K7RMessageRow]

    def test_a_raising_override_visits_every_row_and_the_last_error_is_raised(self, sim,
                                                                             loaded, capfd):
        _, _, manager = loaded
        offers = manager.get_table(T.OFFERS)
        visited, raised = [], []

        class Failing(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                visited.append(row_id)
                if len(visited) in (2, 4):
                    raised.append(KeyError(row_id))
                    raise raised[-1]

        capfd.readouterr()
        with pytest.raises(KeyError) as caught:
            offers.for_each_row(Failing())
        assert caught.value is raised[-1]
        assert len(visited) == offers.size
        reports = callback_reports(capfd.readouterr().err)
        assert [(name, file, line) for _, name, file, line in reports] == [
            ("onEachRow", FILE, 716)] * 2
        assert [text.splitlines()[-1] for text, *_ in reports] == [
            f"KeyError: '{visited[1]}'", f"KeyError: '{visited[3]}'"]

    def test_a_missing_override_reports_each_row_and_raises_the_message(self, loaded, capfd):
        _, _, manager = loaded
        messages = manager.get_table(T.MESSAGES)
        capfd.readouterr()
        with pytest.raises(Exception, match="^Pure virtual method called: "
                                            "'AK7REachRowListenerImpl::on_each_row'$") as caught:
            messages.for_each_row(type("Bare", (dedezi.AK7REachRowListener,), {})())
        assert type(caught.value) is Exception
        assert callback_reports(capfd.readouterr().err) == [
            ("Exception: Pure virtual method called: 'AK7REachRowListenerImpl::on_each_row'",
             "onEachRow", FILE, 712)] * messages.size

    def test_walks_nest_and_keep_their_errors_apart(self, loaded, capfd):
        _, _, manager = loaded
        offers, messages = manager.get_table(T.OFFERS), manager.get_table(T.MESSAGES)
        caught = []

        class Inner(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                raise LookupError("inner")

        class Outer(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                try:
                    messages.for_each_row(Inner())
                except LookupError as error:
                    caught.append(error)

        offers.for_each_row(Outer())
        assert len(caught) == offers.size
        assert len(callback_reports(capfd.readouterr().err)) == offers.size * messages.size

    def test_a_row_that_cannot_be_made_is_reported_and_raised_after_the_walk(self, loaded,
                                                                            capfd):
        testcapi = pytest.importorskip("_testcapi")
        _, _, manager = loaded
        offers = manager.get_table(T.OFFERS)
        visited = []

        class Starving(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                visited.append(row_id)
                if len(visited) == 1:
                    testcapi.set_nomemory(0, 1)  # the next row object cannot be made

        capfd.readouterr()
        try:
            with pytest.raises(MemoryError):
                offers.for_each_row(Starving())
        finally:
            testcapi.remove_mem_hooks()
        assert len(visited) == offers.size - 1
        ((text, name, file, line),) = callback_reports(capfd.readouterr().err)
        assert (name, file, line, text.splitlines()[-1]) == ("onEachRow", FILE, 716, "MemoryError")

    def test_a_null_row_reaches_no_override(self, sim, loaded, capfd):
        _, _, manager = loaded
        called = []
        visitor = type("Visitor", (dedezi.AK7REachRowListener,),
                       {"on_each_row": lambda self, row_id, row: called.append(row_id)})()
        sim.fault("IK7RTable::forEachRow", "null")
        capfd.readouterr()
        assert manager.get_table(T.OFFERS).for_each_row(visitor) is None
        assert called == [] and capfd.readouterr().err == ""

    def test_rows_go_back_after_the_walk(self, sim, loaded):
        _, session_id, manager = loaded
        row_id = sim.row_id(session_id, int(T.OFFERS), "1")
        before = sim.refcount(row_id)
        kept = []

        class Keeping(dedezi.AK7REachRowListener):
            def on_each_row(self, row_id, row):
                kept.append(row)

        manager.get_table(T.OFFERS).for_each_row(Keeping())
        assert sim.refcount(row_id) == before + 1
        kept.clear()
        assert sim.refcount(row_id) == before


@pytest.mark.parametrize("call", [
    lambda table: table.subscribe_update(U.INSERT, None),
    lambda table: table.unsubscribe_update(U.INSERT, None),
    lambda table: table.subscribe_status(None),
    lambda table: table.unsubscribe_status(None),
    lambda table: table.for_each_row(None),
], ids=["subscribe_update", "unsubscribe_update", "subscribe_status", "unsubscribe_status",
        "for_each_row"])
def test_none_listener_is_refused_before_the_library(sim, loaded, call):
    _, session_id, manager = loaded
    orders = manager.get_table(T.ORDERS)
    sim.clear_journal()
    with pytest.raises(ValueError, match="^The listener must not be None$"):
        call(orders)
    drain_worker(sim, session_id, manager)
    # Only the fence's own subscription reached the library.
    assert [(op, args[0]) for op, args in sim.journal() if op.startswith("IK7RTable::")] == [
        ("IK7RTable::subscribeStatus", int(T.MESSAGES)),
        ("IK7RTable::unsubscribeStatus", int(T.MESSAGES))]


def test_a_listener_of_the_wrong_class_is_an_argument_error(loaded):
    _, _, manager = loaded
    with pytest.raises(TypeError):
        manager.get_table(T.ORDERS).subscribe_status(dedezi.AK7REachRowListener())


def test_unsubscribing_while_the_callback_runs_waits_for_it():
    code = LOGGED_IN_CHILD + textwrap.dedent("""
        orders = manager.get_table(dedezi.K7RTableType.ORDERS)
        entered, release = threading.Event(), threading.Event()
        order = []

        class Slow(dedezi.AK7RTableListener):
            def on_status_changed(self, status):
                order.append(int(status))
                if len(order) == 1:
                    entered.set()
                    release.wait(10)
                    order.append("callback ends")

        listener = Slow()
        orders.subscribe_status(listener)
        assert sim.wait_table_subscribers(sid, 2, "table_status", 1)
        sim.set_table_status(sid, 2, 1, wait=False)
        assert entered.wait(10)
        threading.Timer(0.2, release.set).start()
        orders.unsubscribe_status(listener)
        order.append("unsubscribed")
        sim.set_table_status(sid, 2, 2)  # before or after the job: the override hears nothing
        assert sim.wait_table_subscribers(sid, 2, "table_status", 0)
        sim.set_table_status(sid, 2, 3)
        print(order)
        session.logout()
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 0, err
    assert out.strip() == "[1, 'callback ends', 'unsubscribed']"


@pytest.mark.parametrize("cls, method, args", [
    (dedezi.AK7RTableListener, "on_added", ("id", None)),
    (dedezi.AK7RTableListener, "on_status_changed", (TableStatus.REFRESHED,)),
    (dedezi.AK7REachRowListener, "on_each_row", ("id", None)),
])
def test_the_base_methods_are_pure_virtual(cls, method, args):
    with pytest.raises(RuntimeError, match="Pure virtual function called"):
        getattr(cls(), method)(*args)


DOCS = [
    ("AK7RTableListener", "The abstract class provides method signatures to process "
     "notifications about trading tables events: adding/updating/deleting of rows, and changes in "
     "a table status."),
    ("AK7RTableListener.on_added", "Processes a notification about the row addition to a table."),
    ("AK7RTableListener.on_changed", "Processes a notification about the row change in a table."),
    ("AK7RTableListener.on_deleted",
     "Processes a notification about the row deletion from a table."),
    ("AK7RTableListener.on_status_changed", "Processes notifications about a table status changes."),
    ("AK7REachRowListener", "The abstract class provides the method signature to process "
     "notifications about iteration through rows of a table."),
    ("AK7REachRowListener.on_each_row", "Iterates through the rows of the table."),
    ("K7RTable.subscribe_update", "Subscribes table listener to table updates."),
    ("K7RTable.unsubscribe_update", "Unsubscribes table listener from table updates."),
    ("K7RTable.subscribe_status", "Subscribes table listener to changes in table status."),
    ("K7RTable.unsubscribe_status", "Unsubscribes table listener from changes in table status."),
    ("K7RTable.for_each_row", "Iterates through the rows of the table."),
]


@pytest.mark.parametrize("path, doc", DOCS)
def test_docstrings(path, doc):
    cls, member = (path.split(".") + [None])[:2]
    obj = getattr(dedezi, cls) if member is None else vars(getattr(dedezi, cls))[member]
    assert obj.__doc__.lstrip("\n") == doc
