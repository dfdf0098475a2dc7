"""tests/python/test_request.py: value maps, requests and the request factory: what each creator
passes the library, the snapshot request's defaults and date conversions, child requests and
their iteration, None refused where the factory needs an object, and the one reference each
request wrapper holds."""

import datetime
import gc

import pytest

import dedezi
from helpers import new_session

pytestmark = pytest.mark.timeout(60)

Params = dedezi.K7RRequestParamsEnum
Mode = dedezi.K7RCandleOpenPriceMode
SNAPSHOT_OP = "IK7RRequestFactory::createMarketDataSnapshotRequestInstrument"
FILL_OP = "IK7RRequestFactory::fillMarketDataSnapshotRequestTime"
OLE_2024_01_02 = 45293.0
OLE_2024_01_02_0630 = 45293.0 + 6.5 / 24


@pytest.fixture
def factory(sim):
    session, _ = new_session(sim)
    return session.request_factory


@pytest.fixture
def h1(factory):
    return factory.timeframe_collection.get_by_id("H1")


def calls_of(sim, op):
    """The journaled arguments of `op`, texts decoded."""
    return [tuple(a.decode() if isinstance(a, bytes) else a for a in args)
            for name, args in sim.journal() if name == op]


def newest(sim, kind):
    return sim.objects(kind)[-1]


def order_map(factory, children=0):
    value_map = factory.create_value_map()
    value_map.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
    for n in range(children):
        child = factory.create_value_map()
        child.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
        child.set_int(Params.AMOUNT, 1000 * (n + 1))
        value_map.append_child(child)
    return value_map


class TestValueMap:
    def test_setters_reach_the_library(self, sim, factory):
        value_map = factory.create_value_map()
        obj = newest(sim, "IK7RValueMap")
        value_map.set_string(Params.OFFER_ID, "1")
        value_map.set_double(Params.RATE, 1.25)
        value_map.set_int(Params.AMOUNT, 5000)
        value_map.set_boolean(Params.BUY_SELL, True)
        contents = sim.value_map_contents(obj)
        assert {k: contents[int(p)] for k, p in [("offer", Params.OFFER_ID), ("rate", Params.RATE),
                                                  ("amount", Params.AMOUNT),
                                                  ("flag", Params.BUY_SELL)]} == {
            "offer": "1", "rate": 1.25, "amount": 5000, "flag": True}

    def test_children_clone_and_clear(self, sim, factory):
        value_map = order_map(factory, children=2)
        assert value_map.children_count == len(value_map) == 2
        assert value_map.get_child(1) is not None and value_map.get_child(2) is None
        copy = value_map.clone()
        value_map.clear()
        assert len(value_map) == 0 and len(copy) == 2
        assert type(copy) is dedezi.K7RValueMap

    def test_no_constructor(self):
        with pytest.raises(RuntimeError):
            dedezi.K7RValueMap()


class TestSnapshotRequest:
    @pytest.mark.parametrize("extra, count", [((), 300), ((20,), 20), ((0,), 0)],
                             ids=["default", "20", "0"])
    def test_count_reaches_the_library(self, sim, factory, h1, extra, count):
        request = factory.create_market_data_snapshot_request_instrument("EUR/USD", h1, *extra)
        assert type(request) is dedezi.K7RRequest and request.request_id
        assert calls_of(sim, SNAPSHOT_OP) == [("EUR/USD", "H1", count)]

    def test_unknown_instrument_gives_none_and_a_reason(self, factory, h1):
        assert factory.create_market_data_snapshot_request_instrument("NO/SUCH", h1) is None
        assert isinstance(factory.last_error, str) and factory.last_error

    @pytest.mark.parametrize("args, expected", [
        ((), (0.0, 0.0, False, int(Mode.PREVIOUS_CLOSE))),
        ((datetime.datetime(2024, 1, 2),), (OLE_2024_01_02, 0.0, False, 0)),
        ((None, datetime.datetime(2024, 1, 2, 6, 30)), (0.0, OLE_2024_01_02_0630, False, 0)),
        ((datetime.datetime(2024, 1, 2), datetime.datetime(2024, 1, 2, 6, 30), True,
          Mode.FIRST_TICK), (OLE_2024_01_02, OLE_2024_01_02_0630, True, int(Mode.FIRST_TICK))),
    ], ids=["defaults", "from", "to", "all"])
    def test_fill_passes_dates_flag_and_mode(self, sim, factory, h1, args, expected):
        request = factory.create_market_data_snapshot_request_instrument("EUR/USD", h1)
        factory.fill_market_data_snapshot_request_time(request, *args)
        ((ole_from, ole_to, flag, mode),) = [call[-4:] for call in calls_of(sim, FILL_OP)]
        assert (ole_from, ole_to, flag, mode) == pytest.approx(expected, abs=1e-9)

    def test_microseconds_are_dropped(self, sim, factory, h1):
        request = factory.create_market_data_snapshot_request_instrument("EUR/USD", h1)
        plain = datetime.datetime(2024, 1, 2, 6, 30, 15)
        for start in (plain, plain.replace(microsecond=999999)):
            factory.fill_market_data_snapshot_request_time(request, start)
        first, second = calls_of(sim, FILL_OP)
        assert first[-4] == second[-4]

    @pytest.mark.parametrize("start, end, error, text", [
        ("2024-01-02", None, ValueError, "^Expected DateTime type$"),
        (None, 45293.0, ValueError, "^Expected DateTime type$"),
        # The start is converted before the end is looked at.
        ("2024-01-02", datetime.datetime(1300, 1, 1), ValueError, "^Expected DateTime type$"),
        (datetime.datetime(1300, 1, 1), "2024-01-02", IndexError, "Year is out of valid range"),
    ], ids=["string start", "float end", "start first", "start range"])
    def test_bad_dates_are_refused_before_the_library(self, sim, factory, h1, start, end, error,
                                                       text):
        request = factory.create_market_data_snapshot_request_instrument("EUR/USD", h1)
        with pytest.raises(error, match=text):
            factory.fill_market_data_snapshot_request_time(request, start, end)
        assert calls_of(sim, FILL_OP) == []

    def test_none_request_is_refused(self, sim, factory):
        with pytest.raises(ValueError, match="^The request must not be None$"):
            factory.fill_market_data_snapshot_request_time(None)
        assert calls_of(sim, FILL_OP) == []

    def test_arguments_are_positional_only(self, factory, h1):
        with pytest.raises(TypeError):
            factory.create_market_data_snapshot_request_instrument("EUR/USD", h1, count=5)


