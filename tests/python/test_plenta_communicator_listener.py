"""tests/python/test_plenta_communicator_listener.py: APlentaCommunicatorListener and
APlentaCommunicatorStatusListener: the reports for a missing or raising override, a request kept
past its callback, a null error, and removal."""

import gc

import pytest

import dedezi
from helpers import Recorder

pytestmark = pytest.mark.timeout(60)

REPORT = "in function '{}' in file 'source\\Plenta\\{}' line {}"


class Listener(dedezi.APlentaCommunicatorListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_request_completed(self, request, response):
        self.calls.add(("completed", request, response))

    def on_request_failed(self, request, error):
        self.calls.add(("failed", request, error))

    def on_request_cancelled(self, request):
        self.calls.add(("cancelled", request, None))


class NoFailure(dedezi.APlentaCommunicatorListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_request_completed(self, request, response):
        self.calls.add("completed")


def outcome(sim, comm, listener, m1, action, **kwargs):
    sim.plenta_hold(True)
    comm.add_listener(listener)
    request = comm.create_request("EUR/USD", m1, None, None, 4)
    assert comm.send_request(request, None)
    (pending,) = sim.plenta_pending()
    getattr(sim, f"plenta_{action}")(pending["index"], **kwargs)
    comm.remove_listener(listener)
    sim.plenta_hold(False)
    return request


def test_missing_on_request_failed_is_reported_and_the_library_goes_on(sim, communicator, m1, capfd):
    comm, _ = communicator
    listener = NoFailure()
    outcome(sim, comm, listener, m1, "fail", error=dict(code=3, message="x"))
    err = capfd.readouterr().err
    assert "Pure virtual method called: 'APlentaCommunicatorListener::on_request_failed'" in err
    assert REPORT.format("onRequestFailed", "PlentaCommunicatorListener", 32) in err
    # The next report still reaches the listener.
    outcome(sim, comm, listener, m1, "complete")
    assert listener.calls.items == ["completed"]


def test_a_raising_status_override_is_reported_with_its_line(sim, communicator, capfd):
    comm, comm_id = communicator

    class Raising(dedezi.APlentaCommunicatorStatusListener):
        def on_communicator_status_changed(self, status):
            raise RuntimeError("boom")

        def on_communicator_init_failed(self, error):
            pass

    listener = Raising()
    comm.add_status_listener(listener)
    sim.fire_communicator_status(comm_id, True)
    comm.remove_status_listener(listener)
    err = capfd.readouterr().err
    assert "boom" in err
    assert REPORT.format("onCommunicatorStatusChanged", "PlentaCommunicatorStatusListener", 20) in err


def test_a_kept_request_stays_valid_and_dropping_it_keeps_the_library_reference(sim, communicator, m1):
    comm, _ = communicator
    listener = Listener()
    own = outcome(sim, comm, listener, m1, "complete")
    ((name, request, response),) = listener.calls.items
    assert name == "completed" and isinstance(response, dedezi.PlentaCommunicatorResponse)
    assert (request.instrument, request.quotes_Count, request.timeframe.id) == ("EUR/USD", 4, "m1")
    listener.calls = None
    del request, response
    gc.collect()
    assert own.instrument == "EUR/USD" and own.quotes_Count == 4


@pytest.mark.parametrize("action, kwargs, expected", [
    ("fail", dict(error=None), ("failed", None)),
    ("cancel", {}, ("cancelled", None)),
])
def test_null_arguments_reach_python_as_none(sim, communicator, m1, action, kwargs, expected):
    comm, _ = communicator
    listener = Listener()
    outcome(sim, comm, listener, m1, action, **kwargs)
    ((name, request, third),) = listener.calls.items
    assert (name, third) == expected and request.quotes_Count == 4


def test_adding_keeps_the_listener_alive_until_removed(sim, communicator):
    comm, comm_id = communicator
    before = sim.communicator_listeners(comm_id)
    listener = Listener()
    comm.add_listener(listener)
    assert sim.communicator_listeners(comm_id)[0] == before[0] + 1
    comm.remove_listener(listener)
    assert sim.communicator_listeners(comm_id) == before
