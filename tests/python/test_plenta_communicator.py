"""tests/python/test_plenta_communicator.py: PlentaCommunicatorFactory and PlentaCommunicator against
the simulated history library: what reaches the library, null results, the error slot of
send_request and the candle open price mode. """

import datetime

import pytest

import dedezi
from helpers import Recorder, journal_calls as calls, new_session, plenta_status_recorder

pytestmark = pytest.mark.timeout(60)

Factory = dedezi.PlentaCommunicatorFactory
EPOCH = datetime.datetime(1899, 12, 30)


def ole(value):
    return (value - EPOCH) / datetime.timedelta(days=1)


FROM = datetime.datetime(2026, 3, 2, 10, 0)
TO = datetime.datetime(2026, 3, 2, 12, 0)


@pytest.mark.parametrize("call, args, expected", [
    ("create_request", (), (0.0, 0.0, 0)),
    ("create_request", (FROM,), (ole(FROM), 0.0, 0)),
    ("create_request", (FROM, TO, 7), (ole(FROM), ole(TO), 7)),
    ("get_history", (), (0.0, 0.0, -1)),
    ("get_history", (FROM,), (ole(FROM), 0.0, -1)),
])
def test_bounds_and_counts_reach_the_library(sim, communicator, m1, call, args, expected):
    comm, _ = communicator
    sim.clear_journal()
    getattr(comm, call)("EUR/USD", m1, *args)
    ((instrument, timeframe_id, *rest),) = calls(sim, "createRequest")
    assert (instrument, timeframe_id) == (b"EUR/USD", b"m1")
    assert tuple(rest) == pytest.approx(expected)


@pytest.mark.parametrize("call", ["create_request", "get_history"])
def test_a_bound_that_is_not_a_date_fails_before_the_library(sim, communicator, m1, call):
    comm, _ = communicator
    sim.clear_journal()
    with pytest.raises(ValueError, match="^Expected DateTime type$"):
        getattr(comm, call)("EUR/USD", m1, FROM, "tomorrow")
    assert calls(sim, "createRequest") == []


def test_send_request_takes_only_none_as_its_error_slot(communicator, m1):
    comm, _ = communicator
    request = comm.create_request("EUR/USD", m1)
    with pytest.raises(TypeError):  # the binding library's argument mismatch
        comm.send_request(request, 0)
    assert comm.send_request(request, None) is True


def test_send_request_gives_the_refusal_as_false(sim, communicator, m1):
    comm, _ = communicator
    request = comm.create_request("EUR/USD", m1)
    sim.plenta_fail_next("sendRequest", result=False)
    assert comm.send_request(request, None) is False


@pytest.mark.parametrize("error, outcome", [
    (None, None),
    (dict(code=2, message="bad"), "Plenta error: bad code: BadArguments"),
])
def test_create_response_reader_without_reader(sim, communicator, m1, error, outcome):
    comm, _ = communicator

    class Keep(dedezi.APlentaCommunicatorListener):
        def __init__(self):
            super().__init__()
            self.got = Recorder()

        def on_request_completed(self, request, response):
            self.got.add(response)

        def on_request_failed(self, request, error):
            self.got.add(error)

        def on_request_cancelled(self, request):
            self.got.add(None)

    keep = Keep()
    comm.add_listener(keep)
    comm.send_request(comm.create_request("EUR/USD", m1, None, None, 3), None)
    (response,) = keep.got.wait_for(1)
    comm.remove_listener(keep)
    assert isinstance(response, dedezi.PlentaCommunicatorResponse)
    assert len(comm.create_response_reader(response)) == 3
    sim.plenta_fail_next("createResponseReader", error=error)
    if outcome is None:
        assert comm.create_response_reader(response) is None
    else:
        with pytest.raises(Exception, match=f"^{outcome}$"):
            comm.create_response_reader(response)


@pytest.mark.parametrize("error, outcome", [
    (None, None),
    (dict(code=1, message=None), "Plenta error:  code: NotReady"),
])
def test_create_communicator_without_communicator(sim, online_session, error, outcome):
    sim.plenta_fail_next("createCommunicator", error=error)
    if outcome is None:
        assert Factory.create_communicator(online_session, "") is None
    else:
        with pytest.raises(Exception, match=f"^{outcome}$"):
            Factory.create_communicator(online_session, "")


def test_set_proxy_passes_its_values(sim):
    sim.clear_journal()
    Factory.set_proxy("proxy.local", 3128, "user", "secret")
    assert calls(sim, "setProxy") == [(b"proxy.local", 3128, b"user", b"secret")]


def test_candle_open_price_mode_keeps_the_quotes_cache_count(sim, communicator):
    comm, _ = communicator
    Mode = dedezi.K7RCandleOpenPriceMode
    (zorvat_id,) = sim.objects("zorvat::IZorvat")
    before = sim.refcount(zorvat_id)
    assert comm.candle_open_price_mode == Mode.PREVIOUS_CLOSE
    for mode in (Mode.FIRST_TICK, Mode.PREVIOUS_CLOSE, Mode.FIRST_TICK):
        comm.candle_open_price_mode = mode
        assert comm.candle_open_price_mode == mode
    assert sim.refcount(zorvat_id) == before


def test_no_quotes_cache_raises_for_the_candle_mode(sim, communicator):
    comm, _ = communicator
    sim.plenta_null_next("getZorvat")
    with pytest.raises(Exception, match="^Failed to get Zorvat$"):
        comm.candle_open_price_mode


def test_not_logged_in_session_reports_init_failure(sim):
    session, _ = new_session(sim)
    comm = Factory.create_communicator(session, "")
    status = plenta_status_recorder()
    comm.add_status_listener(status)
    # The report may have gone out before the listener was added: ask for it again.
    (comm_id,) = sim.communicators()
    sim.fire_communicator_init_failed(comm_id, dict(code=1, message="offline"))
    events = status.events.wait_until(lambda items: any(e[0] == "init_failed" for e in items))
    comm.remove_status_listener(status)
    error = next(e for kind, e in events if kind == "init_failed")
    assert error.code == dedezi.PlentaErrorCode.NOT_READY
    assert not comm.is_ready()
