"""tests/python/test_event_queue.py: K7RAllEventQueue, K7RAllEventQueueItem and K7RUpdateEventQueue:
the queue accessors of K7RTable and K7RTableManager, taking with and without waiting, the empty and
timed-out errors, the breaker of a breakable wait, waits that let the interpreter lock go and come
back on delete_all_events, finalize and logout, the items and rows taken out, and the handles that
give each queue back to its owner."""

import gc
import textwrap
import threading

import pytest

import dedezi
from helpers import LOGGED_IN_CHILD, journal_calls, run_python, settled_refcount

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
Process = dedezi.K7RUpdatesProcessStatus
ORDERS = int(T.ORDERS)

# The three ways to borrow a queue that hears the orders table's INSERT events: how, its class,
# its kind in the stand-in, the table it belongs to, and the events it holds.
KINDS = {
    "table all-events": (lambda manager: manager.get_table(T.ORDERS).all_event_queue(False),
                         dedezi.K7RAllEventQueue, "IK7RAllEventQueue", T.ORDERS,
                         U.UPDATE_UNKNOWN),
    "table update": (lambda manager: manager.get_table(T.ORDERS).get_update_event_queue(U.INSERT),
                     dedezi.K7RUpdateEventQueue, "IK7RUpdateEventQueue", T.ORDERS, U.INSERT),
    "manager all-events": (lambda manager: manager.tables_update_event_queue,
                           dedezi.K7RAllEventQueue, "IK7RAllEventQueue", T.TABLE_UNKNOWN,
                           U.UPDATE_UNKNOWN),
}


class Lent:
    """A queue borrowed through the module, and its id in the simulated world."""

    def __init__(self, sim, session_id, manager, kind):
        borrow, self.cls, self.kind, self.belongs, self.events = KINDS[kind]
        self.sim, self.session_id = sim, session_id
        self.queue = borrow(manager)
        self.id = sim.objects(self.kind)[-1]

    def put(self, key=None, **options):
        """Puts the order row with that key (or no row) into the queue, as an INSERT event."""
        assert self.sim.queue_put(self.id, session_id=self.session_id, table_type=ORDERS, key=key,
                                  event=int(U.INSERT), **options)


def order_id(taken):
    """The order id of a row taken from any of the queues."""
    row = taken.row if isinstance(taken, dedezi.K7RAllEventQueueItem) else taken
    return row.order_id


@pytest.fixture(params=list(KINDS))
def lent(request, sim, loaded):
    _, session_id, manager = loaded
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-1"})
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-2"})
    yield Lent(sim, session_id, manager, request.param)


class TestQueues:
    def test_class_table_and_events(self, lent):
        assert type(lent.queue) is lent.cls
        assert lent.queue.belong_table_type == lent.belongs
        assert lent.queue.events_type == lent.events
        assert type(lent.queue.events_type) is U

    def test_try_get_raises_on_an_empty_queue_and_takes_what_is_there(self, lent):
        with pytest.raises(ValueError, match="^Event queue is empty$"):
            lent.queue.try_get()
        assert lent.queue.is_empty()
        lent.put("O-1")
        lent.put("O-2")
        assert not lent.queue.is_empty()
        assert [order_id(lent.queue.try_get()) for _ in range(2)] == ["O-1", "O-2"]
        assert lent.queue.is_empty()

    def test_a_null_element_is_none(self, lent):
        lent.put(null_item=True)
        lent.put(null_item=True)
        assert lent.queue.try_get() is None
        assert lent.queue.timed_wait_get(5000) is None

    def test_timed_wait_get_raises_when_the_time_runs_out(self, lent):
        with pytest.raises(TimeoutError, match="^time is out$"):
            lent.queue.timed_wait_get(20)
        lent.put("O-2")
        assert order_id(lent.queue.timed_wait_get(10_000)) == "O-2"

    @pytest.mark.parametrize("milliseconds", [-1, 2 ** 32])
    def test_timed_wait_get_refuses_a_count_out_of_range(self, lent, milliseconds):
        with pytest.raises(OverflowError):
            lent.queue.timed_wait_get(milliseconds)

    def test_delete_all_events_empties_the_queue(self, lent):
        lent.put("O-1")
        lent.queue.delete_all_events()
        assert lent.queue.is_empty()


