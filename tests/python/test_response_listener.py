"""tests/python/test_response_listener.py: AK7RResponseListener against the simulated server: what
each callback receives and on which thread, the reports for a missing or raising override, a
response kept past its callback, unsubscribing, and a market order from request to trade. The
listener and log-in helpers here serve the other request and response tests too."""

import gc
import threading

import pytest

import dedezi
from helpers import Recorder, log_in, new_session

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
Params = dedezi.K7RRequestParamsEnum
Status = dedezi.AK7RSessionStatus.K7RSessionStatus
URL, CONNECTION = "http://sim.local/Hosts.jsp", "Demo"
REPORT = "in function '{}' in file 'source\\K7R\\K7RResponseListener' line {}"


class ResponseListener(dedezi.AK7RResponseListener):
    """Records (callback, args, native thread id) for every call."""

    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_request_completed(self, request_id, response):
        self.calls.add(("completed", (request_id, response), threading.get_native_id()))

    def on_request_failed(self, request_id, error):
        self.calls.add(("failed", (request_id, error), threading.get_native_id()))

    def on_tables_updates(self, response):
        self.calls.add(("tables_updates", (response,), threading.get_native_id()))

    def wait_for(self, predicate, timeout=10.0):
        """The first call whose (name, args) satisfies `predicate`; fails after `timeout`."""
        calls = self.calls.wait_until(
            lambda items: any(predicate(name, args) for name, args, _ in items), timeout)
        for name, args, _ in calls:
            if predicate(name, args):
                return name, args
        pytest.fail(f"no matching callback within {timeout}s; got {calls}")

    def wait_request(self, request_id, timeout=10.0):
        """(name, args) of the completion or failure of `request_id`."""
        return self.wait_for(lambda name, args: name in ("completed", "failed")
                             and args[0] == request_id, timeout)


@pytest.fixture
def listened(sim):
    """A session (not logged in) with a ResponseListener subscribed: (session, id, listener)."""
    session, sid = new_session(sim)
    listener = ResponseListener()
    session.subscribe_response(listener)
    yield session, sid, listener
    session.unsubscribe_response(listener)


class ManagerListener(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.statuses = Recorder()

    def on_status_changed(self, status, manager):
        self.statuses.add(status)


@pytest.fixture
def online(listened):
    """The listened session, logged in as demo/demo."""
    session, sid, listener = listened
    log_in(session)
    yield listened
    session.logout()


@pytest.fixture
def trading(listened):
    """The listened session with its table manager, logged in and its tables loaded."""
    session, sid, listener = listened
    manager = ManagerListener()
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, manager)
    log_in(session)
    loaded = dedezi.K7RTableManagerStatus.TABLES_LOADED
    assert loaded in manager.statuses.wait_until(lambda statuses: loaded in statuses, timeout=10)
    yield listened
    session.logout()


def crafted(sim, sid, listener, type_int, request_id="RQ-1", prepare=None):
    """A K7RResponse of any type, made by the simulated server and delivered as a completion;
    `prepare(response_id)` scripts it before it goes out."""
    response_id = sim.make_response(sid, type_int, request_id)
    if prepare:
        prepare(response_id)
    sim.deliver_response(sid, response_id, "completed", request_id=request_id)
    _, (_, response) = listener.wait_request(request_id)
    return response


def send(session, listener, request):
    """Sends `request` and gives (callback name, args) of its outcome."""
    request_id = request.request_id
    session.send_request(request)
    return listener.wait_request(request_id)


def tables_updates(listener):
    return [args for name, args, _ in listener.calls.items if name == "tables_updates"]


def rows(reader):
    return list(reader)


def refresh(session, listener, table):
    """The rows of `table` as the server has them now, through a refresh request."""
    factory = session.request_factory
    name, (_, response) = send(session, listener, factory.create_refresh_table_request(table))
    assert name == "completed"
    return rows(session.response_reader_factory.create_reader(response))


class TestCallbacks:
    def test_completed_and_failed_reach_python_on_the_library_thread(self, sim, listened):
        session, sid, listener = listened
        response = crafted(sim, sid, listener, int(Type.GET_OFFERS), "RQ-7")
        assert type(response) is dedezi.K7RResponse
        assert response.type == Type.GET_OFFERS and response.request_id == "RQ-7"

        failing = sim.make_response(sid, int(Type.COMMAND_RESPONSE), "RQ-8")
        sim.deliver_response(sid, failing, "failed", request_id="RQ-8", error="Rejected: no margin")
        assert listener.wait_request("RQ-8") == ("failed", ("RQ-8", "Rejected: no margin"))

        threads = {thread for _, _, thread in listener.calls.items}
        assert threads == {sim.thread_ids()["dispatcher"]}

    def test_tables_updates_arrive_as_their_response(self, sim, listened):
        session, sid, listener = listened
        response_id = sim.make_response(sid, int(Type.TABLES_UPDATES))
        sim.deliver_response(sid, response_id, "tables_updates")
        _, (response,) = listener.wait_for(lambda name, _: name == "tables_updates")
        assert response.type == Type.TABLES_UPDATES

    def test_a_kept_response_stays_usable_after_its_callback(self, sim, listened):
        session, sid, listener = listened
        response = crafted(sim, sid, listener, int(Type.MARGIN_REQUIREMENTS_RESPONSE), "RQ-K",
                           prepare=lambda rid: sim.set_margin_result(rid, True))
        gc.collect()
        assert response.type == Type.MARGIN_REQUIREMENTS_RESPONSE
        assert response.request_id == "RQ-K"
        assert session.response_reader_factory.create_reader(response) is True

    def test_unsubscribed_listener_hears_nothing_more(self, sim):
        session, sid = new_session(sim)
        gone, staying = ResponseListener(), ResponseListener()
        session.subscribe_response(gone)
        session.subscribe_response(staying)
        session.unsubscribe_response(gone)
        response_id = sim.make_response(sid, int(Type.GET_OFFERS), "RQ-U")
        sim.deliver_response(sid, response_id, "completed", request_id="RQ-U")
        staying.wait_request("RQ-U")
        assert gone.calls.items == []
        session.unsubscribe_response(staying)

    @pytest.mark.parametrize("call", ["subscribe_response", "unsubscribe_response"])
    def test_none_listener_is_refused(self, sim, call):
        session, _ = new_session(sim)
        with pytest.raises(ValueError, match="must not be None"):
            getattr(session, call)(None)


