"""tests/python/test_plenta_error.py: PlentaError and ZorvatError as a failure report hands them
to Python: their codes (inside and outside the tables), null texts and the nested error."""

import gc

import pytest

import dedezi
from test_plenta_communicator_listener import Listener, outcome

pytestmark = pytest.mark.timeout(60)

Code = dedezi.PlentaErrorCode
ZCode = dedezi.ZorvatErrorCode


def failure(sim, comm, m1, error):
    listener = Listener()
    outcome(sim, comm, listener, m1, "fail", error=error)
    ((_, _, reported),) = listener.calls.items
    return reported


def test_not_ready_without_nested_error(sim, communicator, m1):
    error = failure(sim, communicator[0], m1, dict(code=1, message=None))
    assert (error.code, error.message, error.zorvat_error) == (Code.NOT_READY, None, None)


def test_nested_error_is_read_through_and_released(sim, communicator, m1):
    error = failure(sim, communicator[0], m1, dict(
        code=0, message="cache", nested=dict(code=10, sub_code=-3, message=None)))
    assert (error.code, error.message) == (Code.ZORVAT_ERROR, "cache")
    live = sim.live("zorvat::IError")
    first, second = error.zorvat_error, error.zorvat_error
    assert first is not second
    assert (first.code, first.sub_code, first.message) == (ZCode.LIMIT_REACHED, -3, None)
    del first, second
    gc.collect()
    assert sim.live("zorvat::IError") == live


def test_enum_values_stay_in_their_classes():
    assert [int(Code.names[n]) for n in ("ZORVAT_ERROR", "NOT_READY", "BAD_ARGUMENTS",
                                         "OTHER_ERROR")] == [0, 1, 2, 3]
    assert int(ZCode.LIMIT_REACHED) == 10 and int(ZCode.LOCKED) == 0
    assert not hasattr(dedezi, "NOT_READY") and not hasattr(dedezi, "LOCKED")