class TestBreakableWait:
    def test_a_breaker_saying_stop_on_an_empty_queue_is_called_once(self, lent):
        calls = []
        assert lent.queue.breakable_wait_get(lambda: calls.append(1)) is None
        assert calls == [1]

    def test_an_element_already_there_is_taken_without_calling_the_breaker(self, lent):
        lent.put("O-1")
        assert order_id(lent.queue.breakable_wait_get(lambda: pytest.fail("called"))) == "O-1"

    def test_the_wait_polls_until_an_element_arrives(self, lent):
        calls = []

        def breaker():
            calls.append(1)
            if len(calls) == 3:
                lent.put("O-2")  # waits for the dispatcher with the lock let go
            return len(calls) < 1000  # a bound, should the element never arrive

        assert order_id(lent.queue.breakable_wait_get(breaker)) == "O-2"
        assert len(calls) == 3

    def test_what_the_breaker_raises_is_raised(self, lent):
        class Refused(Exception):
            pass

        def breaker():
            raise Refused("stop")

        with pytest.raises(Refused, match="stop"):
            lent.queue.breakable_wait_get(breaker)
        with pytest.raises(ZeroDivisionError):
            lent.queue.breakable_wait_get(lambda: 1 / 0)

    def test_an_empty_breaker_raises_only_when_it_is_called(self, lent):
        with pytest.raises(RuntimeError, match="^call to empty boost::function$"):
            lent.queue.breakable_wait_get(None)
        lent.put("O-1")
        assert order_id(lent.queue.breakable_wait_get(None)) == "O-1"

    def test_a_breaker_that_cannot_be_called_is_an_argument_error(self, lent):
        with pytest.raises(TypeError):
            lent.queue.breakable_wait_get(42)


class TestItems:
    def test_a_table_item_carries_its_row_event_and_process_status(self, sim, loaded):
        _, session_id, manager = loaded
        queue = manager.get_table(T.ORDERS).all_event_queue(False)
        sim.insert_row(session_id, ORDERS, {"OrderID": "O-3"}, kind="plain")
        item = queue.try_get()
        assert type(item) is dedezi.K7RAllEventQueueItem
        assert type(item.row) is dedezi.K7ROrderRow and item.row.order_id == "O-3"
        assert (item.event_type, item.process_status) == (U.INSERT, Process.BEGIN_TABLES_UPDATE)
        assert type(item.process_status) is Process

    def test_the_manager_queue_marks_each_batch_with_rowless_items(self, sim, loaded):
        _, session_id, manager = loaded
        queue = manager.tables_update_event_queue
        sim.insert_rows(session_id, ORDERS, [{"OrderID": "O-4"}, {"OrderID": "O-5"}])
        sim.delete_row(session_id, ORDERS, "O-4")
        taken = []
        while not queue.is_empty():
            item = queue.try_get()
            taken.append((item.row and item.row.order_id, item.event_type, item.process_status))
        begin = (None, U.UPDATE_UNKNOWN, Process.BEGIN_TABLES_UPDATE)
        end = (None, U.UPDATE_UNKNOWN, Process.END_TABLES_UPDATE)
        assert taken == [begin, ("O-4", U.INSERT, Process.BEGIN_TABLES_UPDATE),
                         ("O-5", U.INSERT, Process.BEGIN_TABLES_UPDATE), end,
                         begin, ("O-4", U.DELETE, Process.BEGIN_TABLES_UPDATE), end]

    @pytest.mark.parametrize("kind, cls", [("table", dedezi.K7ROfferTableRow),
                                           ("plain", dedezi.K7ROfferRow)])
    def test_an_offers_update_queue_gives_offer_rows_of_its_event_only(self, sim, loaded, kind,
                                                                      cls):
        _, session_id, manager = loaded
        queue = manager.get_table(T.OFFERS).get_update_event_queue(U.INSERT, False)
        sim.update_row(session_id, int(T.OFFERS), "1", {"Bid": 1.0})
        sim.insert_rows(session_id, int(T.OFFERS), [{"OfferID": "98"}, {"OfferID": "99"}],
                        kind=kind)
        assert [(type(row), row.offer_id) for row in (queue.try_get(),
                                                      queue.timed_wait_get(5000))] == [
            (cls, "98"), (cls, "99")]
        assert queue.is_empty()

    def test_an_item_carries_any_event_type_and_process_status(self, sim, loaded):
        _, session_id, manager = loaded
        queue = manager.get_table(T.ORDERS).all_event_queue(False)
        (queue_id,) = sim.objects("IK7RAllEventQueue")
        sim.queue_put(queue_id, event=int(U.DELETE), process_status=int(Process.END_TABLES_UPDATE))
        item = queue.try_get()
        assert (item.row, item.event_type, item.process_status) == (
            None, U.DELETE, Process.END_TABLES_UPDATE)


