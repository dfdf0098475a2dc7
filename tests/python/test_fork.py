"""tests/python/test_fork.py: a process forked while the module is in use. Whatever the parent's
threads were doing at the fork, the child starts from what a new process would have: a new
session logs in and hears its callbacks, and the child ends at once, with status 0, by sys.exit
where it runs on the main thread.
Each case runs in an interpreter of its own, which forks."""

import os

import pytest

from helpers import BUILD_DIR, run_python

HERE = os.path.dirname(os.path.abspath(__file__))

pytestmark = pytest.mark.timeout(120)

# The parent: brings its world to STATE, forks from FORKER ("main", or a Python thread while the
# main thread waits for it) by HOW, and prints how the child ended and how long it took.
FORKING = r"""
import multiprocessing, os, select, signal, sys, threading, time, traceback
import dedezi, velvix_sim as sim
from helpers import log_in, manager_listener

Status = dedezi.AK7RSessionStatus.K7RSessionStatus


class StatusListener(dedezi.AK7RSessionStatus):
    def __init__(self, hold):
        super().__init__()
        self.connected, self.inside, self.hold = threading.Event(), threading.Event(), hold

    def on_session_status_changed(self, status):
        if status == Status.CONNECTED:
            self.connected.set()
        elif status == Status.DISCONNECTING:
            self.inside.set()
            self.hold.wait()

    def on_login_failed(self, error):
        pass


def before_fork():
    # What the parent holds across the fork, and what it does once it has forked.
    sim.reset()
    if STATE == "worker started":
        session = dedezi.K7RTransport.create_session()
        manager = manager_listener()
        # The manager's statuses reach it through the late-call worker.
        session.use_table_manager(dedezi.K7RTableManagerMode.YES, manager)
        assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
        loaded = dedezi.K7RTableManagerStatus.TABLES_LOADED
        assert loaded in manager.statuses.wait_until(lambda statuses: loaded in statuses)
        return (session, manager), lambda: None
    hold = threading.Event()
    session, listener = dedezi.K7RTransport.create_session(), StatusListener(hold)
    session.subscribe_session_status(listener)
    assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
    assert listener.connected.wait(5)
    if STATE == "ended state":
        # The library's thread ends: its interpreter state waits for the main thread to delete it.
        dedezi.K7RTransport.finalize()
        return (session, listener), lambda: None
    session.logout()
    assert listener.inside.wait(5)
    return (session, listener), hold.set


def child(inherited):
    if STATE == "ended state":
        sim.reset()  # the parent finalized the library before the fork
    if STATE == "callback running":
        # Inherited from the parent with a callback of its running on a thread the fork left
        # behind: giving it back waits for nothing.
        session, listener = inherited
        session.unsubscribe_session_status(listener)
    # A table manager's statuses come through the late-call worker, which starts anew here.
    session, manager = dedezi.K7RTransport.create_session(), manager_listener()
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, manager)
    log_in(session)
    loaded = dedezi.K7RTableManagerStatus.TABLES_LOADED
    assert loaded in manager.statuses.wait_until(lambda statuses: loaded in statuses, 10)
    print("child heard its callback", flush=True)


def ended(pid, timeout):
    # The child's exit status, or "running" (and it is killed) after `timeout` seconds.
    fd = os.pidfd_open(pid)
    ready, _, _ = select.select([fd], [], [], timeout)
    os.close(fd)
    if not ready:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return "running"
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])


def fork(inherited=None, after_fork=lambda: None):
    if FORKER != "callback":
        inherited, after_fork = before_fork()
    start = time.monotonic()
    if HOW == "multiprocessing":
        process = multiprocessing.get_context("fork").Process(target=child, args=(inherited,))
        process.start()
        after_fork()
        process.join(10)
        status = "running" if process.exitcode is None else process.exitcode
        if process.exitcode is None:
            process.kill()
    else:
        pid = os.fork()
        if pid == 0:
            try:
                child(inherited)
            except BaseException:
                traceback.print_exc()
                os._exit(1)
            # Forked from a thread, the child goes on in that thread, where sys.exit would end
            # it alone: it ends as a multiprocessing child does.
            if FORKER == "main":
                sys.exit(0)
            os._exit(0)
        after_fork()
        status = ended(pid, 10)
    print(f"child ended {status} after {time.monotonic() - start:.1f}s", flush=True)


def fork_inside():
    # From a callback: a session status listener's on the library's delivery thread, or a table
    # manager listener's on the late-call worker. The child goes on inside that callback.
    sim.reset()
    forked = threading.Event()
    on_worker = STATE == "inside a late-call job"
    Base = dedezi.AK7RTableManagerListener if on_worker else dedezi.AK7RSessionStatus
    wanted = dedezi.K7RTableManagerStatus.TABLES_LOADED if on_worker else Status.CONNECTED

    class Forking(Base):
        def on_status_changed(self, status, manager=None):
            if status == wanted and not forked.is_set():
                fork()
                forked.set()

        on_session_status_changed = on_status_changed

        def on_login_failed(self, error):
            pass

    session, listener = dedezi.K7RTransport.create_session(), Forking()
    if on_worker:
        session.use_table_manager(dedezi.K7RTableManagerMode.YES, listener)
    else:
        session.subscribe_session_status(listener)
    assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
    assert forked.wait(30)
    if not on_worker:
        session.unsubscribe_session_status(listener)
    session.logout()


if FORKER == "main":
    fork()
elif FORKER == "callback":
    fork_inside()
else:
    forker = threading.Thread(target=fork)
    forker.start()
    forker.join()
"""

# (the parent's state at the fork, the thread that forks, how).
CASES = [
    ("ended state", "thread", "os.fork"),
    ("ended state", "thread", "multiprocessing"),
    ("callback running", "main", "os.fork"),
    ("callback running", "thread", "multiprocessing"),
    ("worker started", "main", "os.fork"),
    ("worker started", "thread", "multiprocessing"),
    ("inside a callback", "callback", "os.fork"),
    ("inside a callback", "callback", "multiprocessing"),
    ("inside a late-call job", "callback", "os.fork"),
]


@pytest.mark.parametrize("state, forker, how", CASES)
def test_a_forked_child_logs_in_hears_its_callbacks_and_ends_at_once(state, forker, how):
    code, out, err = run_python(f"STATE, FORKER, HOW = {state!r}, {forker!r}, {how!r}\n" + FORKING,
                                path=os.pathsep.join([BUILD_DIR, HERE]))
    assert code == 0, err
    assert "child heard its callback" in out, out + err
    ending = out.strip().splitlines()[-1].split()
    assert ending[:3] == ["child", "ended", "0"], out + err
    # Its exit waits for no thread of the parent's.
    assert float(ending[-1].rstrip("s")) < 3.0, out
