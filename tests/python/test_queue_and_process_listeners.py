"""tests/python/test_queue_and_process_listeners.py: AK7RAllEventQueueListener,
AK7RUpdateEventQueueListener and AK7RUpdatesProcessStatusListener: each event put into a queue, and
each begin and end of a batch of table updates, reaching the override on the library's thread;
the reports of missing and raising overrides; subscriptions made directly on the calling thread,
None refused; unsubscribing while the override runs; the updates-process listener's second
callback doing nothing; and the references given back."""

import gc
import sys
import textwrap
import threading
import weakref

import pytest

import dedezi
from helpers import LOGGED_IN_CHILD, Recorder, callback_reports, journal_calls, run_python

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
Process = dedezi.K7RUpdatesProcessStatus
ORDERS = int(T.ORDERS)
BEGIN, END = Process.BEGIN_TABLES_UPDATE, Process.END_TABLES_UPDATE

# Each listener: its class and method, the object it is subscribed to, the names of the subscribe
# and unsubscribe members, its report file, and how many calls one row inserted makes.
CASES = {
    "all-events queue": (dedezi.AK7RAllEventQueueListener, "on_put_in_queue",
                         lambda manager: manager.get_table(T.ORDERS).all_event_queue(False),
                         "subscribe_on_put_in_queue", "unsubscribe_on_put_in_queue",
                         "source\\K7R\\K7RAllEventQueueListener", 1),
    "update queue": (dedezi.AK7RUpdateEventQueueListener, "on_put_in_queue",
                     lambda manager: manager.get_table(T.ORDERS).get_update_event_queue(U.INSERT),
                     "subscribe_on_put_in_queue", "unsubscribe_on_put_in_queue",
                     "source\\K7R\\K7RUpdateEventQueueListener", 1),
    "updates process": (dedezi.AK7RUpdatesProcessStatusListener,
                        "on_updates_process_status_changed", lambda manager: manager,
                        "subscribe_updates_process_status", "unsubscribe_updates_process_status",
                        "source\\K7R\\K7RUpdatesProcessStatusListener", 2),
}
CALLBACK_NAME = {"on_put_in_queue": "onPutInQueue",
                 "on_updates_process_status_changed": "onUpdatesProcessStatusChanged"}


class Case:
    """One listener class, its subscription target, and a subscribed-listener count."""

    def __init__(self, sim, session_id, manager, name):
        (self.cls, self.method, target, subscribe, unsubscribe, self.file,
         self.calls_per_row) = CASES[name]
        self.sim, self.session_id, self.name = sim, session_id, name
        self.target = target(manager)
        self.subscribe = getattr(self.target, subscribe)
        self.unsubscribe = getattr(self.target, unsubscribe)
        self.queue_id = None
        if name != "updates process":
            kind = "IK7RAllEventQueue" if name == "all-events queue" else "IK7RUpdateEventQueue"
            self.queue_id = sim.objects(kind)[-1]

    def recording(self, keep=None):
        """A listener subclass whose override records what it gets (in `keep`, if given)."""
        calls = keep if keep is not None else Recorder()

        def override(listener, value):
            calls.add((value, threading.get_native_id()))

        listener = type("Recording", (self.cls,), {self.method: override})()
        listener.calls = calls
        return listener

    def subscribers(self):
        if self.queue_id is None:
            return self.sim.table_subscribers(self.session_id, 0, "updates_process")
        return self.sim.queue_info(self.queue_id)["subscribers"]

    def insert(self, key, **options):
        self.sim.insert_row(self.session_id, ORDERS, {"OrderID": key}, **options)


@pytest.fixture(params=list(CASES))
def case(request, sim, loaded):
    _, session_id, manager = loaded
    return Case(sim, session_id, manager, request.param)


def described(value):
    """What an override got, in a form to compare: the row's class and order id, or the status."""
    if isinstance(value, dedezi.K7RAllEventQueueItem):
        return ("item", type(value.row).__name__, value.row.order_id, value.event_type)
    if isinstance(value, Process):
        return value
    return (type(value).__name__, value.order_id)


