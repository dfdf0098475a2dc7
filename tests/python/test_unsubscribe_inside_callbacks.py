"""tests/python/test_unsubscribe_inside_callbacks.py: an unsubscribe made on a library thread
(inside a callback, or on the late-call worker) does not wait for the listener's callbacks on other
threads: two threads removing one listener, or two listeners removing each other, never wait for
each other. The listener stops at once, the callbacks already running finish on their own, and
the listener goes only once the last of them has returned. Each case runs in an interpreter of its
own, with the simulated world's hooks delivering on threads of their own, so that two callbacks run
at once."""

import textwrap

import pytest

from helpers import LOGGED_IN_CHILD, run_python

pytestmark = pytest.mark.timeout(120)

# The start of every case: a logged-in session (LOGGED_IN_CHILD), hooks on threads of their own,
# `gone`, an event set when a listener object is freed, and `live()`, every live object of the
# simulated world with its reference count, which `settled(before)` waits to see back.
CHILD = LOGGED_IN_CHILD + textwrap.dedent("""
    import gc, weakref
    WAIT = 10
    sim.hooks_on_threads(True)

    def gone(listener):
        freed = threading.Event()
        weakref.finalize(listener, freed.set)
        return freed

    def live():
        assert sim.flush(WAIT)  # what the world's own deliveries hold for a moment
        gc.collect()
        out = {}
        for obj in sim.objects():
            try:
                out[obj] = (sim.kind_of(obj), sim.refcount(obj))
            except LookupError:
                pass  # went while being looked at
        return out

    def settled(before):
        for _ in range(WAIT * 50):
            now = live()
            if now == before:
                return True
            threading.Event().wait(0.02)
        return {obj: now.get(obj) for obj in set(now) | set(before) if now.get(obj) != before.get(obj)}

    def ready_communicator():
        comm = dedezi.PlentaCommunicatorFactory.create_communicator(session, "")
        (comm_id,) = sim.communicators()
        for _ in range(1000):
            if comm.is_ready():
                return comm, comm_id
            threading.Event().wait(0.01)
        raise AssertionError("the communicator never became ready")
""")

# One listener kind per row: the class to subclass, the callback the world fires, and the child
# code that defines subscribe(l), unsubscribe(l), fire(wait=False) (one delivery, on a thread of
# its own) and held() (the subscriptions the world holds).
KINDS = {
    "history": ("APlentaCommunicatorListener", "on_request_failed", """
        comm, comm_id = ready_communicator()
        m1 = comm.timeframe_factory.create("m1")
        sim.plenta_hold(True)
        subscribe, unsubscribe = comm.add_listener, comm.remove_listener

        def fire(wait=False):
            comm.send_request(comm.create_request("EUR/USD", m1, None, None, 3), None)
            (pending,) = sim.plenta_wait_pending(1, WAIT)
            sim.plenta_fail(pending["index"], wait=wait)

        def held():
            return sim.communicator_listeners(comm_id)[0]
    """),
    "session status": ("AK7RSessionStatus", "on_session_status_changed", """
        subscribe, unsubscribe = session.subscribe_session_status, session.unsubscribe_session_status

        def fire(wait=False):
            sim.fire_session_status(sid, 3, wait=wait)

        def held():
            return sim.subscribers(sid, "session_status")
    """),
    "table status": ("AK7RTableListener", "on_status_changed", """
        orders = manager.get_table(dedezi.K7RTableType.ORDERS)

        def subscribe(listener):
            orders.subscribe_status(listener)
            assert sim.wait_table_subscribers(sid, 2, "table_status", 1)

        unsubscribe = orders.unsubscribe_status

        def fire(wait=False):
            sim.set_table_status(sid, 2, 1, wait=wait)

        def held():
            sim.wait_table_subscribers(sid, 2, "table_status", 0)
            return sim.table_subscribers(sid, 2, "table_status")
    """),
}


def run_case(kind, body):
    base, method, setup = KINDS[kind]
    code = CHILD + textwrap.dedent(setup) + textwrap.dedent(body).replace(
        "BASE", base).replace("METHOD", method)
    returncode, out, err = run_python(code, timeout=60)
    assert returncode == 0, err
    return out.splitlines()


@pytest.mark.parametrize("kind", KINDS)
def test_a_listener_removed_from_two_of_its_callbacks_at_once(kind):
    # Both callbacks are inside before either removes the listener; the test holds no reference
    # of its own, so the subscription's is the last one besides the callbacks'.
    lines = run_case(kind, """
        inside = threading.Barrier(2, timeout=WAIT)
        removed, calls = [], []

        class Removing(dedezi.BASE):
            def METHOD(self, *args):
                calls.append(threading.get_ident())
                if len(calls) > 2:
                    return
                inside.wait()
                unsubscribe(self)
                removed.append(threading.get_ident())

        listener = Removing()
        subscribe(listener)
        freed = gone(listener)
        del listener
        before = live()
        fire()
        fire()
        assert freed.wait(WAIT), (calls, removed)
        print(len(set(calls)), len(set(removed)), held())
        fire(wait=True)
        print(len(calls), settled(before))
        session.logout()
    """)
    assert lines == ["2 2 0", "2 True"]


