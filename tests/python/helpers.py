"""tests/python/helpers.py: running code in an interpreter of its own, for tests whose subject is
the import itself or that could hang or crash the interpreter; collecting what listeners receive;
making a session."""

import math
import os
import re
import signal
import subprocess
import threading
import time

import pytest

PYTHON = "/usr/bin/python3"
BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR", "")


def run_python(code, *, env=None, path=None, timeout=60):
    """Runs `code` in a fresh interpreter with `path` (default: the build folder) first on
    PYTHONPATH and `env` added to this process's environment; returns (returncode, stdout,
    stderr). A child still running after `timeout` seconds is made to dump its stacks and the
    test fails with them."""
    child_env = dict(os.environ)
    search = [path or BUILD_DIR]
    if child_env.get("PYTHONPATH"):
        search.append(child_env["PYTHONPATH"])
    child_env["PYTHONPATH"] = os.pathsep.join(search)
    child_env.update(env or {})
    proc = subprocess.Popen([PYTHON, "-X", "faulthandler", "-c", code], env=child_env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        # faulthandler answers SIGABRT with every thread's stack.
        proc.send_signal(signal.SIGABRT)
        try:
            out, err = proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
        pytest.fail(f"child interpreter still running after {timeout}s\n"
                    f"--- stdout\n{out}\n--- stderr\n{err}")
    return proc.returncode, out, err


class Recorder:
    """Collects what listener callbacks receive, from any thread, and waits for it with a
    deadline."""

    def __init__(self):
        self._items = []
        self._changed = threading.Condition()

    def add(self, item):
        with self._changed:
            self._items.append(item)
            self._changed.notify_all()

    def wait_until(self, predicate, timeout=5.0):
        """The items once `predicate(items)` holds, or when the time ran out."""
        with self._changed:
            self._changed.wait_for(lambda: predicate(self._items), timeout)
            return list(self._items)

    def wait_for(self, count, timeout=5.0):
        """The items once there are at least `count` (fewer if the time ran out)."""
        return self.wait_until(lambda items: len(items) >= count, timeout)

    @property
    def items(self):
        with self._changed:
            return list(self._items)

    def clear(self):
        """Lets go of what was collected."""
        with self._changed:
            self._items.clear()


def new_session(sim):
    """A session made through the module, with its id in the simulated world."""
    import dedezi

    before = set(sim.sessions())
    session = dedezi.K7RTransport.create_session()
    (session_id,) = set(sim.sessions()) - before
    return session, session_id


def references(sim, kinds):
    """{object id: reference count} of every live stand-in object of these kinds."""
    return {obj: sim.refcount(obj) for kind in kinds for obj in sim.objects(kind)}


def settled_refcount(sim, obj, seconds=2.0):
    """The reference count of `obj` once it stopped changing: a callback that has just reported
    may still hold its arguments for a moment."""
    value, deadline = sim.refcount(obj), time.monotonic() + seconds
    while time.monotonic() < deadline:
        time.sleep(0.02)
        now = sim.refcount(obj)
        if now == value:
            return now
        value = now
    return value


# Source of module_classes(): every class reachable from the module, nested ones included. Kept as
# text so that child interpreters can run it too.
MODULE_CLASSES = """
import dedezi

def module_classes():
    found, classes = [], [dedezi]
    while classes:
        for value in vars(classes.pop()).values():
            if isinstance(value, type) and value.__module__ == "dedezi" and value not in found:
                found.append(value)
                classes.append(value)
    return found
"""


def manager_listener():
    """A table manager listener that records the statuses it is told."""
    import dedezi

    class ManagerListener(dedezi.AK7RTableManagerListener):
        def __init__(self):
            super().__init__()
            self.statuses = Recorder()

        def on_status_changed(self, status, manager):
            self.statuses.add(status)

    return ManagerListener()


class Tables:
    """A logged-in demo session's tables, and rows put into them through the simulated server."""

    def __init__(self, sim, session_id, manager):
        self.sim, self.session_id, self.manager = sim, session_id, manager

    def insert(self, table_type, values, **options):
        """The new row, read back from its table (rows are appended)."""
        self.sim.insert_row(self.session_id, int(table_type), values, **options)
        table = self.manager.get_table(table_type)
        return table.get_row(table.size - 1)


URL, CONNECTION = "http://sim.local/Hosts.jsp", "Demo"


def journal_calls(sim, op):
    """The journaled arguments of every call of `op` (the name after "::"), oldest first."""
    return [args for name, args in sim.journal() if name.split("::")[-1] == op]


def session_status_recorder():
    """A session status listener that records each status, and each login failure's text."""
    import dedezi

    class StatusListener(dedezi.AK7RSessionStatus):
        def __init__(self):
            super().__init__()
            self.statuses = Recorder()

        def on_session_status_changed(self, status):
            self.statuses.add(status)

        def on_login_failed(self, error):
            self.statuses.add(error)

    return StatusListener()


def log_in(session):
    """Logs `session` in as demo/demo and waits until it is connected."""
    import dedezi

    Status = dedezi.AK7RSessionStatus.K7RSessionStatus
    status = session_status_recorder()
    session.subscribe_session_status(status)
    assert session.login("demo", "demo", URL, CONNECTION)
    statuses = status.statuses.wait_for(2, timeout=10)
    session.unsubscribe_session_status(status)
    assert statuses[:2] == [Status.CONNECTING, Status.CONNECTED]


def plenta_status_recorder():
    """A communicator status listener that records ("status", ready) and ("init_failed", error)."""
    import dedezi

    class StatusRecorder(dedezi.APlentaCommunicatorStatusListener):
        def __init__(self):
            super().__init__()
            self.events = Recorder()

        def on_communicator_status_changed(self, status):
            self.events.add(("status", status))

        def on_communicator_init_failed(self, error):
            self.events.add(("init_failed", error))

    return StatusRecorder()


def ready_communicator(session):
    """A history communicator for the logged-in `session`, once it reports ready."""
    import dedezi

    communicator = dedezi.PlentaCommunicatorFactory.create_communicator(session, "")
    status = plenta_status_recorder()
    communicator.add_status_listener(status)
    status.events.wait_until(lambda _: communicator.is_ready(), timeout=10)
    communicator.remove_status_listener(status)
    assert communicator.is_ready()
    return communicator


_BOILERPLATE = {"__module__", "__doc__", "__reduce__", "__init__", "__instance_size__",
                "__dict__", "__weakref__"}


def members(cls):
    """(name, docstring) of everything a registration put into a class, in registration order
    (the binding library opens a function's docstring with a newline)."""
    return [(name, member.__doc__.lstrip("\n") if member.__doc__ else None)
            for name, member in vars(cls).items() if name not in _BOILERPLATE]


def send_command(session, listener, params, children=()):
    """Builds an order request from {K7RRequestParamsEnum: str, int or float} (and a child value
    map of each of `children`, alike), sends it and gives its request id; the outcome arrives at
    `listener`."""
    factory = session.request_factory

    def value_map(params):
        built = factory.create_value_map()
        for param, value in params.items():
            if isinstance(value, str):
                built.set_string(param, value)
            elif isinstance(value, float):
                built.set_double(param, value)
            else:
                built.set_int(param, value)
        return built

    parent = value_map(params)
    for child in children:
        parent.append_child(value_map(child))
    request = factory.create_order_request(parent)
    assert request is not None, factory.last_error
    session.send_request(request)
    return request.request_id


CALLBACK_REPORT = re.compile(r"Exception (?P<text>.*?) in function '(?P<function>\w+)' in file "
                             r"'(?P<file>[^']*)' line (?P<line>\d+)\n", re.DOTALL)


def callback_reports(err):
    """(text, callback name, file, line) of each callback error report written to `err`."""
    return [(m["text"].strip(), m["function"], m["file"], int(m["line"]))
            for m in CALLBACK_REPORT.finditer(err)]


# The start of a child interpreter's code (run_python): a demo session logged in with its tables
# loaded and prices held still, as `session`, its id `sid` and its table `manager`.
LOGGED_IN_CHILD = """
import threading
import dedezi, velvix_sim as sim
sim.reset()
before = set(sim.sessions())
session = dedezi.K7RTransport.create_session()
(sid,) = set(sim.sessions()) - before
sim.use_table_manager(sid)
assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
assert sim.wait_manager_status(sid, 1)
sim.price_ticks(False)
manager = session.table_manager
"""


def row_classes():
    """Each trading table: its key column, and the Python classes of its plain rows and table
    rows."""
    import dedezi
    T = dedezi.K7RTableType
    return {
        T.OFFERS: ("OfferID", dedezi.K7ROfferRow, dedezi.K7ROfferTableRow),
        T.ACCOUNTS: ("AccountID", dedezi.K7RAccountRow, dedezi.K7RAccountTableRow),
        T.ORDERS: ("OrderID", dedezi.K7ROrderRow, dedezi.K7ROrderTableRow),
        T.TRADES: ("TradeID", dedezi.K7RTradeRow, dedezi.K7RTradeTableRow),
        T.CLOSED_TRADES: ("TradeID", dedezi.K7RClosedTradeRow, dedezi.K7RClosedTradeTableRow),
        T.MESSAGES: ("MsgID", dedezi.K7RMessageRow, dedezi.K7RMessageTableRow),
        T.SUMMARY: ("OfferID", dedezi.K7RSummaryRow, dedezi.K7RSummaryTableRow),
    }


def server_round(value, places):
    """`value` to `places` decimals as the simulated server rounds money and pips: value times
    10**places, half away from zero. Python's round() works from the exact binary value instead,
    and differs from it at the halves."""
    scale = 10 ** places
    return math.copysign(math.floor(abs(value * scale) + 0.5), value) / scale
