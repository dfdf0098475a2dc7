"""tests/python/test_startup.py: what `import dedezi` registers, the docstrings it leaves, what
a registration that fails does to the import (through the test-only regfault build), and the
imports refused: in a sub-interpreter, and in an interpreter started again in the same process."""

import os
import re
import subprocess

import pytest

import dedezi
from helpers import BUILD_DIR, run_python
from test_constants import ENUMS

# Every public module attribute registered so far, by registration call.
EXPECTED_NAMES = {name for name, _, _ in ENUMS} | {
    "Constants", "AK7RSessionStatus", "K7RTransport", "K7RSessionDescriptor",
    "K7RSessionDescriptorCollection", "K7RSession", "AK7RChartSessionStatus"} | {
    # Columns, the generic row and the row classes of the seven tables.
    "K7RTableColumnType", "K7RTableColumn", "_K7RTableColumnCollection",
    "K7RTableColumnCollection", "K7RRow"} | {
    f"K7R{table}{kind}" for table in ("Offer", "Account", "Order", "Trade", "ClosedTrade",
                                      "Message", "Summary") for kind in ("Row", "TableRow")} | {
    # The table manager, its listener, the tables and their reader and iterator.
    "AK7RTableManagerListener", "_K7RGenericTableResponseReader", "K7RGenericTableResponseReader",
    "K7RTableIterator", "K7RTable", "K7RTableManager"} | {
    # Table events: the table, each-row, queue and updates-process listeners and the queues.
    "AK7RTableListener", "AK7REachRowListener", "AK7RAllEventQueueListener",
    "AK7RUpdateEventQueueListener", "AK7RUpdatesProcessStatusListener", "K7RAllEventQueue",
    "K7RAllEventQueueItem", "K7RUpdateEventQueue"} | {
    # Timeframes, requests, responses, the snapshot reader and the response listener.
    "K7RTimeFrameUnit", "K7RTimeFrame", "_K7RTimeFrameCollection", "K7RTimeFrameCollection",
    "K7RRequest", "K7RValueMap", "K7RRequestFactory", "K7RResponse", "K7RResponseReaderFactory",
    "K7RMarketDataSnapshotResponseReaderItem", "_K7RMarketDataSnapshotResponseReader",
    "K7RMarketDataSnapshotResponseReader", "AK7RResponseListener"} | {
    # The other readers: order response and last order update, market data, level 2, system
    # properties, tables updates.
    "K7ROrderResponseReader", "K7RLastOrderUpdateResponseReader", "K7RMarketDataResponseReader",
    "_K7RLevel2MarketDataUpdatesReader", "K7RLevel2MarketDataUpdatesReader",
    "_K7RLevel2MarketDataUpdatesReaderL1", "K7RLevel2MarketDataUpdatesReaderL1",
    "K7RLevel2MarketDataUpdatesReaderPrice", "K7RSystemProperty", "_K7RSystemPropertiesReader",
    "K7RSystemPropertiesReader", "K7RTablesUpdatesReaderItem", "_K7RTablesUpdatesReader",
    "K7RTablesUpdatesReader"} | {
    # Historical prices: the communicator, its requests, listeners and errors.
    "PlentaCommunicatorFactory", "TimeframeFactory", "PlentaCommunicatorRequest",
    "PlentaCommunicatorResponse", "APlentaCommunicatorListener",
    "APlentaCommunicatorStatusListener", "PlentaErrorCode", "ZorvatErrorCode", "PlentaError",
    "ZorvatError", "PlentaCommunicator"} | {
    # The session's services: login rules, permissions, trading settings, commissions, rollover,
    # system property changes and the time converter.
    "AK7RRolloverProviderListener", "K7RRolloverProvider", "AK7RCommissionProviderListener",
    "K7RCommissionsProvider", "K7RCommissionDescription", "K7RCommissionDescriptionsCollection",
    "K7RTimeConverter", "AK7RSystemPropertiesListener", "K7RLoginRules", "K7RMargins",
    "K7RTradingSettingsProvider", "K7RPermissionChecker"}

REGFAULT_DIR = os.path.join(BUILD_DIR, "regfault")
REGISTRATION_CALLS = 21
REPORT = re.compile(r"Exception (.*) in function 'init_module_dedezi' in file 'source\\main' "
                    r"line 58", re.DOTALL)
