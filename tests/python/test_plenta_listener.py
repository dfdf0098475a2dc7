"""tests/python/test_plenta_listener.py: get_history, the blocking fetch: each outcome of its request,
what it leaves behind (listeners, references), its wait with the interpreter lock let go, and that
it ends only on the report about its own request."""

import datetime
import gc
import threading

import pytest


pytestmark = pytest.mark.timeout(60)

FROM = datetime.datetime(2026, 3, 2, 10, 0)

KINDS = ("plenta::IPlentaCommunicatorRequest", "plenta::IPlentaCommunicatorResponse",
         "IK7RMarketDataSnapshotResponseReader")


class Fetch:
    """get_history on a thread of its own; its result or exception once it has returned."""

    def __init__(self, comm, *args):
        self.result = self.error = None
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(comm, args), daemon=True)
        self.thread.start()

    def _run(self, comm, args):
        try:
            self.result = comm.get_history(*args)
        except BaseException as error:  # handed to the test
            self.error = error
        self.done.set()

    def finish(self, timeout=10):
        assert self.done.wait(timeout), "get_history did not return"
        return self.result, self.error


def wait_pending(sim, count, timeout=10):
    """The held requests once there are `count`: the test thread runs meanwhile, which it could
    not if get_history held the interpreter lock."""
    pending = sim.plenta_wait_pending(count, timeout)
    assert len(pending) >= count, pending
    return pending


def live(sim):
    gc.collect()
    return {kind: sim.live(kind) for kind in KINDS}


@pytest.fixture
def held(sim, communicator):
    """The communicator with its requests held, and its listener counts and live objects before."""
    comm, comm_id = communicator
    sim.plenta_hold(True)
    before = (sim.communicator_listeners(comm_id), live(sim))
    yield comm, comm_id
    sim.plenta_hold(False)
    assert (sim.communicator_listeners(comm_id), live(sim)) == before


OUTCOMES = [
    ("complete", {}, None),
    ("fail", dict(error=dict(code=3, message="no data")), "Plenta error: no data code: OtherError"),
    ("fail", dict(error=dict(code=0, message="q", nested=dict(code=7, sub_code=12, message="gone"))),
     "Zorvat error: gone code: QuotesNotFound subcode: 12"),
    ("fail", dict(error=None), "Response is nullptr"),
    ("cancel", {}, "Request is canceled"),
    ("complete", dict(null_response=True), "Response is nullptr"),
]


@pytest.mark.parametrize("action, kwargs, message", OUTCOMES)
def test_each_outcome_releases_everything(sim, held, m1, action, kwargs, message):
    comm, _ = held
    fetch = Fetch(comm, "EUR/USD", m1, None, None, 5)
    (pending,) = wait_pending(sim, 1)
    getattr(sim, f"plenta_{action}")(pending["index"], **kwargs)
    result, error = fetch.finish()
    if message is None:
        assert error is None and result.is_bar and len(result) == 5
    else:
        assert result is None and type(error) is Exception and str(error) == message
    del result, error, fetch


def test_no_reader_gives_none(sim, held, m1):
    comm, _ = held
    fetch = Fetch(comm, "EUR/USD", m1)
    (pending,) = wait_pending(sim, 1)
    sim.plenta_fail_next("createResponseReader")
    sim.plenta_complete(pending["index"])
    assert fetch.finish() == (None, None)


@pytest.mark.parametrize("op, error, message", [
    ("createRequest", None, "Cannot create request"),
    ("createRequest", dict(code=2, message="m"), "Plenta error: m code: BadArguments"),
    ("sendRequest", None, "Cannot send request"),
    ("sendRequest", dict(code=1, message="n"), "Plenta error: n code: NotReady"),
    # A quotes-cache error without the nested error raises nothing of its own.
    ("sendRequest", dict(code=0, message="z"), "Cannot send request"),
])
def test_refusals_before_the_wait(sim, held, m1, op, error, message):
    comm, _ = held
    sim.plenta_fail_next(op, error=error, result=False if op == "sendRequest" else None)
    with pytest.raises(Exception, match=f"^{message}$"):
        comm.get_history("EUR/USD", m1)


def test_the_answer_matches_the_snapshot_of_the_same_range(sim, communicator, m1):
    comm, _ = communicator
    reader = comm.get_history("EUR/USD", m1, FROM, None, 10)
    bars = [(bar.date, bar.bid_open, bar.ask_close) for bar in reader]
    assert len(bars) == 10 and bars == sorted(bars)
    assert all(b.bid_low <= b.bid_open <= b.bid_high and b.bid_close < b.ask_close for b in reader)


@pytest.mark.parametrize("own_first", [True, False])
def test_reports_about_other_requests_pass_the_waiter_by(sim, held, m1, own_first):
    comm, _ = held
    other = comm.create_request("EUR/USD", m1, None, None, 7)
    assert comm.send_request(other, None)
    fetch = Fetch(comm, "EUR/USD", m1, None, None, 5)
    pending = wait_pending(sim, 2)
    other_index, own_index = (p["index"] for p in pending)
    assert [p["count"] for p in pending] == [7, 5]
    if own_first:
        sim.plenta_complete(own_index)
        sim.plenta_complete(other_index)
    else:
        sim.plenta_complete(other_index)
        # The other request's answer reached the communicator's listeners: the waiter stays.
        assert not fetch.done.wait(0.2)
        sim.plenta_complete(own_index)
    result, error = fetch.finish()
    assert error is None and len(result) == 5
    del other, result, fetch


def test_an_error_written_beside_a_sent_request_is_released(sim, communicator, m1):
    # The send succeeds and writes an error all the same: it is ignored, and released.
    comm, _ = communicator
    before = sim.live("plenta::IError")
    sim.plenta_fail_next("sendRequest", error=dict(code=3, message="noise"), result=True)
    assert len(comm.get_history("EUR/USD", m1, None, None, 5)) == 5
    assert sim.live("plenta::IError") == before