class TestAccessors:
    @pytest.mark.parametrize("call, expected", [
        (lambda table: table.get_update_event_queue(U.DELETE), [int(U.DELETE), False]),
        (lambda table: table.get_update_event_queue(U.DELETE, False), [int(U.DELETE), False]),
        (lambda table: table.get_update_event_queue(U.UPDATE, True), [int(U.UPDATE), True]),
    ])
    def test_update_queue_flag_reaches_the_library_false_by_default(self, sim, loaded, call,
                                                                     expected):
        _, _, manager = loaded
        table = manager.get_table(T.TRADES)
        sim.clear_journal()
        queue = call(table)
        assert queue.events_type == U(expected[0])
        assert journal_calls(sim, "getUpdateEventQueue") == [(int(T.TRADES), *expected)]
        assert sim.queue_info(sim.objects("IK7RUpdateEventQueue")[-1])["flag"] is expected[1]

    @pytest.mark.parametrize("flag", [False, True])
    def test_all_event_queue_flag_reaches_the_library(self, sim, loaded, flag):
        _, _, manager = loaded
        table = manager.get_table(T.TRADES)
        sim.clear_journal()
        table.all_event_queue(flag)
        assert journal_calls(sim, "getAllEventQueue") == [(int(T.TRADES), flag)]

    @pytest.mark.parametrize("op, call", [
        ("IK7RTable::getUpdateEventQueue",
         lambda manager: manager.get_table(T.ORDERS).get_update_event_queue(U.INSERT)),
        ("IK7RTable::getAllEventQueue",
         lambda manager: manager.get_table(T.ORDERS).all_event_queue(True)),
        ("IK7RTableManager::getTablesUpdateEventQueue",
         lambda manager: manager.tables_update_event_queue),
    ])
    def test_a_null_queue_is_none(self, sim, loaded, op, call):
        _, _, manager = loaded
        sim.fault(op, "null")
        assert call(manager) is None

    def test_a_queue_outlives_its_table_wrapper_and_goes_back_before_it(self, sim, loaded):
        _, session_id, manager = loaded
        table_id = sim.table_id(session_id, ORDERS)
        held = sim.refcount(table_id)
        loans = sim.queue_loans("IK7RAllEventQueue")
        table = manager.get_table(T.ORDERS)
        queue = table.all_event_queue(False)
        del table
        gc.collect()
        assert sim.refcount(table_id) == held + 1  # the wrapper lives on in the queue's handle
        sim.insert_row(session_id, ORDERS, {"OrderID": "O-6"})
        assert queue.try_get().row.order_id == "O-6"
        sim.clear_journal()
        del queue
        gc.collect()
        assert [op for op, _ in sim.journal() if "Queue" in op] == [
            "IK7RTable::returnAllEventQueue"]
        assert sim.refcount(table_id) == held
        assert sim.queue_loans("IK7RAllEventQueue") == (loans[0] + 1, loans[1] + 1)

    def test_a_manager_queue_keeps_its_manager(self, sim, loaded):
        _, session_id, manager = loaded
        manager_id = sim.manager_id(session_id)
        held = settled_refcount(sim, manager_id)
        queue = manager.tables_update_event_queue
        assert sim.refcount(manager_id) == held + 1
        del queue
        gc.collect()
        assert sim.refcount(manager_id) == held
        assert journal_calls(sim, "returnTablesUpdateEventQueue") == [(True,)]