# What a generated signature looks like in either of the binding library's two styles.
SIGNATURE = re.compile(r"C\+\+ signature|\(\s*\(\w+\)\w+|\)\s*->\s*[\w.]+\s*:")

IMPORT_AND_TELL = """
import sys
try:
    import dedezi
except BaseException as error:
    print(type(error).__name__, error, "dedezi" in sys.modules)
    sys.exit(3)
print("imported", len(dir(dedezi.Constants)) > 0)
"""


def public_names(obj):
    return {name for name in dir(obj) if not name.startswith("__")}


def test_import_registers_exactly_the_expected_names():
    assert public_names(dedezi) == EXPECTED_NAMES


# Classes in the order their registration calls make them: the session's own registration makes
# its services first, and the login rules, trading settings and permission registrations come
# after the tables and the response listener.
REGISTRATION_ORDER = [
    "AK7RSessionStatus", "K7RTransport", "K7RResponseReaderFactory",
    "AK7RRolloverProviderListener", "K7RRolloverProvider", "AK7RCommissionProviderListener",
    "K7RCommissionsProvider", "K7RCommissionDescription", "K7RCommissionDescriptionsCollection",
    "K7RTimeConverter", "K7RSessionDescriptor", "K7RSessionDescriptorCollection", "K7RSession",
    "AK7RSystemPropertiesListener", "AK7RChartSessionStatus", "K7RTableManager",
    "AK7RResponseListener", "K7RLoginRules", "K7RMargins", "K7RTradingSettingsProvider",
    "K7RPermissionChecker", "PlentaCommunicatorFactory", "PlentaCommunicator"]


def test_classes_are_registered_in_the_fixed_order():
    # The module's namespace keeps the order in which its classes were made.
    order = [name for name in vars(dedezi) if name in REGISTRATION_ORDER]
    assert order == REGISTRATION_ORDER


def test_module_has_no_docstring_and_no_functions():
    assert dedezi.__doc__ is None
    callables = [name for name, value in vars(dedezi).items()
                 if callable(value) and not isinstance(value, type)]
    assert callables == []


def walk_docs(module):
    """Yields (path, docstring) for every class reachable from the module and every function,
    property and nested class in each class's own namespace."""
    seen = set()
    pending = [(name, value) for name, value in vars(module).items() if isinstance(value, type)]
    while pending:
        path, cls = pending.pop()
        if id(cls) in seen:
            continue
        seen.add(id(cls))
        yield path, cls.__doc__
        for name, member in vars(cls).items():
            member_path = f"{path}.{name}"
            if isinstance(member, type):
                if member.__module__ == module.__name__:
                    pending.append((member_path, member))
            elif isinstance(member, property):
                yield member_path, member.__doc__
                for accessor in (member.fget, member.fset):
                    if accessor is not None:
                        yield member_path, accessor.__doc__
            elif isinstance(member, (staticmethod, classmethod)):
                yield member_path, member.__func__.__doc__
            elif callable(member) and type(member).__name__ == "function":
                # The binding library's own function type: its __doc__ is where signatures land.
                yield member_path, member.__doc__


def test_no_docstring_carries_a_generated_signature():
    docs = list(walk_docs(dedezi))
    paths = {path for path, _ in docs}
    # The walk reaches the binding library's generated functions, so it would see a signature.
    assert "Constants.__init__" in paths and "Constants.Commands.__init__" in paths
    offending = [(path, doc) for path, doc in docs if doc and SIGNATURE.search(doc)]
    assert offending == []


def test_generated_functions_have_no_docstring():
    assert dedezi.Constants.__init__.__doc__ is None
    assert dedezi.Constants.Orders.__init__.__doc__ is None


def registration_lines(stderr):
    return [int(n) for n in re.findall(r"^registration call (\d+)$", stderr, re.MULTILINE)]


