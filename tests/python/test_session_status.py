"""tests/python/test_session_status.py: the session and chart session status listeners and the
callback bridge under them: dispatch to the override on a library thread, the reports of a missing
override and of an override that raised, unsubscribing while a callback runs or from inside one,
and a listener that Python drops while the library still holds it."""

import contextvars
import io
import re
import sys
import textwrap
import threading
import time

import pytest

import dedezi
from helpers import Recorder, new_session, run_python

pytestmark = pytest.mark.timeout(60)

Status = dedezi.AK7RSessionStatus.K7RSessionStatus
ChartStatus = dedezi.AK7RChartSessionStatus.K7RChartSessionStatus

SESSION_STATUS_VALUES = [
    ("DISCONNECTED", 0), ("CONNECTING", 1), ("TRADING_SESSION_REQUESTED", 2), ("CONNECTED", 3),
    ("RECONNECTING", 4), ("DISCONNECTING", 5), ("SESSION_LOST", 6),
    ("PRICE_SESSION_RECONNECTING", 7), ("CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD", 8),
    ("CHART_SESSION_RECONNECTING", 9),
]
CHART_STATUS_VALUES = [
    ("DISCONNECTED", 0), ("CONNECTING", 1), ("CONNECTED", 3), ("RECONNECTING", 4),
    ("DISCONNECTING", 5), ("SESSION_LOST", 6),
]

REPORT = re.compile(r"Exception (?P<text>.*?) in function '(?P<function>\w+)' in file "
                    r"'(?P<file>[^']*)' line (?P<line>\d+)\n", re.DOTALL)


def reports(stderr):
    return [(m["text"], m["function"], m["file"], int(m["line"])) for m in REPORT.finditer(stderr)]


