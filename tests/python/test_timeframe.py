"""tests/python/test_timeframe.py: the request factory's timeframe collection: lookups by
identifier and by index, what the library gives outside the collection, iteration, the unit
enum, the references held, and the classes Python cannot make."""

import gc

import pytest

import dedezi
from helpers import new_session

pytestmark = pytest.mark.timeout(60)

Unit = dedezi.K7RTimeFrameUnit
IDS = ["t1", "m1", "m5", "m15", "m30", "H1", "H2", "H3", "H4", "H6", "H8", "D1", "W1", "M1"]
NOT_A_KEY = "Strings and integer only support as value"


@pytest.fixture
def timeframes(sim):
    session, _ = new_session(sim)
    return session.request_factory.timeframe_collection


def described(timeframe):
    return (timeframe.id, timeframe.unit, timeframe.size, timeframe.query_depth)


@pytest.mark.parametrize("tf_id", ["t1", "m5", "H1", "M1"])
def test_the_three_lookups_by_identifier_agree(timeframes, tf_id):
    by_id = timeframes.get_by_id(tf_id)
    assert by_id.id == tf_id
    assert described(timeframes[tf_id]) == described(timeframes.get(tf_id)) == described(by_id)


def test_lookup_by_index_is_the_collection_order(timeframes):
    assert [timeframes[i].id for i in range(len(timeframes))] == IDS
    assert timeframes.get(5).id == "H1"
    # bool is an int: True is index 1.
    assert timeframes[True].id == "m1"


@pytest.mark.parametrize("key", ["X9", "", 14, -1], ids=["unknown id", "empty id", "size", "-1"])
def test_what_the_collection_does_not_hold_gives_none(timeframes, key):
    assert timeframes[key] is None
    assert timeframes.get(key) is None
    if isinstance(key, str):
        assert timeframes.get_by_id(key) is None


@pytest.mark.parametrize("key", [1.0, None, [1]], ids=["float", "None", "list"])
def test_keys_neither_string_nor_integer_are_refused(timeframes, key):
    for lookup in (timeframes.__getitem__, timeframes.get):
        with pytest.raises(ValueError, match=f"^{NOT_A_KEY}$"):
            lookup(key)


def test_length_and_iteration(timeframes):
    assert len(timeframes) == timeframes.size == len(IDS)
    assert [tf.id for tf in timeframes] == IDS
    it = iter(timeframes)
    for _ in IDS:
        next(it)
    with pytest.raises(StopIteration):
        next(it)


@pytest.mark.parametrize("tf_id, unit, size", [
    ("t1", Unit.TICK, 1), ("m15", Unit.MIN, 15), ("H8", Unit.HOUR, 8), ("D1", Unit.DAY, 1),
    ("W1", Unit.WEEK, 1), ("M1", Unit.MONTH, 1)])
def test_timeframe_members(timeframes, tf_id, unit, size):
    timeframe = timeframes[tf_id]
    assert type(timeframe.unit) is Unit and timeframe.unit == unit
    assert timeframe.size == len(timeframe) == size
    assert isinstance(timeframe.query_depth, int) and timeframe.query_depth > 0


def test_unit_enum_values_stay_in_their_class():
    assert [int(getattr(Unit, name)) for name in
            ("TICK", "MIN", "HOUR", "DAY", "WEEK", "MONTH", "YEAR")] == list(range(7))
    assert not hasattr(dedezi, "TICK") and not hasattr(dedezi, "HOUR")


def test_no_reference_is_left_after_dropping(sim):
    kinds = ("IK7RTimeframeCollection", "IK7RTimeframe", "IK7RRequestFactory")
    session, _ = new_session(sim)
    before = {kind: sim.live(kind) for kind in kinds}
    factory = session.request_factory
    collection = factory.timeframe_collection
    # The collection outlives the factory it came from.
    del factory
    gc.collect()
    held = [collection[i] for i in range(len(collection))] + list(collection)
    held.append(collection.get_by_id("H1"))
    assert [tf.id for tf in held[:3]] == IDS[:3]
    del held, collection
    gc.collect()
    assert {kind: sim.live(kind) for kind in kinds} == before


@pytest.mark.parametrize("cls", ["K7RTimeFrame", "K7RTimeFrameCollection", "_K7RTimeFrameCollection"])
def test_python_cannot_make_the_classes(cls):
    with pytest.raises(RuntimeError):
        getattr(dedezi, cls)()
