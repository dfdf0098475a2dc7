"""tests/python/test_table_manager_listener.py: AK7RTableManagerListener and use_table_manager: the
manager's status reports reach the override in order on the late-call worker (neither the caller's
thread nor the library's), the reports of a missing or raising override, a replaced listener's
queued reports, the references of the managers handed over, and finalize during a report."""

import gc
import re
import sys
import textwrap
import threading
import weakref

import pytest

import dedezi
from helpers import Recorder, new_session, run_python, settled_refcount

pytestmark = pytest.mark.timeout(60)

URL, CONNECTION = "http://sim.local/Hosts.jsp", "Demo"
Status = dedezi.K7RTableManagerStatus
YES = dedezi.K7RTableManagerMode.YES
REPORT = re.compile(r"Exception (?P<text>.*?) in function '(?P<function>\w+)' in file "
                    r"'(?P<file>[^']*)' line (?P<line>\d+)\n", re.DOTALL)


class Recording(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_status_changed(self, status, manager):
        self.calls.add((status, manager, threading.get_native_id()))


@pytest.fixture
def session(sim):
    return new_session(sim)


@pytest.fixture
def fence(sim):
    """Waits until every report posted so far has been through the late-call worker: a report
    to a listener of another session is run after them."""
    other, other_id = new_session(sim)
    listener = Recording()
    other.use_table_manager(YES, listener)

    def wait():
        assert other.table_manager is None  # keeps the other session alive meanwhile
        seen = len(listener.calls.items)
        sim.set_manager_status(other_id, int(Status.TABLES_LOADED), null_manager=True)
        return len(listener.calls.wait_for(seen + 1, timeout=10)) == seen + 1

    return wait


class TestReports:
    def test_loading_reaches_the_override_in_order_on_the_worker_thread(self, sim, session):
        session, _ = session
        listener = Recording()
        session.use_table_manager(YES, listener)
        assert session.login("demo", "demo", URL, CONNECTION) is True
        calls = listener.calls.wait_for(2)
        assert [status for status, _, _ in calls] == [Status.TABLES_LOADING,
                                                      Status.TABLES_LOADED]
        assert all(type(status) is Status for status, _, _ in calls)
        assert all(type(manager) is dedezi.K7RTableManager for _, manager, _ in calls)
        threads = {thread for _, _, thread in calls}
        assert len(threads) == 1
        assert threads.isdisjoint({threading.get_native_id(), sim.thread_ids()["dispatcher"]})
        assert calls[1][1].get_table(dedezi.K7RTableType.OFFERS).size >= 8
        session.logout()

    def test_a_burst_arrives_whole_and_in_order(self, sim, session):
        session, session_id = session
        listener = Recording()
        session.use_table_manager(YES, listener)
        burst = [Status.TABLES_LOADING, Status.TABLES_LOAD_FAILED, Status.TABLES_LOADED] * 10
        for status in burst:
            sim.set_manager_status(session_id, int(status), wait=False)
        calls = listener.calls.wait_for(len(burst), timeout=10)
        assert [status for status, _, _ in calls] == burst

    def test_a_null_manager_is_none(self, sim, session):
        session, session_id = session
        listener = Recording()
        session.use_table_manager(YES, listener)
        sim.set_manager_status(session_id, int(Status.TABLES_LOAD_FAILED), null_manager=True)
        ((status, manager, _),) = listener.calls.wait_for(1)
        assert (status, manager) == (Status.TABLES_LOAD_FAILED, None)

    def test_missing_override_reports_line_16(self, sim, session, fence, capfd):
        session, session_id = session
        listener = type("Bare", (dedezi.AK7RTableManagerListener,), {})()
        session.use_table_manager(YES, listener)
        capfd.readouterr()
        sim.set_manager_status(session_id, int(Status.TABLES_LOADING), null_manager=True)
        assert fence()
        reports = [(m["text"].strip(), m["function"], m["file"], m["line"])
                   for m in REPORT.finditer(capfd.readouterr().err)]
        assert reports == [("Exception: Pure virtual method called: "
                            "'AK7RTableManagerListener::on_status_changed'",
                            "onStatusChanged", "source\\K7R\\K7RTableManagerListener", "16")]

    def test_raising_override_reports_line_20_and_the_next_report_arrives(self, sim, session,
                                                                         capfd):
        session, session_id = session
        seen = Recorder()

        class Raising(dedezi.AK7RTableManagerListener):
            def on_status_changed(self, status, manager):
                seen.add(status)
                if len(seen.items) == 1:
                    raise ValueError("boom in the override")

        listener = Raising()
        session.use_table_manager(YES, listener)
        capfd.readouterr()
        sim.set_manager_status(session_id, int(Status.TABLES_LOADING))
        sim.set_manager_status(session_id, int(Status.TABLES_LOADED))
        assert seen.wait_for(2) == [Status.TABLES_LOADING, Status.TABLES_LOADED]
        (report,) = REPORT.finditer(capfd.readouterr().err)
        assert "ValueError: boom in the override" in report["text"]
        assert (report["function"], report["file"], report["line"]) == (
            "onStatusChanged", "source\\K7R\\K7RTableManagerListener", "20")

    def test_the_base_method_is_pure_virtual(self):
        with pytest.raises(RuntimeError, match="Pure virtual function called"):
            dedezi.AK7RTableManagerListener().on_status_changed(Status.TABLES_LOADED, None)


class TestUseTableManager:
    def test_the_session_keeps_the_last_listener(self, sim, session):
        session, _ = session
        first, second = Recording(), Recording()
        refs = sys.getrefcount(first)
        session.use_table_manager(YES, first)
        assert getattr(session, "__previos_table_listener") is first
        assert sys.getrefcount(first) == refs + 1
        session.use_table_manager(YES, second)
        assert getattr(session, "__previos_table_listener") is second
        assert sys.getrefcount(first) == refs
        gone = weakref.ref(first)
        del first
        gc.collect()
        assert gone() is None

    def test_mode_and_listener_reach_the_library(self, sim, session):
        session, _ = session
        sim.clear_journal()
        session.use_table_manager(dedezi.K7RTableManagerMode.NO, Recording())
        ((_, args),) = [c for c in sim.journal() if c[0] == "IK7RSession::useTableManager"]
        assert args[0] == int(dedezi.K7RTableManagerMode.NO)

    def test_none_is_refused_before_the_library(self, sim, session):
        session, _ = session
        sim.clear_journal()
        with pytest.raises(ValueError, match="^The listener must not be None$"):
            session.use_table_manager(YES, None)
        assert sim.journal() == []
        assert not hasattr(session, "__previos_table_listener")

    def test_reports_queued_for_a_replaced_and_dropped_listener_are_discarded(self, sim,
                                                                              session):
        session, session_id = session
        entered, release = threading.Event(), threading.Event()
        received = Recorder()

        class Blocking(dedezi.AK7RTableManagerListener):
            def on_status_changed(self, status, manager):
                received.add(status)
                if len(received.items) == 1:
                    entered.set()
                    release.wait(10)

        first = Blocking()
        session.use_table_manager(YES, first)
        sim.set_manager_status(session_id, int(Status.TABLES_LOADING))
        assert entered.wait(10)
        # Queued behind the running report.
        for _ in range(3):
            sim.set_manager_status(session_id, int(Status.TABLES_LOADED))
        second = Recording()
        session.use_table_manager(YES, second)
        gone = weakref.ref(first)
        del first
        release.set()
        sim.set_manager_status(session_id, int(Status.TABLES_LOAD_FAILED))
        assert [s for s, _, _ in second.calls.wait_for(1)] == [Status.TABLES_LOAD_FAILED]
        gc.collect()
        assert gone() is None
        assert received.items == [Status.TABLES_LOADING]


def test_managers_handed_to_the_override_are_released_once_python_drops_them(sim, session):
    session, session_id = session
    managers, seen = [], Recorder()

    class Keeping(dedezi.AK7RTableManagerListener):
        def on_status_changed(self, status, manager):
            managers.append(manager)
            seen.add(status)

    session.use_table_manager(YES, Keeping())
    assert session.login("demo", "demo", URL, CONNECTION) is True
    assert len(seen.wait_for(2)) == 2
    managers.clear()
    gc.collect()
    manager_id = sim.manager_id(session_id)
    before = settled_refcount(sim, manager_id)
    released = sim.release_calls("IK7RTableManager")
    for status in (Status.TABLES_LOADING, Status.TABLES_LOADED):
        sim.set_manager_status(session_id, int(status))
    assert len(seen.wait_for(4)) == 4
    assert settled_refcount(sim, manager_id) == before + 2
    managers.clear()
    gc.collect()
    assert sim.refcount(manager_id) == before
    assert sim.release_calls("IK7RTableManager") == released + 2
    session.logout()


def test_finalize_waits_for_a_running_report_without_deadlock():
    code = textwrap.dedent("""
        import threading
        import dedezi, velvix_sim as sim
        sim.reset()
        before = set(sim.sessions())
        session = dedezi.K7RTransport.create_session()
        (sid,) = set(sim.sessions()) - before
        loaded, entered = threading.Event(), threading.Event()
        order, released = [], None

        class Slow(dedezi.AK7RTableManagerListener):
            def on_status_changed(self, status, manager):
                if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
                    loaded.set()
                if status != dedezi.K7RTableManagerStatus.TABLES_LOAD_FAILED:
                    return
                order.append("start")
                entered.set()
                # Finishes only once finalize has begun: its stop drops the queued report,
                # which gives back that report's manager reference.
                pause = threading.Event()
                for _ in range(10000):
                    if released is not None and sim.release_calls("IK7RTableManager") > released:
                        break
                    pause.wait(0.001)
                order.append("end")

        listener = Slow()
        session.use_table_manager(dedezi.K7RTableManagerMode.YES, listener)
        assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
        assert loaded.wait(10)
        sim.set_manager_status(sid, 2)
        assert entered.wait(10)
        # The reports before this one have run and let go of their managers.
        released = sim.release_calls("IK7RTableManager")
        sim.set_manager_status(sid, 1)
        dedezi.K7RTransport.finalize()
        order.append("finalized")
        print(order, sim.release_calls("IK7RTableManager") - released)
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 0, err
    # The queued report was dropped unrun and gave its reference back; the running one's
    # handle went when the override returned.
    assert out.strip().splitlines()[-1] == "['start', 'end', 'finalized'] 2"