def test_every_queue_item_and_row_is_given_back(sim, loaded):
    _, session_id, manager = loaded
    kinds = ("IK7RAllEventQueue", "IK7RUpdateEventQueue", "IK7RAllEventQueueItem")
    live = {kind: sim.live(kind) for kind in kinds}
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-1"})
    row_releases = sim.release_calls("IK7ROrderTableRow")
    lent = [Lent(sim, session_id, manager, kind) for kind in KINDS]
    taken = []
    for each in lent:
        with pytest.raises(TimeoutError):
            each.queue.timed_wait_get(1)
        each.put("O-1")
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-7"})
    for each in lent:
        taken.append(each.queue.try_get())
        taken.append(each.queue.timed_wait_get(5000))
    assert sim.live("IK7RAllEventQueueItem") > live["IK7RAllEventQueueItem"]
    del lent, each, taken
    gc.collect()
    assert {kind: sim.live(kind) for kind in kinds} == live
    assert sim.queue_loans("IK7RAllEventQueue") == (2, 2)
    assert sim.queue_loans("IK7RUpdateEventQueue") == (1, 1)
    # The update queue handed over two rows; the item queues' rows went with their items.
    assert sim.release_calls("IK7ROrderTableRow") == row_releases + 2


class TestWaits:
    """Each in an interpreter of its own: a wait that never ends must not stop the suite."""

    def run(self, code, timeout=30):
        returncode, out, err = run_python(LOGGED_IN_CHILD + textwrap.dedent(code), timeout=timeout)
        assert returncode == 0, err
        return out.strip().splitlines()

    def test_others_run_while_a_thread_waits_and_a_queue_listener_is_called_meanwhile(self):
        out = self.run("""
            queue = manager.get_table(dedezi.K7RTableType.ORDERS).get_update_event_queue(
                dedezi.K7RTableUpdateType.INSERT)
            told = []

            class Told(dedezi.AK7RUpdateEventQueueListener):
                def on_put_in_queue(self, row):
                    told.append(row.order_id)

            listener = Told()
            queue.subscribe_on_put_in_queue(listener)
            taken, waiting = [], threading.Thread(target=lambda: taken.append(queue.wait_get()))
            waiting.start()
            counted = sum(1 for _ in range(100_000))  # this thread runs on meanwhile
            sim.insert_row(sid, 2, {"OrderID": "O-8"})
            waiting.join(10)
            queue.unsubscribe_on_put_in_queue(listener)
            print(counted, told, [row.order_id for row in taken])
            session.logout()
        """)
        assert out == ["100000 ['O-8'] ['O-8']"]

    @pytest.mark.parametrize("wake", ["queue.delete_all_events()",
                                      "dedezi.K7RTransport.finalize()", "session.logout()"])
    def test_waiters_come_back_with_none(self, wake):
        out = self.run(f"""
            import gc
            queue = manager.get_table(dedezi.K7RTableType.TRADES).all_event_queue(False)
            (queue_id,) = sim.objects("IK7RAllEventQueue")
            taken = []
            waiters = [threading.Thread(target=lambda: taken.append(queue.wait_get())),
                       threading.Thread(target=lambda: taken.append(queue.timed_wait_get(60_000)))]
            for waiter in waiters:
                waiter.start()
            # Both are waiting once the stand-in counts them: a wake-up from then on reaches them.
            pause = threading.Event()
            for _ in range(10_000):
                if sim.queue_info(queue_id)["waiters"] == 2:
                    break
                pause.wait(0.001)
            {wake}
            for waiter in waiters:
                waiter.join(10)
            print(taken, any(waiter.is_alive() for waiter in waiters))
            del queue
            gc.collect()
            print(sim.live("IK7RAllEventQueue"), sim.queue_loans("IK7RAllEventQueue"))
        """)
        assert out == ["[None, None] False", "0 (1, 1)"]

    def test_after_a_logout_waits_take_what_is_left_then_come_back_at_once(self):
        # Nothing reaches the queues of a session that logged out: a wait there would never end.
        out = self.run("""
            orders = manager.get_table(dedezi.K7RTableType.ORDERS)
            queue = orders.get_update_event_queue(dedezi.K7RTableUpdateType.INSERT)
            sim.insert_row(sid, 2, {"OrderID": "O-5"})
            session.logout()
            while session.session_status != dedezi.AK7RSessionStatus.K7RSessionStatus.DISCONNECTED:
                threading.Event().wait(0.01)
            later = orders.all_event_queue(False)
            print(queue.wait_get().order_id, queue.wait_get(), queue.timed_wait_get(60_000),
                  later.wait_get(), later.timed_wait_get(60_000))
        """)
        assert out == ["O-5 None None None None"]

    def test_ctrl_c_ends_a_breakable_wait_whose_breaker_runs_no_python_code(self):
        out = self.run("""
            import functools, itertools, os, signal
            queue = manager.get_table(dedezi.K7RTableType.ORDERS).get_update_event_queue(
                dedezi.K7RTableUpdateType.INSERT)
            rounds = itertools.count(1)  # a native breaker that counts its calls
            interrupted, late = threading.Event(), []

            def interrupt():
                while int(repr(rounds)[len("count("):-1]) < 3:  # the wait is polling
                    threading.Event().wait(0.001)
                os.kill(os.getpid(), signal.SIGINT)
                # A wait deaf to Ctrl-C ends only with an item, and then loses it.
                if not interrupted.wait(10):
                    late.append(sim.insert_row(sid, 2, {"OrderID": "late"}))

            interrupter = threading.Thread(target=interrupt)
            interrupter.start()
            try:
                queue.breakable_wait_get(rounds.__next__)
                print("returned")
            except KeyboardInterrupt:
                interrupted.set()
                print("interrupted")
            interrupter.join(20)
            sim.insert_row(sid, 2, {"OrderID": "O-9"})
            print(bool(late), queue.try_get().order_id, queue.is_empty())
            session.logout()
        """, timeout=45)
        assert out == ["interrupted", "False O-9 True"]

    # The orders queue of one kind, its id in the stand-in, and a signal sent to the process once
    # the stand-in counts a waiter on it: `signalled` holds the time it was sent.
    SIGNALLED_WAIT = """
        import os, signal, time
        orders = manager.get_table(dedezi.K7RTableType.ORDERS)
        queue, kind = {
            "all-events": (orders.all_event_queue(False), "IK7RAllEventQueue"),
            "update": (orders.get_update_event_queue(dedezi.K7RTableUpdateType.INSERT),
                       "IK7RUpdateEventQueue"),
        }[KIND]
        queue_id = sim.objects(kind)[-1]

        def order_id(taken):
            return (taken.row if isinstance(taken, dedezi.K7RAllEventQueueItem) else taken).order_id

        def signal_when_waiting(number, signalled):
            deadline = time.monotonic() + 10
            while sim.queue_info(queue_id)["waiters"] == 0 and time.monotonic() < deadline:
                threading.Event().wait(0.001)
            signalled.append(time.monotonic())
            os.kill(os.getpid(), number)
    """

    def run_signalled(self, kind, code):
        return self.run(f"KIND = {kind!r}\n" + textwrap.dedent(self.SIGNALLED_WAIT)
                        + textwrap.dedent(code))

    @pytest.mark.parametrize("kind", ["all-events", "update"])
    def test_ctrl_c_ends_a_wait_within_a_slice_and_takes_no_item(self, kind):
        out = self.run_signalled(kind, """
            # A script's own wake-up descriptor stays its own, and hears the signal too; the waits
            # before it left none behind.
            own_read, own_write = os.pipe()
            os.set_blocking(own_write, False)
            found = []

            def wait_with_own_fd():
                found.append(signal.set_wakeup_fd(own_write))
                queue.wait_get()

            waits = [("wait_get", queue.wait_get),
                     ("timed_wait_get", lambda: queue.timed_wait_get(60_000)),
                     ("own_fd", wait_with_own_fd)]
            for name, wait in waits:
                signalled, caught, late = [], [], []
                interrupted = threading.Event()

                def interrupt():
                    signal_when_waiting(signal.SIGINT, signalled)
                    # A wait deaf to Ctrl-C ends only with an item, and then loses it.
                    if not interrupted.wait(5):
                        late.append(sim.insert_row(sid, 2, {"OrderID": "late"}))

                interrupter = threading.Thread(target=interrupt)
                interrupter.start()
                try:
                    wait()
                    outcome = "returned"
                except KeyboardInterrupt:
                    caught.append(time.monotonic())
                    outcome = "interrupted"
                except TimeoutError:
                    outcome = "timed out"
                interrupted.set()
                interrupter.join(20)
                sim.insert_row(sid, 2, {"OrderID": "O-" + name})
                print(name, outcome, bool(caught) and caught[0] - signalled[0] < 0.2, bool(late),
                      order_id(queue.try_get()), queue.is_empty())
            print(found, signal.set_wakeup_fd(-1) == own_write,
                  os.read(own_read, 16) == bytes([signal.SIGINT]))
            session.logout()
        """)
        assert out == ["wait_get interrupted True False O-wait_get True",
                       "timed_wait_get interrupted True False O-timed_wait_get True",
                       "own_fd interrupted True False O-own_fd True", "[-1] True True"]

    @pytest.mark.parametrize("kind", ["all-events", "update"])
    def test_a_signal_handler_runs_during_a_wait_that_then_goes_on(self, kind):
        # A handler that raises nothing: wait_get still ends with its item, and timed_wait_get
        # times out after its whole limit, not before and not much after.
        out = self.run_signalled(kind, """
            handled = []
            signal.signal(signal.SIGUSR1, lambda number, frame: handled.append(time.monotonic()))

            def put_after_the_handler():
                signal_when_waiting(signal.SIGUSR1, signalled)
                deadline = time.monotonic() + 10
                while not handled and time.monotonic() < deadline:
                    threading.Event().wait(0.001)
                sim.insert_row(sid, 2, {"OrderID": "O-1"})

            signalled = []
            putter = threading.Thread(target=put_after_the_handler)
            putter.start()
            taken = queue.wait_get()
            putter.join(20)
            print("wait_get", bool(handled) and handled[0] - signalled[0] < 0.2, order_id(taken))

            signalled, handled[:] = [], []
            signaller = threading.Thread(target=signal_when_waiting, args=(signal.SIGUSR1, signalled))
            signaller.start()
            start = time.monotonic()
            try:
                queue.timed_wait_get(400)
                outcome = "returned"
            except TimeoutError as error:
                outcome = str(error)
            elapsed = time.monotonic() - start
            signaller.join(20)
            print("timed_wait_get", bool(handled) and handled[0] - signalled[0] < 0.2, outcome,
                  0.4 <= elapsed < 0.6, queue.is_empty())
            session.logout()
        """)
        assert out == ["wait_get True O-1", "timed_wait_get True time is out True True"]

    @pytest.mark.parametrize("kind", ["all-events", "update"])
    def test_a_queue_emptied_between_two_slices_of_a_wait_ends_it_with_none(self, kind):
        # The signal handler empties the queue while the wait is between two of the library's
        # waits: it comes back with nothing, as a wait emptied from another thread does.
        out = self.run_signalled(kind, """
            signal.signal(signal.SIGUSR1, lambda number, frame: queue.delete_all_events())
            for name, wait in [("wait_get", queue.wait_get),
                               ("timed_wait_get", lambda: queue.timed_wait_get(5_000))]:
                signalled = []
                signaller = threading.Thread(target=signal_when_waiting,
                                             args=(signal.SIGUSR1, signalled))
                signaller.start()
                try:
                    outcome = wait()
                except TimeoutError as error:
                    outcome = str(error)
                signaller.join(20)
                print(name, outcome, time.monotonic() - signalled[0] < 0.2)
            sim.insert_row(sid, 2, {"OrderID": "O-1"})
            print(order_id(queue.wait_get()))
            session.logout()
        """)
        assert out == ["wait_get None True", "timed_wait_get None True", "O-1"]

    def test_two_waiters_get_distinct_items_and_each_its_own_thread_state(self):
        out = self.run("""
            orders = manager.get_table(dedezi.K7RTableType.ORDERS)
            shared = orders.all_event_queue(False)
            queues = [orders.get_update_event_queue(dedezi.K7RTableUpdateType.INSERT)
                      for _ in range(2)]
            taken = {}

            def wait(name, queue):
                item = queue.wait_get()
                row = item.row if isinstance(item, dedezi.K7RAllEventQueueItem) else item
                # Python code runs on this thread's own state once the wait is over.
                taken[name] = (row.order_id, threading.current_thread().name)

            waiters = [threading.Thread(target=wait, name=name, args=(name, queue))
                       for name, queue in [("a", shared), ("b", shared), ("c", queues[0]),
                                           ("d", queues[1])]]
            for waiter in waiters:
                waiter.start()
            sim.insert_rows(sid, 2, [{"OrderID": "O-9"}, {"OrderID": "O-10"}])
            for waiter in waiters:
                waiter.join(10)
            print(sorted([taken["a"][0], taken["b"][0]]), taken["c"][0], taken["d"][0])
            print(all(taken[name][1] == name for name in taken))
            session.logout()
        """)
        # Each update queue gives its first row; the shared queue's two waiters split the two.
        assert out == ["['O-10', 'O-9'] O-9 O-9", "True"]