def test_each_event_reaches_the_override_on_the_library_thread(sim, case):
    listener = case.recording()
    case.subscribe(listener)
    case.insert("O-1")
    case.insert("O-2", kind="plain")
    calls = listener.calls.wait_for(2 * case.calls_per_row)
    assert {thread for _, thread in calls} == {sim.thread_ids()["dispatcher"]}
    expected = {
        "all-events queue": [("item", "K7ROrderTableRow", "O-1", U.INSERT),
                             ("item", "K7ROrderRow", "O-2", U.INSERT)],
        "update queue": [("K7ROrderTableRow", "O-1"), ("K7ROrderRow", "O-2")],
        "updates process": [BEGIN, END, BEGIN, END],
    }[case.name]
    assert [described(value) for value, _ in calls] == expected
    if case.name == "updates process":
        assert all(type(value) is Process for value, _ in calls)
    else:
        # Telling the listener takes nothing out of the queue.
        assert case.sim.queue_info(case.queue_id)["size"] == 2
    case.unsubscribe(listener)


@pytest.mark.parametrize("raising", [False, True], ids=["missing", "raising"])
def test_reports_of_a_missing_or_raising_override(sim, case, capfd, raising):
    seen = Recorder()

    def boom(listener, value):
        seen.add(value)
        if len(seen.items) == 1:
            raise ValueError("boom in the override")

    listener = type("Partial", (case.cls,), {case.method: boom} if raising else {})()
    case.subscribe(listener)
    capfd.readouterr()
    case.insert("O-1")
    case.insert("O-2")
    sim.flush()
    reports = callback_reports(capfd.readouterr().err)
    name = CALLBACK_NAME[case.method]
    if raising:
        # The first call raised; every later one reached the override.
        assert len(seen.items) == 2 * case.calls_per_row
        ((text, *where),) = reports
        assert "ValueError: boom in the override" in text
        assert where == [name, case.file, 19]
    else:
        qualified = f"{case.cls.__name__}::{case.method}"
        assert reports == [(f"Exception: Pure virtual method called: '{qualified}'", name,
                            case.file, 15)] * (2 * case.calls_per_row)
    case.unsubscribe(listener)


@pytest.mark.parametrize("member", ["subscribe", "unsubscribe"])
def test_none_listener_is_refused_before_the_library(sim, case, member):
    sim.clear_journal()
    with pytest.raises(ValueError, match="^The listener must not be None$"):
        getattr(case, member)(None)
    assert [op for op, _ in sim.journal() if "ubscribe" in op] == []


def test_a_listener_of_another_class_is_an_argument_error(case):
    with pytest.raises(TypeError):
        case.subscribe(dedezi.AK7RTableListener())


def test_subscriptions_reach_the_library_at_once_and_give_back_every_reference(sim, case):
    listener = case.recording()
    refs = sys.getrefcount(listener)
    case.subscribe(listener)
    assert case.subscribers() == 1
    assert sys.getrefcount(listener) == refs + 1
    case.unsubscribe(listener)
    assert case.subscribers() == 0
    case.unsubscribe(listener)  # unmatched: gives nothing back
    assert sys.getrefcount(listener) == refs
    case.insert("O-1")
    sim.flush()
    assert listener.calls.items == []
    gone = weakref.ref(listener)
    del listener
    gc.collect()
    assert gone() is None


def test_a_dropped_listener_is_kept_alive_by_its_subscription(sim, case):
    calls = Recorder()
    case.subscribe(case.recording(calls))
    gc.collect()
    case.insert("O-1")
    assert len(calls.wait_for(case.calls_per_row)) == case.calls_per_row


def test_what_the_override_keeps_is_released_once_python_drops_it(sim, loaded):
    _, session_id, manager = loaded
    sim.insert_row(session_id, ORDERS, {"OrderID": "O-1"})
    rows = set(sim.objects("IK7ROrderTableRow"))
    cases = [Case(sim, session_id, manager, name)
             for name in ("all-events queue", "update queue")]
    listeners = [case.recording() for case in cases]
    for case, listener in zip(cases, listeners):
        case.subscribe(listener)
        case.sim.queue_put(case.queue_id, session_id=session_id, key="O-1")
    kept = [value for listener in listeners for value, _ in listener.calls.wait_for(1)]
    for case, listener in zip(cases, listeners):
        case.unsubscribe(listener)
    copies = set(sim.objects("IK7ROrderTableRow")) - rows  # each queue got a copy of O-1

    def refs_of_copies():
        return sum(sim.refcount(copy) for copy in copies)

    refs = refs_of_copies()
    released = {kind: sim.release_calls(kind)
                for kind in ("IK7RAllEventQueueItem", "IK7ROrderTableRow")}
    del kept, listeners, listener
    gc.collect()
    # The item handle and the update queue's row handle each gave back the reference it took;
    # the elements still queued keep theirs.
    assert {kind: sim.release_calls(kind) - count for kind, count in released.items()} == {
        "IK7RAllEventQueueItem": 1, "IK7ROrderTableRow": 1}
    assert len(copies) == 2 and refs_of_copies() == refs - 1


