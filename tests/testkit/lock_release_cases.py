"""Cases of calls bound without the interpreter lock. Each runs in an interpreter of its own
(see test_lock_release.py), since a fault here hangs rather than fails."""
import threading

import dedezi_testkit as kit

DEADLINE = 20


def _thread(target, *args):
    worker = threading.Thread(target=target, args=args, daemon=True)
    worker.start()
    return worker


def _join(worker):
    worker.join(DEADLINE)
    assert not worker.is_alive(), "thread did not return"


def call_runs_without_lock():
    gate = kit.Gate()
    assert kit.lock_held()
    assert gate.lock_held_inside() is False
    assert kit.lock_held()


def raise_inside_takes_lock_back():
    gate = kit.Gate()
    state = kit.thread_state()
    for _ in range(3):
        try:
            gate.raise_empty_queue()
        except ValueError as error:
            assert str(error) == "Event queue is empty"
        else:
            raise AssertionError("no ValueError")
        assert kit.lock_held()
        assert kit.thread_state() == state
    # The interpreter still runs normally: another thread starts, runs and ends.
    ran = []
    _join(_thread(ran.append, "ran"))
    assert ran == ["ran"]


def two_blocked_threads_get_their_own_state_back(order):
    gate = kit.Gate()
    seen = {}

    def waiter(lane):
        before = kit.thread_state()
        held = gate.wait(lane)
        seen[lane] = (before, kit.thread_state(), held, kit.lock_held())

    workers = {lane: _thread(waiter, lane) for lane in "ab"}
    assert gate.await_waiting(2, DEADLINE), "both threads never waited at once"
    for lane in order:
        gate.open(lane)
        _join(workers[lane])
    for lane, (before, after, held, held_after) in seen.items():
        assert before == after, f"thread {lane} came back with another thread state"
        assert held is False and held_after is True
    assert seen["a"][0] != seen["b"][0]


def other_thread_runs_while_one_waits():
    gate = kit.Gate()
    returned = threading.Event()

    def waiter():
        gate.wait("a")
        returned.set()

    def opener():
        ran_while_blocked.append(gate.waiting == 1 and not returned.is_set())
        gate.open("a")

    ran_while_blocked = []
    blocked = _thread(waiter)
    assert gate.await_waiting(1, DEADLINE)
    # A second Python thread runs Python code while the first is blocked, then lets it go.
    _join(_thread(opener))
    assert ran_while_blocked == [True]
    assert returned.wait(DEADLINE)
    _join(blocked)
    assert gate.waiting == 0


def wait_refused_on_library_thread():
    gate = kit.Gate()
    gate.open("a")
    assert gate.refusing_wait("a") is False  # on a Python thread it waits (its lane is open)
    try:
        kit.call_on_library_thread(lambda: gate.refusing_wait("a"))
    except RuntimeError as error:
        assert "inside a listener callback" in str(error), str(error)
    else:
        raise AssertionError("no RuntimeError")
    # Refused before the call: nothing waited, and the library thread's own call works.
    assert gate.waiting == 0
    assert kit.call_on_library_thread(lambda: gate.wait("a")) is False