class TestRequest:
    def test_children_by_index_and_iteration(self, factory):
        request = factory.create_order_request(order_map(factory, children=2))
        assert request.children_count == request.size == len(request) == 2
        children = [request.get_child_request(0), request[1]]
        assert all(type(child) is dedezi.K7RRequest for child in children)
        assert request.get_child_request(2) is None and request[5] is None
        # A for loop ends after the last child.
        assert [child.request_id for child in request] == [c.request_id for c in children]
        assert list(factory.create_order_request(order_map(factory))) == []

    def test_refresh_requests_take_the_table_type(self, sim, factory):
        offers = factory.create_refresh_table_request(dedezi.K7RTableType.OFFERS)
        trades = factory.create_refresh_table_request_by_account(dedezi.K7RTableType.TRADES, "x")
        assert type(offers) is dedezi.K7RRequest and type(trades) is dedezi.K7RRequest
        assert offers.request_id != trades.request_id
        with pytest.raises(TypeError):
            factory.create_refresh_table_request(0)

    def test_order_request_without_command_gives_none_and_a_reason(self, factory):
        assert factory.create_order_request(factory.create_value_map()) is None
        assert factory.last_error

    # The journal shows a null object as False (mail, order) or None (the timeframe).
    @pytest.mark.parametrize("create, op, received, reason", [
        (lambda f: f.create_confirmation_mail_request(None), "createConfirmationMailRequest",
         (False,), "The message is not specified"),
        (lambda f: f.create_order_request(None), "createOrderRequest", (False,),
         "The value map is not specified"),
        (lambda f: f.create_market_data_snapshot_request_instrument("EUR/USD", None),
         "createMarketDataSnapshotRequestInstrument", ("EUR/USD", None, 300),
         "The timeframe is not specified"),
    ], ids=["mail", "order", "snapshot"])
    def test_none_objects_reach_the_library_as_null(self, sim, factory, create, op, received,
                                                    reason):
        assert create(factory) is None
        assert factory.last_error == reason
        assert calls_of(sim, f"IK7RRequestFactory::{op}") == [received]

    def test_each_wrapper_holds_one_reference_and_gives_it_back(self, sim, factory, h1):
        gc.collect()
        before = sim.objects("IK7RRequest")
        requests = [
            factory.create_market_data_snapshot_request_instrument("EUR/USD", h1),
            factory.create_refresh_table_request(dedezi.K7RTableType.OFFERS),
            factory.create_order_request(order_map(factory, children=2)),
        ]
        requests += [requests[2][0], requests[2].get_child_request(1)] + list(requests[2])
        made = [obj for obj in sim.objects("IK7RRequest") if obj not in before]
        assert made and all(sim.refcount(obj) >= 1 for obj in made)
        # A request the script holds once is held by the module once.
        assert sim.refcount(made[0]) == 1 and sim.refcount(made[1]) == 1
        del requests
        gc.collect()
        assert set(sim.objects("IK7RRequest")) & set(made) == set()

    @pytest.mark.parametrize("cls", ["K7RRequest", "K7RRequestFactory"])
    def test_no_constructor(self, cls):
        with pytest.raises(RuntimeError):
            getattr(dedezi, cls)()
