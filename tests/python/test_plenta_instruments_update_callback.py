"""tests/python/test_plenta_instruments_update_callback.py: timeframe_collection through the quotes
cache: the update task only when needed and each of its outcomes, instrument matching, the order
and uniqueness of the collection, and what happens without a list."""

import gc

import pytest


pytestmark = pytest.mark.timeout(60)

GENERAL = ["t1", "m1", "m5", "m15", "m30", "H1", "H2", "H3", "H4", "H6", "H8", "D1", "W1", "M1"]


def ids(collection):
    return [timeframe.id for timeframe in collection]


def test_loaded_instruments_need_no_task(sim, communicator):
    sim.zorvat_loaded(True)
    tasks = sim.zorvat_tasks_created()
    assert ids(communicator[0].timeframe_collection()) == GENERAL
    assert sim.zorvat_tasks_created() == tasks


def test_a_missing_list_is_loaded_first(sim, communicator):
    sim.zorvat_loaded(False)
    sim.zorvat_task_outcome("completed")
    tasks = sim.zorvat_tasks_created()
    collection = communicator[0].timeframe_collection("EUR/USD")
    assert sim.zorvat_tasks_created() == tasks + 1 and "m1" in ids(collection)
    assert collection.get_by_id("m1").id == "m1" and collection.get_by_id("x") is None
    assert collection.get(-1) is None and collection.get(len(collection)) is None


@pytest.mark.parametrize("instruments, name, expected", [
    ([("EUR/USD", ["m1", "H1"]), ("eur/usd", ["D1"])], "EUR/USD", ["m1", "H1"]),
    ([("EUR/USD", ["m1", "H1"])], "eur/usd", []),  # the name matches byte for byte
    ([("EUR/USD", ["m1", "H1", "m5", "m1"])], "EUR/USD", ["H1", "m5", "m1"]),
    ([("EUR/USD", ["m1"])], "GBP/USD", []),  # not listed: an empty collection
])
def test_instrument_matching_and_order(sim, communicator, instruments, name, expected):
    sim.zorvat_loaded(True)
    sim.zorvat_instruments(instruments)
    assert ids(communicator[0].timeframe_collection(name)) == expected


def test_no_list_gives_an_empty_collection(sim, communicator):
    sim.zorvat_loaded(True)
    sim.zorvat_null_next("getTimeframes")
    assert len(communicator[0].timeframe_collection()) == 0


@pytest.mark.parametrize("outcome, error, message", [
    ("cancelled", None, "Update instruments task canceled"),
    ("failed", dict(code=0, sub_code=5, message="held"), "Zorvat error: held code: Locked subcode: 5"),
])
def test_an_update_that_does_not_complete_raises(sim, communicator, outcome, error, message):
    sim.zorvat_loaded(False)
    sim.zorvat_task_outcome(outcome, error=error)
    with pytest.raises(Exception, match=f"^{message}$"):
        communicator[0].timeframe_collection()
    gc.collect()
    assert sim.live("zorvat::ITask") == 0


@pytest.mark.parametrize("op", ["createUpdateInstrumentsTask", "executeTask"])
def test_a_refused_task_raises_its_error(sim, communicator, op):
    sim.zorvat_loaded(False)
    sim.zorvat_fail_next(op, dict(code=2, sub_code=1, message="busy"))
    with pytest.raises(Exception, match="^Zorvat error: busy code: QuotesCacheBusy subcode: 1$"):
        communicator[0].timeframe_collection()
    assert sim.live("zorvat::ITask") == 0


def test_no_factory_raises(sim, communicator):
    sim.zorvat_loaded(True)
    sim.plenta_null_next("getTimeframeFactory")
    with pytest.raises(Exception, match="^Timefractory is nullptr$"):
        communicator[0].timeframe_collection()