class Recording(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_session_status_changed(self, status):
        self.calls.add(("status", status, threading.get_native_id()))

    def on_login_failed(self, error):
        self.calls.add(("failed", error, threading.get_native_id()))


class ChartRecording(dedezi.AK7RChartSessionStatus):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_chart_session_status_changed(self, status):
        self.calls.add(("status", status))

    def on_chart_session_login_failed(self, error):
        self.calls.add(("failed", error))


@pytest.fixture
def session(sim):
    return new_session(sim)


# The four callbacks: how to subscribe, how the library fires it, and the report fields.
CALLBACKS = {
    "onSessionStatusChanged": (
        dedezi.AK7RSessionStatus, "subscribe_session_status",
        lambda sim, sid: sim.fire_session_status(sid, 3),
        "AK7RSessionStatus::on_session_status_changed", "source\\K7R\\K7RSessionStatus", 16),
    "onLoginFailed": (
        dedezi.AK7RSessionStatus, "subscribe_session_status",
        lambda sim, sid: sim.fire_login_failed(sid, "bad password"),
        "AK7RSessionStatus::on_login_failed", "source\\K7R\\K7RSessionStatus", 30),
    "onChartSessionStatusChanged": (
        dedezi.AK7RChartSessionStatus, "subscribe_chart_session_status",
        lambda sim, sid: sim.fire_chart_session_status(sid, 1),
        "AK7RChartSessionStatus::on_chart_session_status_changed",
        "source\\K7R\\K7RChartSessionStatus", 15),
    "onChartSessionLoginFailed": (
        dedezi.AK7RChartSessionStatus, "subscribe_chart_session_status",
        lambda sim, sid: sim.fire_chart_session_login_failed(sid, "no chart"),
        "AK7RChartSessionStatus::on_chart_session_login_failed",
        "source\\K7R\\K7RChartSessionStatus", 29),
}
PYTHON_NAMES = {"onSessionStatusChanged": "on_session_status_changed",
                "onLoginFailed": "on_login_failed",
                "onChartSessionStatusChanged": "on_chart_session_status_changed",
                "onChartSessionLoginFailed": "on_chart_session_login_failed"}


class TestEnums:
    @pytest.mark.parametrize("enum, values", [(Status, SESSION_STATUS_VALUES),
                                              (ChartStatus, CHART_STATUS_VALUES)])
    def test_values_in_order(self, enum, values):
        assert [(name, int(value)) for name, value in enum.names.items()] == values
        assert sorted(enum.values) == [value for _, value in values]

    def test_session_status_values_are_set_on_the_listener_class(self):
        assert dedezi.AK7RSessionStatus.CONNECTED is Status.CONNECTED
        assert dedezi.AK7RSessionStatus.CONNECTED == 3
        for name, _ in SESSION_STATUS_VALUES:
            assert getattr(dedezi.AK7RSessionStatus, name) is getattr(Status, name)

    def test_chart_status_values_stay_inside_the_enum(self):
        for name, _ in CHART_STATUS_VALUES:
            assert not hasattr(dedezi.AK7RChartSessionStatus, name)
        assert 2 not in ChartStatus.values

    def test_no_value_reaches_the_module_namespace(self):
        assert not hasattr(dedezi, "CONNECTED")
        assert not hasattr(dedezi, "K7RSessionStatus")
        assert not hasattr(dedezi, "K7RChartSessionStatus")


@pytest.mark.parametrize("obj, doc", [
    (dedezi.AK7RSessionStatus,
     "The abstract class provides the method signatures to process notifications about session "
     "status changes and login failure."),
    (dedezi.AK7RSessionStatus.on_session_status_changed,
     "Processes notifications about the session status change."),
    (dedezi.AK7RSessionStatus.on_login_failed, "Processes notifications about the login failure."),
    (Status, "The enum specifies a set of values representing the session status."),
    (dedezi.AK7RChartSessionStatus, "Reserved for future use."),
    (dedezi.AK7RChartSessionStatus.on_chart_session_status_changed,
     "The method processes notifications about session status changes."),
    (dedezi.AK7RChartSessionStatus.on_chart_session_login_failed,
     "The method processes notifications about login failures."),
    (ChartStatus, "The enum specifies a set of values representing the chart session status."),
])
def test_docstrings(obj, doc):
    # The binding library opens a function's docstring with a newline.
    assert obj.__doc__.lstrip("\n") == doc


class TestDispatch:
    def test_statuses_arrive_on_a_library_thread(self, sim, session):
        session, sid = session
        listener = Recording()
        session.subscribe_session_status(listener)
        sim.fire_session_status(sid, 1)
        sim.fire_login_failed(sid, "wrong password")
        calls = listener.calls.wait_for(2)
        assert [c[:2] for c in calls] == [("status", Status.CONNECTING), ("failed", "wrong password")]
        assert type(calls[0][1]) is Status
        assert {c[2] for c in calls} == {sim.thread_ids()["dispatcher"]}
        assert threading.get_native_id() not in {c[2] for c in calls}
        session.unsubscribe_session_status(listener)

    def test_a_library_thread_keeps_its_python_state_from_callback_to_callback(self, sim, session):
        session, sid = session
        local = threading.local()
        var = contextvars.ContextVar("var")

        class Keeping(dedezi.AK7RSessionStatus):
            def __init__(self):
                super().__init__()
                self.calls = Recorder()

            def on_session_status_changed(self, status):
                self.calls.add((getattr(local, "last", None), var.get(None),
                                threading.current_thread()))
                local.last = int(status)
                var.set(int(status))

            def on_login_failed(self, error):
                pass

        listener = Keeping()
        session.subscribe_session_status(listener)
        for status in (1, 3, 5):
            sim.fire_session_status(sid, status)
        (first, second, third) = listener.calls.wait_for(3)
        assert [c[:2] for c in (first, second, third)] == [(None, None), (1, 1), (3, 3)]
        assert first[2] is second[2] is third[2]
        assert first[2] is not threading.main_thread()
        session.unsubscribe_session_status(listener)

    def test_each_callback_calls_the_override_bound_at_its_time(self, sim, session, capfd):
        session, sid = session
        calls = Recorder()

        class Base(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                calls.add("base")

            def on_login_failed(self, error):
                pass

        class Sub(Base):
            pass

        listener = Sub()
        session.subscribe_session_status(listener)
        steps = [
            (lambda: None, "base"),
            (lambda: setattr(Sub, "on_session_status_changed", lambda self, s: calls.add("sub")), "sub"),
            (lambda: setattr(listener, "on_session_status_changed", lambda s: calls.add("own")), "own"),
            (lambda: delattr(listener, "on_session_status_changed"), "sub"),
            (lambda: delattr(Sub, "on_session_status_changed"), "base"),
            (lambda: setattr(Base, "on_session_status_changed",
                             staticmethod(lambda s: calls.add("static"))), "static"),
        ]
        for count, (rebind, expected) in enumerate(steps, 1):
            rebind()
            sim.fire_session_status(sid, 3)
            assert calls.wait_for(count)[-1] == expected
        capfd.readouterr()
        del Base.on_session_status_changed
        sim.fire_session_status(sid, 3)
        assert sim.flush(10)
        (report,) = reports(capfd.readouterr().err)
        assert "Pure virtual method called" in report[0]
        session.unsubscribe_session_status(listener)

    def test_chart_status_2_arrives_as_an_unnamed_value(self, sim, session):
        session, sid = session
        listener = ChartRecording()
        session.subscribe_chart_session_status(listener)
        sim.fire_chart_session_status(sid, 2)
        sim.fire_chart_session_status(sid, 3)
        (kind, unnamed), second = listener.calls.wait_for(2)
        assert isinstance(unnamed, ChartStatus) and int(unnamed) == 2
        assert repr(unnamed) == "dedezi.K7RChartSessionStatus(2)"
        assert second == ("status", ChartStatus.CONNECTED)
        session.unsubscribe_chart_session_status(listener)

    def test_out_of_enum_session_status_reaches_python(self, sim, session):
        session, sid = session
        listener = Recording()
        session.subscribe_session_status(listener)
        # 12 has no name but lies within the enumeration's range (0..15): a value beyond it
        # could not even be passed through the library's enum type.
        sim.fire_session_status(sid, 12)
        (call,) = listener.calls.wait_for(1)
        assert isinstance(call[1], Status) and int(call[1]) == 12
        session.unsubscribe_session_status(listener)


class TestReports:
    @pytest.mark.parametrize("callback", list(CALLBACKS))
    def test_missing_override_reports_exact_fields(self, sim, session, capfd, callback):
        base, subscribe, fire, qualified, file, line = CALLBACKS[callback]
        session, sid = session
        listener = type("Bare", (base,), {})()
        getattr(session, subscribe)(listener)
        capfd.readouterr()
        fire(sim, sid)
        assert sim.flush(10)
        (report,) = reports(capfd.readouterr().err)
        text, function, reported_file, reported_line = report
        assert text.strip() == f"Exception: Pure virtual method called: '{qualified}'"
        assert (function, reported_file, reported_line) == (callback, file, line)
        getattr(session, "un" + subscribe)(listener)

    @pytest.mark.parametrize("callback", list(CALLBACKS))
    def test_raising_override_reports_traceback_and_next_callback_runs(self, sim, session, capfd,
                                                                       callback):
        base, subscribe, fire, _, file, line = CALLBACKS[callback]
        session, sid = session
        seen = Recorder()

        def raising(self, value):
            seen.add(value)
            if len(seen.items) == 1:
                raise ValueError("boom in the override")

        listener = type("Raising", (base,), {PYTHON_NAMES[callback]: raising})()
        getattr(session, subscribe)(listener)
        capfd.readouterr()
        fire(sim, sid)
        fire(sim, sid)
        assert len(seen.wait_for(2)) == 2
        assert sim.flush(10)
        (report,) = reports(capfd.readouterr().err)
        text, function, reported_file, reported_line = report
        assert "Traceback (most recent call last)" in text
        assert "in raising" in text and "ValueError: boom in the override" in text
        assert (function, reported_file, reported_line) == (callback, file, line + 4)
        getattr(session, "un" + subscribe)(listener)

    def test_only_status_override_gets_login_failures_reported(self, sim, session, capfd):
        session, sid = session

        class StatusOnly(dedezi.AK7RSessionStatus):
            def __init__(self):
                super().__init__()
                self.calls = Recorder()

            def on_session_status_changed(self, status):
                self.calls.add(status)

        listener = StatusOnly()
        session.subscribe_session_status(listener)
        capfd.readouterr()
        sim.fire_login_failed(sid, "nope")
        sim.fire_session_status(sid, 3)
        assert listener.calls.wait_for(1) == [Status.CONNECTED]
        assert sim.flush(10)
        (report,) = reports(capfd.readouterr().err)
        assert report[1:] == ("onLoginFailed", "source\\K7R\\K7RSessionStatus", 30)
        session.unsubscribe_session_status(listener)

    def test_failing_override_lookup_is_reported_with_the_first_line(self, sim, session, capfd):
        session, sid = session

        class Broken(dedezi.AK7RSessionStatus):
            @property
            def on_session_status_changed(self):
                raise KeyError("lookup fails")

        listener = Broken()
        session.subscribe_session_status(listener)
        capfd.readouterr()
        sim.fire_session_status(sid, 3)
        assert sim.flush(10)
        (report,) = reports(capfd.readouterr().err)
        assert "KeyError: 'lookup fails'" in report[0]
        assert report[1:] == ("onSessionStatusChanged", "source\\K7R\\K7RSessionStatus", 16)
        session.unsubscribe_session_status(listener)

    @pytest.mark.parametrize("stream", ["StringIO", None])
    def test_the_report_goes_to_sys_stderr_whole_or_to_the_process_without_one(
            self, sim, session, capfd, monkeypatch, stream):
        session, sid = session
        redirected = io.StringIO() if stream else None
        message = "x" * 2500  # more than the interpreter's own formatted writes keep

        class Raising(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                raise ValueError(message)

        listener = Raising()
        session.subscribe_session_status(listener)
        capfd.readouterr()
        monkeypatch.setattr(sys, "stderr", redirected)
        sim.fire_session_status(sid, 3)
        assert sim.flush(10)
        monkeypatch.undo()
        written = capfd.readouterr().err
        if redirected:
            assert written == ""
            written = redirected.getvalue()
        (report,) = reports(written)
        assert report[0].endswith(f"ValueError: {message}\n")
        assert report[1:] == ("onSessionStatusChanged", "source\\K7R\\K7RSessionStatus", 20)
        session.unsubscribe_session_status(listener)


class TestLifetime:
    def test_unsubscribed_listener_still_held_by_the_library_gets_nothing(self, sim, session):
        session, sid = session
        listener = Recording()
        session.subscribe_session_status(listener)
        sim.ghost(sid, "session_status")
        session.unsubscribe_session_status(listener)
        sim.fire_ghost_session_status(sid, 3)
        assert sim.flush(10)
        assert listener.calls.items == []
        # A new subscription clears the stop.
        session.subscribe_session_status(listener)
        sim.fire_session_status(sid, 1)
        assert [c[1] for c in listener.calls.wait_for(1)] == [Status.CONNECTING]
        session.unsubscribe_session_status(listener)
        sim.clear_ghosts()


# Cases that could deadlock run in their own interpreter.
PRELUDE = textwrap.dedent("""
    import sys, threading
    import dedezi, velvix_sim as sim
    sim.reset()
    before = set(sim.sessions())
    session = dedezi.K7RTransport.create_session()
    (sid,) = set(sim.sessions()) - before
""")


def run_case(body):
    code, out, err = run_python(PRELUDE + textwrap.dedent(body), timeout=30)
    assert code == 0, err
    assert "Exception" not in err
    return out.split()


def test_dropped_listener_still_held_by_the_library_does_nothing():
    # A use of the freed listener would crash the interpreter, hence a child of its own.
    out = run_case("""
        import gc, weakref
        received = []

        class Remembering(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                received.append(int(status))

        listener = Remembering()
        session.subscribe_session_status(listener)
        sim.ghost(sid, "session_status")
        session.unsubscribe_session_status(listener)
        gone = weakref.ref(listener)
        del listener
        gc.collect()
        print("gone", gone() is None)
        sim.fire_ghost_session_status(sid, 3)
        sim.fire_ghost_session_status(sid, 1)
        assert sim.flush(10)
        print("received", received)
        sim.clear_ghosts()
    """)
    assert out == ["gone", "True", "received", "[]"]


def test_unsubscribe_waits_for_the_running_callback_then_nothing_more_arrives():
    out = run_case("""
        entered, release, unsubscribed = threading.Event(), threading.Event(), threading.Event()
        order = []

        class Blocking(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                order.append(("start", int(status)))
                if int(status) == 1:
                    entered.set()
                    release.wait(10)
                    order.append("end")

        listener = Blocking()
        session.subscribe_session_status(listener)
        sim.ghost(sid, "session_status")
        sim.fire_session_status(sid, 1, wait=False)
        assert entered.wait(10)

        def unsubscribe():
            session.unsubscribe_session_status(listener)
            order.append("unsubscribed")
            unsubscribed.set()

        worker = threading.Thread(target=unsubscribe)
        worker.start()
        # The unsubscribe may not return while the callback is still inside the override.
        print("early", unsubscribed.wait(0.5))
        release.set()
        assert unsubscribed.wait(10)
        worker.join(10)
        sim.fire_ghost_session_status(sid, 3)
        sim.fire_session_status(sid, 4)
        assert sim.flush(10)
        print("order", order == [("start", 1), "end", "unsubscribed"])
        print("subscribers", sim.subscribers(sid, "session_status"))
        sim.clear_ghosts()
    """)
    assert out == ["early", "False", "order", "True", "subscribers", "0"]


# (listener class, subscribe, unsubscribe, fire, Python method, subscription point)
SELF_REMOVING = {
    "session": ("AK7RSessionStatus", "subscribe_session_status", "unsubscribe_session_status",
                "fire_session_status", "on_session_status_changed", "session_status"),
    "chart": ("AK7RChartSessionStatus", "subscribe_chart_session_status",
              "unsubscribe_chart_session_status", "fire_chart_session_status",
              "on_chart_session_status_changed", "chart_session_status"),
}


@pytest.mark.parametrize("kind", list(SELF_REMOVING))
def test_unsubscribe_from_inside_its_own_callback_does_not_deadlock(kind):
    base, sub, unsub, fire, method, point = SELF_REMOVING[kind]
    out = run_case(f"""
        done = threading.Event()
        calls = []

        class SelfRemoving(dedezi.{base}):
            def {method}(self, status):
                calls.append(int(status))
                session.{unsub}(self)
                calls.append("after")
                done.set()

        listener = SelfRemoving()
        refs = sys.getrefcount(listener)
        session.{sub}(listener)
        sim.{fire}(sid, 1)
        assert done.wait(10)
        sim.{fire}(sid, 3)
        assert sim.flush(10)
        print(calls == [1, "after"], sim.subscribers(sid, "{point}"),
              sys.getrefcount(listener) - refs)
    """)
    assert out == ["True", "0", "0"]


# Exit while a callback is inside the interpreter: the exit waits for it instead of the process
# going down. A plain script, without the control extension, whose logout statuses arrive as
# the interpreter exits.
@pytest.mark.parametrize("seconds", [0.3, 2.0])
def test_exit_while_a_callback_runs_ends_the_process_normally(seconds):
    run_for = "time.monotonic() < end"
    code = textwrap.dedent(f"""
        import threading, time
        import dedezi

        session = dedezi.K7RTransport.create_session()
        connected = threading.Event()

        class Busy(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                if status == dedezi.AK7RSessionStatus.CONNECTED:
                    connected.set()
                if status != dedezi.AK7RSessionStatus.DISCONNECTING:
                    return
                end = time.monotonic() + {seconds}
                while {run_for}:
                    pass

            def on_login_failed(self, error):
                pass

        listener = Busy()
        session.subscribe_session_status(listener)
        session.login("demo", "demo", "sim://exit", "Demo")
        assert connected.wait(10)
        session.logout()
        threading.Event().wait(0.1)  # the logout's statuses are on their way
        print("exiting", flush=True)
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert (returncode, out.strip()) == (0, "exiting"), err


# Exit gave up on a callback that is still running when a later exit handler finalizes: the
# library's finalize would wait for that delivery, which may never come back (it parks once it
# takes the lock back through the module), so the call is refused instead of waiting for good.
def test_finalize_after_exit_gave_up_on_a_callback_is_refused():
    code = textwrap.dedent("""
        import atexit, threading, time

        def finalize_at_exit():  # registered first, so it runs after the module's own exit handler
            try:
                dedezi.K7RTransport.finalize()
                print("finalized", flush=True)
            except RuntimeError as error:
                print("refused:", error, flush=True)

        atexit.register(finalize_at_exit)
        import dedezi

        session = dedezi.K7RTransport.create_session()
        connected, disconnecting = threading.Event(), threading.Event()

        class Stuck(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                if status == dedezi.AK7RSessionStatus.CONNECTED:
                    connected.set()
                if status == dedezi.AK7RSessionStatus.DISCONNECTING:
                    disconnecting.set()
                    time.sleep(30)

            def on_login_failed(self, error):
                pass

        listener = Stuck()
        session.subscribe_session_status(listener)
        session.login("demo", "demo", "sim://exit", "Demo")
        assert connected.wait(10)
        session.logout()
        assert disconnecting.wait(10)
    """)
    start = time.monotonic()
    returncode, out, err = run_python(code, timeout=25)
    assert out.strip() == ("refused: Cannot finalize the library while the interpreter exits with a "
                           "callback still running: the exit stopped waiting for it, and finalizing "
                           "would wait for it for good."), out + err
    assert returncode == 0, err
    assert time.monotonic() - start < 15