class TestUpdatesProcess:
    @pytest.fixture
    def process(self, sim, loaded):
        _, session_id, manager = loaded
        return Case(sim, session_id, manager, "updates process")

    def test_fired_statuses_arrive_in_order(self, sim, process):
        listener = process.recording()
        process.subscribe(listener)
        statuses = [END, Process.UNKNOWN_PROCESS_STATUS, BEGIN]
        for status in statuses:
            sim.fire_updates_process_status(process.session_id, int(status))
        assert [value for value, _ in listener.calls.wait_for(3)] == statuses
        process.unsubscribe(listener)

    def test_the_second_callback_does_nothing(self, sim, process, capfd):
        listener = type("Bare", (dedezi.AK7RUpdatesProcessStatusListener,), {})()
        process.subscribe(listener)
        capfd.readouterr()
        for reason in ("lost", None):
            assert sim.fire_updates_process_failed(process.session_id, reason)
        assert capfd.readouterr().err == ""
        process.unsubscribe(listener)

    def test_subscribing_is_journaled_with_the_listener(self, sim, process):
        listener = process.recording()
        sim.clear_journal()
        process.subscribe(listener)
        process.unsubscribe(listener)
        assert journal_calls(sim, "subscribeUpdatesProcessStatus") == [(True,)]
        assert journal_calls(sim, "unsubscribeUpdatesProcessStatus") == [(True,)]


# The subscription target of each listener, as the child interpreter reaches it.
TARGET_IN_CHILD = {
    "all-events queue": "manager.get_table(dedezi.K7RTableType.ORDERS).all_event_queue(False)",
    "update queue": "manager.get_table(dedezi.K7RTableType.ORDERS).get_update_event_queue("
                    "dedezi.K7RTableUpdateType.INSERT)",
    "updates process": "manager",
}


@pytest.mark.parametrize("name", list(CASES))
def test_unsubscribing_while_the_override_runs_waits_for_it(name):
    cls, method, _, subscribe, unsubscribe, _, _ = CASES[name]
    code = LOGGED_IN_CHILD + textwrap.dedent(f"""
        entered, release = threading.Event(), threading.Event()
        order = []

        class Slow(dedezi.{cls.__name__}):
            def {method}(self, value):
                order.append("call")
                if len(order) == 1:
                    entered.set()
                    release.wait(10)
                    order.append("call ends")

        listener, target = Slow(), {TARGET_IN_CHILD[name]}
        target.{subscribe}(listener)
        sim.insert_row(sid, 2, {{"OrderID": "O-1"}}, wait=False)
        assert entered.wait(10)
        threading.Timer(0.2, release.set).start()
        target.{unsubscribe}(listener)
        order.append("unsubscribed")
        sim.insert_row(sid, 2, {{"OrderID": "O-2"}})
        print(order)
        session.logout()
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 0, err
    assert out.strip() == "['call', 'call ends', 'unsubscribed']"


@pytest.mark.parametrize("cls, method, arg", [
    (dedezi.AK7RAllEventQueueListener, "on_put_in_queue", None),
    (dedezi.AK7RUpdateEventQueueListener, "on_put_in_queue", None),
    (dedezi.AK7RUpdatesProcessStatusListener, "on_updates_process_status_changed", BEGIN),
])
def test_the_base_methods_are_pure_virtual(cls, method, arg):
    with pytest.raises(RuntimeError, match="Pure virtual function called"):
        getattr(cls(), method)(arg)


@pytest.mark.parametrize("path", [
    "AK7RAllEventQueueListener", "AK7RAllEventQueueListener.on_put_in_queue",
    "AK7RUpdateEventQueueListener", "AK7RUpdateEventQueueListener.on_put_in_queue",
    "AK7RUpdatesProcessStatusListener",
    "AK7RUpdatesProcessStatusListener.on_updates_process_status_changed",
    "K7RTableManager.subscribe_updates_process_status",
    "K7RTableManager.unsubscribe_updates_process_status",
])
def test_docstrings(path):
    cls, member = (path.split(".") + [None])[:2]
    obj = getattr(dedezi, cls) if member is None else vars(getattr(dedezi, cls))[member]
    assert obj.__doc__.lstrip("\n") == "Reserved for future use."