@pytest.mark.parametrize("fail_at", [1, 2, 11, 21])
def test_failed_registration_stops_the_sequence_and_fails_the_import(fail_at):
    code, out, err = run_python(IMPORT_AND_TELL, env={"DEDEZI_FAIL_AT_CALL": str(fail_at)},
                                path=REGFAULT_DIR)
    assert code == 3, err
    # The interpreter fails an import whose module body ends with an error set; the
    # registration's own error is what the report shows.
    assert out.strip() == "SystemError execution of module dedezi raised unreported exception False"
    assert registration_lines(err) == list(range(1, fail_at + 1))
    report = REPORT.search(err)
    assert report, err
    assert f"RuntimeError: registration call {fail_at} made to fail" in report.group(1)
    assert err.count("in function 'init_module_dedezi'") == 1


def test_regfault_build_without_a_fault_makes_all_calls_in_order():
    code, out, err = run_python(IMPORT_AND_TELL, path=REGFAULT_DIR)
    assert code == 0, err
    assert out.strip() == "imported True"
    assert registration_lines(err) == list(range(1, REGISTRATION_CALLS + 1))
    assert "Exception" not in err


def test_real_module_reads_no_fault_switch():
    code, out, err = run_python(IMPORT_AND_TELL, env={"DEDEZI_FAIL_AT_CALL": "1"})
    assert code == 0, err
    assert out.strip() == "imported True"
    assert "registration call" not in err


# A session logs in; its listener records, for each status it hears, how many callbacks its
# library thread made so far, as thread-local data counts them: one interpreter state of the
# thread's own keeps that data from one callback to the next.
LOGGED_IN = """
import threading
import dedezi, velvix_sim as sim
sim.reset()
Status = dedezi.AK7RSessionStatus.K7RSessionStatus
local = threading.local()

class StatusListener(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.calls, self.connected = [], threading.Event()

    def on_session_status_changed(self, status):
        local.calls = getattr(local, "calls", 0) + 1
        self.calls.append(local.calls)
        if status == Status.CONNECTED:
            self.connected.set()

    def on_login_failed(self, error):
        pass

session = dedezi.K7RTransport.create_session()
listener = StatusListener()
session.subscribe_session_status(listener)
assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
assert listener.connected.wait(10)
print("heard", listener.calls, flush=True)
"""

# The main interpreter after a sub-interpreter tried to import the modules (before or after the
# main interpreter imported them): it logs in and hears its callbacks as before.
SUB_INTERPRETER = """
import _xxsubinterpreters as interpreters
if MAIN_FIRST:
    import dedezi, velvix_sim
sub = interpreters.create()
for name in ("dedezi", "velvix_sim"):
    try:
        interpreters.run_string(sub, "import " + name)
        print(name, "imported")
    except interpreters.RunFailedError as error:
        print(error)
interpreters.destroy(sub)
""" + LOGGED_IN


@pytest.mark.parametrize("main_first", [False, True], ids=["sub-interpreter first", "main first"])
def test_a_sub_interpreter_cannot_import_and_the_main_interpreter_goes_on(main_first):
    code, out, err = run_python(f"MAIN_FIRST = {main_first}\n" + SUB_INTERPRETER)
    assert code == 0, err
    lines = out.splitlines()
    for name, line in zip(("dedezi", "velvix_sim"), lines):
        assert line.startswith(f"<class 'ImportError'>: {name} cannot be imported in a "
                               "sub-interpreter: "), out
    assert lines[2:] == ["heard [1, 2]"], out


# Two interpreters, one after the other, in one embedding process: the first logs in and hears
# its callbacks; the second is refused the modules, whose classes went with the first.
FIRST_START = LOGGED_IN
SECOND_START = """
for name in ("dedezi", "velvix_sim"):
    try:
        __import__(name)
        print(name, "imported", flush=True)
    except ImportError as error:
        print(error, flush=True)
"""


def test_an_interpreter_started_again_is_refused_the_import():
    env = dict(os.environ, PYTHONPATH=BUILD_DIR)
    ran = subprocess.run([os.path.join(BUILD_DIR, "interpreter_starts"), FIRST_START, SECOND_START],
                         env=env, capture_output=True, text=True, timeout=60)
    assert ran.returncode == 0, ran.stderr
    lines = ran.stdout.splitlines()
    assert lines[0] == "heard [1, 2]", ran.stdout + ran.stderr
    assert lines[1:] == [
        f"{name} cannot be imported again after the interpreter that first imported it was "
        "finalized: its classes stay bound to that interpreter until the process ends"
        for name in ("dedezi", "velvix_sim")], ran.stdout + ran.stderr
