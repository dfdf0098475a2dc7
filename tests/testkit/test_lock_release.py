"""Calls bound without the interpreter lock: the call runs lock-free, and the calling thread gets
its own thread state and the lock back on every way out, a raise included; with the refusal
policy, such a call made on a library thread raises before it waits."""
import pytest


@pytest.mark.parametrize("case, args", [
    ("call_runs_without_lock", ()),
    ("raise_inside_takes_lock_back", ()),
    ("two_blocked_threads_get_their_own_state_back", ("ab",)),
    ("two_blocked_threads_get_their_own_state_back", ("ba",)),
    ("other_thread_runs_while_one_waits", ()),
    ("wait_refused_on_library_thread", ()),
])
def test_lock_free_call(isolated, case, args):
    isolated("lock_release_cases", case, *args)