class Partial(dedezi.AK7RResponseListener):
    """Overrides only what it is given; a given override that is None raises instead."""

    def __init__(self, **overrides):
        super().__init__()
        self.done = threading.Event()
        for name, override in overrides.items():
            setattr(self, name, override or self._raise)

    def _raise(self, *args):
        self.done.set()
        raise KeyError("from the override")


@pytest.mark.parametrize("how, method, report_name, line", [
    ("completed", "on_request_completed", "onRequestCompleted", 16),
    ("failed", "on_request_failed", "onRequestFailed", 32),
    ("tables_updates", "on_tables_updates", "onTablesUpdates", 47),
])
@pytest.mark.parametrize("override", ["missing", "raising"])
def test_reports_for_a_missing_or_raising_override(sim, capfd, how, method, report_name, line,
                                                   override):
    session, sid = new_session(sim)
    listener = Partial(**({method: None} if override == "raising" else {}))
    session.subscribe_response(listener)
    capfd.readouterr()
    for n in range(2):
        response_id = sim.make_response(sid, int(Type.GET_OFFERS), f"RQ-{n}")
        sim.deliver_response(sid, response_id, how, request_id=f"RQ-{n}", error="text")
    assert sim.flush()
    err = capfd.readouterr().err
    expected_line = line if override == "missing" else line + 4
    # One report per delivery, and the process goes on.
    assert err.count(REPORT.format(report_name, expected_line)) == 2, err
    if override == "missing":
        assert f"Pure virtual method called: 'AK7RResponseListener::{method}'" in err
    else:
        assert "KeyError" in err and "from the override" in err
    session.unsubscribe_response(listener)


def test_base_methods_are_abstract():
    listener = dedezi.AK7RResponseListener()
    with pytest.raises(RuntimeError, match="Pure virtual"):
        listener.on_request_failed("RQ", "text")


class TestServer:
    def test_market_order_completes_and_its_trade_appears(self, trading):
        session, sid, listener = trading
        offers = refresh(session, listener, dedezi.K7RTableType.OFFERS)
        (eurusd,) = [row for row in offers if row.Instrument == "EUR/USD"]
        (account, *_) = refresh(session, listener, dedezi.K7RTableType.ACCOUNTS)

        factory = session.request_factory
        order = factory.create_value_map()
        order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
        order.set_string(Params.ORDER_TYPE, dedezi.Constants.Orders.TRUE_MARKET_OPEN)
        order.set_string(Params.OFFER_ID, eurusd.OfferID)
        order.set_string(Params.ACCOUNT_ID, account.AccountID)
        order.set_string(Params.BUY_SELL, dedezi.Constants.BUY)
        order.set_int(Params.AMOUNT, 10000)
        request = factory.create_order_request(order)
        assert request is not None, factory.last_error

        updates_before = len(tables_updates(listener))
        name, (request_id, response) = send(session, listener, request)
        assert (name, request_id) == ("completed", request.request_id)
        assert response.type == Type.CREATE_ORDER_RESPONSE
        assert response.request_id == request.request_id

        # Two batches of table changes follow: the order goes in, then it fills.
        listener.calls.wait_until(lambda _: len(tables_updates(listener)) >= updates_before + 2)
        table = session.table_manager.get_table(dedezi.K7RTableType.TRADES)
        for trades in (list(table), refresh(session, listener, dedezi.K7RTableType.TRADES)):
            (trade,) = [trade for trade in trades if trade.OfferID == eurusd.OfferID
                        and trade.AccountID == account.AccountID]
            assert trade.BuySell == "B" and trade.Amount == 10000

    @pytest.mark.parametrize("change, text", [
        (lambda m: m.set_string(Params.OFFER_ID, "NO-SUCH-OFFER"), "offer"),
        (lambda m: m.set_int(Params.AMOUNT, 0), "amount"),
        (lambda m: m.set_string(Params.COMMAND, "NoSuchCommand"), "command"),
    ], ids=["unknown offer", "zero amount", "unknown command"])
    def test_invalid_orders_fail_with_the_request_id_and_a_reason(self, trading, change, text):
        session, sid, listener = trading
        offers = refresh(session, listener, dedezi.K7RTableType.OFFERS)
        (account, *_) = refresh(session, listener, dedezi.K7RTableType.ACCOUNTS)
        factory = session.request_factory
        order = factory.create_value_map()
        order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
        order.set_string(Params.ORDER_TYPE, dedezi.Constants.Orders.TRUE_MARKET_OPEN)
        order.set_string(Params.OFFER_ID, offers[0].OfferID)
        order.set_string(Params.ACCOUNT_ID, account.AccountID)
        order.set_string(Params.BUY_SELL, dedezi.Constants.SELL)
        order.set_int(Params.AMOUNT, 10000)
        change(order)
        request = factory.create_order_request(order)
        name, (request_id, error) = send(session, listener, request)
        assert (name, request_id) == ("failed", request.request_id)
        assert isinstance(error, str) and text in error.lower()