def test_two_listeners_that_remove_each_other_from_two_threads():
    lines = run_case("session status", """
        inside = threading.Barrier(2, timeout=WAIT)
        removed = []

        class Status(dedezi.AK7RSessionStatus):
            def on_session_status_changed(self, status):
                inside.wait()
                session.unsubscribe_chart_session_status(chart())
                removed.append("chart")

        class Chart(dedezi.AK7RChartSessionStatus):
            def on_chart_session_status_changed(self, status):
                inside.wait()
                session.unsubscribe_session_status(status_listener())
                removed.append("status")

        made = Status(), Chart()
        session.subscribe_session_status(made[0])
        session.subscribe_chart_session_status(made[1])
        status_listener, chart = (weakref.ref(listener) for listener in made)
        freed = [gone(listener) for listener in made]
        del made
        sim.fire_session_status(sid, 3, wait=False)
        sim.fire_chart_session_status(sid, 1, wait=False)
        assert all(f.wait(WAIT) for f in freed), removed
        print(sorted(removed), sim.subscribers(sid, "session_status"),
              sim.subscribers(sid, "chart_session_status"))
        session.logout()
    """)
    assert lines == ["['chart', 'status'] 0 0"]


def test_two_rollover_listeners_that_remove_each_other_from_two_threads():
    # The rollover provider holds its listeners by a plain pointer, so its unsubscribe waits for a
    # delivery to the listener under way on another thread: here, each for the other's.
    lines = run_case("session status", """
        provider = session.rollover_provider
        inside = threading.Barrier(2, timeout=WAIT)
        claim, claimed, removed = threading.Lock(), set(), []

        class Removing(dedezi.AK7RRolloverProviderListener):
            def on_status_changed(self, status):
                with claim:  # each delivery calls both: one thread takes each listener
                    if self.name in claimed:
                        return
                    claimed.add(self.name)
                inside.wait()
                provider.unsubscribe(other[self.name]())
                removed.append(self.name)

        made = {name: Removing() for name in "ab"}
        for name, listener in made.items():
            listener.name = name
            provider.subscribe(listener)
        other = {"a": weakref.ref(made["b"]), "b": weakref.ref(made["a"])}
        freed = [gone(listener) for listener in made.values()]
        del made, listener
        firing = [threading.Thread(target=sim.fire_rollover_status, args=(sid, 2)) for _ in range(2)]
        for thread in firing:
            thread.start()
        assert all(f.wait(WAIT) for f in freed), removed
        for thread in firing:
            thread.join(WAIT)
        print(sorted(removed), sim.service_subscribers(sid, "rollover"))
        session.logout()
    """)
    assert lines == ["['a', 'b'] 0"]


@pytest.mark.parametrize("remover", ["its own callback", "the late-call worker"])
@pytest.mark.parametrize("kind", KINDS)
def test_a_removal_while_another_threads_callback_still_runs(kind, remover):
    # The first callback runs until told to finish; meanwhile the listener is removed from a
    # library thread, which must not wait for it. No later delivery reaches the listener, and it
    # goes only once the first callback has returned.
    lines = run_case(kind, """
        running, removed, finish = threading.Event(), threading.Event(), threading.Event()
        calls, seen = [], []

        class Slow(dedezi.BASE):
            def METHOD(self, *args):
                calls.append(threading.get_ident())
                if len(calls) == 1:
                    running.set()
                    seen.append(removed.wait(WAIT))
                    finish.wait(WAIT)
                elif len(calls) == 2 and REMOVER == "its own callback":
                    remove(self)

        def remove(listener):
            unsubscribe(listener)
            removed.set()

        class Manager(dedezi.AK7RTableManagerListener):
            def on_status_changed(self, status, manager):
                if REMOVER == "the late-call worker" and running.is_set():
                    remove(target())

        REMOVER = "REMOVER_NAME"
        before = live()
        session.use_table_manager(dedezi.K7RTableManagerMode.YES, Manager())
        listener = Slow()
        subscribe(listener)
        target, freed = weakref.ref(listener), gone(listener)
        del listener
        fire()
        assert running.wait(WAIT)
        if REMOVER == "its own callback":
            fire()
        else:
            sim.set_manager_status(sid, 1, wait=False)
        print(removed.wait(WAIT))
        fire(wait=True)
        print(len(calls), freed.is_set())
        finish.set()
        print(freed.wait(WAIT), seen, held(), settled(before))
        session.logout()
    """.replace("REMOVER_NAME", remover))
    expected_calls = 2 if remover == "its own callback" else 1
    assert lines == ["True", f"{expected_calls} False", "True [True] 0 True"]
