"""tests/stress/test_stress.py: the standing stress suite. Every case of cases.py runs in an
interpreter of its own under a time limit; the exit and finalize cases run several interpreters at
once and repeat, since their faults show in a fraction of runs. A run passes when its interpreter
ends normally (no signal, no abort, no sanitizer report) after printing "ok"."""

import os
import signal
import subprocess
import sys
import time

import pytest

from cases import KINDS, WAITS
from conftest import BUILD_DIR

HERE = os.path.dirname(os.path.abspath(__file__))
RUN_LIMIT = 40  # seconds for one interpreter, start to exit

pytestmark = pytest.mark.timeout(4 * RUN_LIMIT)

# The sanitizer build's allocator (GCC 12's libasan) does nothing around a fork: a child forked
# while another thread is inside it finds its lock held for good, and hangs at its first
# allocation of that size. The cases that fork during churn run on the ordinary build only.
fork_under_churn = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer's allocator is not fork-safe: a child may find its lock held")


def run(case, *args, runs=1):
    """Runs cases.case(*args) in `runs` interpreters at once; gives their (returncode, stdout,
    stderr). One still running at the limit dumps its stacks and counts as a failure."""
    code = f"import cases\ncases.{case}(*{args!r})\n"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([BUILD_DIR, HERE]))
    children = [subprocess.Popen([sys.executable, "-X", "faulthandler", "-c", code], env=env, cwd=HERE,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                for _ in range(runs)]
    deadline = time.monotonic() + RUN_LIMIT
    results = []
    for child in children:
        try:
            out, err = child.communicate(timeout=max(deadline - time.monotonic(), 0.1))
        except subprocess.TimeoutExpired:
            child.send_signal(signal.SIGABRT)  # faulthandler prints every thread's stack
            try:
                out, err = child.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                child.kill()
                out, err = child.communicate()
            err = f"still running after {RUN_LIMIT}s\n{err}"
        results.append((child.returncode, out, err))
    return results


def passed(results):
    """Fails with the first run that did not end normally after printing "ok"; gives the lines
    each run printed."""
    for number, (returncode, out, err) in enumerate(results):
        lines = out.split("\n")
        assert returncode == 0 and lines[-2:] == ["ok", ""], (
            f"run {number + 1} of {len(results)}: exit code {returncode}\n"
            f"--- stdout\n{out[-3000:]}\n--- stderr\n{err[-6000:]}")
    return [out.split("\n")[:-2] for _, out, _ in results]


@pytest.mark.parametrize("kind", KINDS)
def test_churn_during_callback_bursts(kind):
    passed(run("churn", kind, runs=2))


@pytest.mark.parametrize("kind", KINDS)
@fork_under_churn
def test_forks_during_callback_bursts(kind):
    passed(run("fork_during_churn", kind, runs=2))


@fork_under_churn
def test_forks_while_the_desk_trades():
    passed(run("fork_during_trading", runs=2))


@pytest.mark.parametrize("action", ["unsubscribe_inside", "logout_inside", "finalize_inside"])
@pytest.mark.parametrize("kind", KINDS)
def test_from_inside_a_callback(action, kind):
    passed(run(action, kind))


@pytest.mark.parametrize("kind", KINDS)
def test_a_listener_removed_on_several_threads_at_once(kind):
    passed(run("unsubscribe_on_threads", kind))


@pytest.mark.parametrize("wait", WAITS)
@pytest.mark.parametrize("kind", KINDS)
def test_a_wait_inside_a_callback_is_refused(kind, wait):
    passed(run("wait_inside", kind, wait))


@pytest.mark.parametrize("wait, ending",
                         [(wait, ending) for wait in WAITS for ending in WAITS[wait].endings])
def test_a_wait_never_answered_ends(wait, ending):
    (lines,) = passed(run("wait_ended", wait, ending))
    assert lines == [WAITS[wait].endings[ending]]


@pytest.mark.parametrize("ending", ["exit", "answered", "finalize", "finalize_at_exit"])
@pytest.mark.parametrize("wait", WAITS)
def test_exit_with_threads_waiting(wait, ending):
    passed(run("exit_while_waiting", wait, ending, runs=8))


# Past the exit's wait for running callbacks (5 s), the interpreter ends the callback's thread.
@pytest.mark.parametrize("seconds, style, kind", [(1.0, "spin", "session_status"), (7.0, "sleep", "session_status"),
                                                  (7.0, "print", "session_status"), (7.0, "sleep", "table_update")])
def test_exit_with_callbacks_running(seconds, style, kind):
    passed(run("exit_while_callback_runs", seconds, style, kind, runs=3))


def test_finalize_with_callbacks_fetches_and_hooks_in_flight():
    passed(run("finalize_in_flight", runs=6))