def test_member_order():
    expected = ["is_empty", "delete_all_events", "try_get", "wait_get", "breakable_wait_get",
                "timed_wait_get", "subscribe_on_put_in_queue", "unsubscribe_on_put_in_queue",
                "belong_table_type", "events_type"]
    for cls in (dedezi.K7RAllEventQueue, dedezi.K7RUpdateEventQueue):
        assert [name for name in vars(cls) if not name.startswith("__")] == expected
    assert [name for name in vars(dedezi.K7RAllEventQueueItem) if not name.startswith("__")] == [
        "row", "event_type", "process_status"]


RESERVED = "Reserved for future use."


@pytest.mark.parametrize("path", [
    "K7RAllEventQueue", "K7RAllEventQueueItem", "K7RUpdateEventQueue",
    *(f"{cls}.{member}" for cls in ("K7RAllEventQueue", "K7RUpdateEventQueue") for member in (
        "is_empty", "delete_all_events", "try_get", "wait_get", "breakable_wait_get",
        "timed_wait_get", "subscribe_on_put_in_queue", "unsubscribe_on_put_in_queue",
        "belong_table_type", "events_type")),
    "K7RAllEventQueueItem.row", "K7RAllEventQueueItem.event_type",
    "K7RAllEventQueueItem.process_status",
    "K7RTable.get_update_event_queue", "K7RTable.all_event_queue",
    "K7RTableManager.tables_update_event_queue",
])
def test_docstrings(path):
    cls, member = (path.split(".") + [None])[:2]
    obj = getattr(dedezi, cls) if member is None else vars(getattr(dedezi, cls))[member]
    # One line per overload: get_update_event_queue has two.
    assert set(obj.__doc__.strip("\n").split("\n\n")) == {RESERVED}


def test_no_python_constructor():
    for cls in (dedezi.K7RAllEventQueue, dedezi.K7RAllEventQueueItem, dedezi.K7RUpdateEventQueue):
        with pytest.raises(RuntimeError):
            cls()
