"""tests/python/test_plenta_timeframe_factory.py: TimeframeFactory and PlentaCommunicatorRequest's
timeframe: what reaches the library, null and refused timeframes, and the references taken."""

import gc

import pytest

import dedezi
from helpers import journal_calls as calls

pytestmark = pytest.mark.timeout(60)

Unit = dedezi.K7RTimeFrameUnit


def test_an_unknown_identifier_gives_none(communicator):
    factory = communicator[0].timeframe_factory
    assert factory.create("x9") is None
    assert (factory.create("H12").unit, factory.create("H12").size) == (Unit.HOUR, 12)


@pytest.mark.parametrize("unit, size", [(Unit.MIN, 7), (Unit.DAY, 1), (Unit.TICK, 1)])
def test_create_by_unit_passes_unit_and_size(sim, communicator, unit, size):
    factory = communicator[0].timeframe_factory
    sim.clear_journal()
    timeframe = factory.create_by_unit(unit, size)
    assert calls(sim, "createByUnit") == [(int(unit), size)]
    assert (timeframe.unit, timeframe.size) == (unit, size)


def test_a_refused_size_raises_the_library_error(communicator):
    with pytest.raises(Exception, match=r"^Plenta error: .* code: BadArguments$"):
        communicator[0].timeframe_factory.create_by_unit(Unit.MIN, 0)


def test_no_factory_gives_none(sim, communicator):
    sim.plenta_null_next("getTimeframeFactory")
    assert communicator[0].timeframe_factory is None


def test_reading_the_timeframe_twice_gives_two_references(sim, communicator, m1):
    request = communicator[0].create_request("EUR/USD", m1)
    tf_id = sim.objects("IK7RTimeframe")[-1]  # m1, the newest timeframe
    before = sim.refcount(tf_id)
    first, second = request.timeframe, request.timeframe
    assert first is not second and first.id == second.id == "m1"
    assert sim.refcount(tf_id) == before + 2
    del first, second
    gc.collect()
    assert sim.refcount(tf_id) == before
