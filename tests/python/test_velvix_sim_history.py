"""tests/python/test_velvix_sim_history.py: the historical-price and quotes-cache face of the
test-control extension. A communicator is made through the stand-in's factory symbol with ctypes
and released through its table, so that what the face reports is checked against the world."""

import ctypes
import os

import pytest

from test_velvix_sim import Session, Velvix

pytestmark = pytest.mark.timeout(60)

CREATE = "_ZN6plenta25PlentaCommunicatorFactory18createCommunicatorEP11IK7RSessionPKcPPNS_6IErrorE"


def plenta_release(ptr):
    # plenta::IAddRef: addRef, release, then the destructor.
    table = ctypes.cast(ctypes.c_void_p(ptr), ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)(table[1])(ptr)


@pytest.fixture
def communicator(sim):
    """(pointer, id) of a communicator for a session that never logged in."""
    velvix = Velvix()
    session = Session(velvix, sim)
    lib = ctypes.CDLL(os.path.join(os.environ["DEDEZI_BUILD_DIR"], "libplenta.so"))
    create = getattr(lib, CREATE)
    create.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    create.restype = ctypes.c_void_p
    ptr = create(session.ptr, b"", None)
    assert ptr
    yield ptr, sim.communicators()[-1]
    if sim.communicators():
        plenta_release(ptr)
    session.release()


def test_communicators_are_listed_until_released(sim, communicator):
    ptr, comm_id = communicator
    assert sim.communicators() == [comm_id]
    assert sim.kind_of(comm_id) == "plenta::IPlentaCommunicator"
    assert sim.communicator_listeners(comm_id) == (0, 0)
    assert sim.fire_communicator_status(comm_id, True) is True
    assert sim.fire_communicator_init_failed(comm_id, dict(code=99, message=None)) is True
    assert sim.journal("PlentaCommunicatorFactory::createCommunicator") == [
        ("PlentaCommunicatorFactory::createCommunicator", (True, b"", False))]
    plenta_release(ptr)
    assert sim.communicators() == []
    with pytest.raises(LookupError):
        sim.communicator_listeners(comm_id)


@pytest.mark.parametrize("hook, args, error", [
    ("plenta_complete", (0,), LookupError),
    ("plenta_fail", (3, dict(code=1)), LookupError),
    ("plenta_cancel", (1,), LookupError),
    ("plenta_fail_next", ("getZorvat",), ValueError),
    ("plenta_null_next", ("createRequest",), ValueError),
    ("zorvat_fail_next", ("getTimeframes", None), ValueError),
    ("zorvat_null_next", ("executeTask",), ValueError),
    ("zorvat_task_outcome", ("done",), ValueError),
    ("communicator_listeners", (123456789,), LookupError),
    ("fire_communicator_status", (123456789, True), LookupError),
])
def test_hooks_reject_what_they_do_not_know(sim, hook, args, error):
    with pytest.raises(error):
        getattr(sim, hook)(*args)


def test_scripts_are_taken_and_reset_clears_them(sim):
    sim.plenta_hold(True)
    assert sim.plenta_pending() == []
    sim.plenta_fail_next("sendRequest", dict(code=2, message="m", nested=dict(code=4, sub_code=7, message=None)))
    sim.plenta_null_next("getZorvat")
    sim.zorvat_loaded(True)
    sim.zorvat_task_outcome("failed", dict(code=123, sub_code=-1, message=None))
    sim.zorvat_fail_next("executeTask", None)
    sim.zorvat_instruments([("EUR/USD", ["m1", "m1"]), ("X", [])])
    sim.zorvat_timeframes(["H1", "H1"])
    assert sim.zorvat_tasks_created() == 0
    sim.reset()
    assert sim.plenta_pending() == []
    assert sim.zorvat_tasks_created() == 0
