"""tests/python/test_market_data_snapshot_reader.py: the market data snapshot reader and its
items: bars and ticks read by index and by iteration, dates at whole seconds, items that outlive
their reader, and the last H1 bars of EUR/USD asked of the simulated server."""

import datetime
import gc

import pytest

import dedezi
from helpers import new_session
from test_response_listener import ResponseListener, crafted, online, listened, send  # noqa: F401

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
OLE_2024_01_02 = 45293.0
HOUR = 1 / 24
# (ole_date, bid_open, bid_high, bid_low, bid_close, ask_open, ask_high, ask_low, ask_close, volume)
BARS = [(OLE_2024_01_02 + n * HOUR, 1.10 + n / 100, 1.12 + n / 100, 1.09 + n / 100,
         1.11 + n / 100, 1.1002 + n / 100, 1.1202 + n / 100, 1.0902 + n / 100, 1.1102 + n / 100,
         100 + n) for n in range(3)]
BAR_GETTERS = ["bid_open", "bid_high", "bid_low", "bid_close", "ask_open", "ask_high", "ask_low",
               "ask_close", "volume"]


@pytest.fixture
def snapshot(sim):
    """snapshot(bars, is_bar=True): a reader over a crafted snapshot of those bars or ticks."""
    session, sid = new_session(sim)
    listener = ResponseListener()
    session.subscribe_response(listener)
    factory = session.response_reader_factory
    counter = iter(range(1000))

    def make(bars, is_bar=True):
        response = crafted(sim, sid, listener, int(Type.MARKET_DATA_SNAPSHOT),
                           f"RQ-{next(counter)}",
                           prepare=lambda rid: sim.set_snapshot(rid, bars, is_bar=is_bar))
        return factory.create_reader(response)

    yield make
    session.unsubscribe_response(listener)


def whole_second_naive(value):
    return type(value) is datetime.datetime and value.microsecond == 0 and value.tzinfo is None


def test_bars_by_index_and_by_iteration_agree(snapshot):
    reader = snapshot(BARS)
    assert type(reader) is dedezi.K7RMarketDataSnapshotResponseReader
    assert reader.is_bar is True and reader.size == len(reader) == 3
    it = iter(reader)
    items = [next(it) for _ in range(3)]
    with pytest.raises(StopIteration):
        next(it)
    for i, (item, bar) in enumerate(zip(items, BARS)):
        assert type(item) is dedezi.K7RMarketDataSnapshotResponseReaderItem
        assert item.date == reader.get_date(i) == datetime.datetime(2024, 1, 2, i)
        for name, expected in zip(BAR_GETTERS, bar[1:]):
            assert getattr(item, name) == getattr(reader, f"get_{name}")(i) == expected, name


def test_ticks(snapshot):
    ticks = [(OLE_2024_01_02 + n / 86400, 1.1 + n / 1e4, 1.1002 + n / 1e4, 0) for n in range(4)]
    reader = snapshot(ticks, is_bar=False)
    assert reader.is_bar is False and len(reader) == 4
    assert [(item.bid, item.ask) for item in reader] == [(t[1], t[2]) for t in ticks]
    assert [item.date.second for item in reader] == [0, 1, 2, 3]


def test_an_empty_snapshot_iterates_as_nothing(snapshot):
    reader = snapshot([])
    assert len(reader) == reader.size == 0 and list(reader) == []


def test_dates_are_whole_seconds_and_naive(snapshot):
    # 10:00:00.4 and 10:00:00.6: the library rounds to the nearest second.
    bars = [(OLE_2024_01_02 + (10 * 3600 + f) / 86400,) + BARS[0][1:] for f in (0.4, 0.6)]
    reader = snapshot(bars)
    dates = [item.date for item in reader] + [reader.get_date(0), reader.get_last_bar_time()]
    assert all(whole_second_naive(date) for date in dates), dates
    assert dates[0] == datetime.datetime(2024, 1, 2, 10, 0, 0)
    assert dates[1] == datetime.datetime(2024, 1, 2, 10, 0, 1)


def test_an_item_outlives_its_reader(sim, snapshot):
    reader = snapshot(BARS)
    items = list(reader)
    del reader
    gc.collect()
    assert sim.live("IK7RMarketDataSnapshotResponseReader") == 1
    assert [item.bid_close for item in items] == [bar[4] for bar in BARS]
    assert items[2].date == datetime.datetime(2024, 1, 2, 2)
    del items
    gc.collect()
    assert sim.live("IK7RMarketDataSnapshotResponseReader") == 0


@pytest.mark.parametrize("cls", ["K7RMarketDataSnapshotResponseReader",
                                 "_K7RMarketDataSnapshotResponseReader",
                                 "K7RMarketDataSnapshotResponseReaderItem"])
def test_python_cannot_make_the_classes(cls):
    with pytest.raises(RuntimeError):
        getattr(dedezi, cls)()


def test_no_get_by_index():
    cls = dedezi.K7RMarketDataSnapshotResponseReader
    assert not hasattr(cls, "get") and not hasattr(cls, "__getitem__")


def last_bars(session, listener, timeframe_id, count, to=None):
    requests = session.request_factory
    timeframe = requests.timeframe_collection.get_by_id(timeframe_id)
    request = requests.create_market_data_snapshot_request_instrument("EUR/USD", timeframe, count)
    requests.fill_market_data_snapshot_request_time(request, None, to)
    name, (_, response) = send(session, listener, request)
    assert name == "completed" and response.type == Type.MARKET_DATA_SNAPSHOT
    return session.response_reader_factory.create_reader(response)


def test_last_20_h1_bars_of_eurusd(online):
    session, _, listener = online
    reader = last_bars(session, listener, "H1", 20)
    assert reader.is_bar and len(reader) == 20
    bars = [(item.date, item.bid_open, item.bid_high, item.bid_low, item.bid_close,
             item.ask_close, item.volume) for item in reader]
    dates = [bar[0] for bar in bars]
    assert all(whole_second_naive(date) for date in dates)
    assert all(b - a == datetime.timedelta(hours=1) for a, b in zip(dates, dates[1:]))
    assert all(date.minute == date.second == 0 for date in dates)
    for _, bid_open, high, low, close, ask_close, _ in bars:
        assert low <= min(bid_open, close) <= max(bid_open, close) <= high
        assert close < ask_close


def test_the_same_question_gives_the_same_bars(online):
    session, _, listener = online
    to = datetime.datetime(2024, 1, 2, 12)
    first, second = (last_bars(session, listener, "m15", 8, to) for _ in range(2))
    read = [[(item.date, item.bid_close, item.ask_close, item.volume) for item in reader]
            for reader in (first, second)]
    assert len(read[0]) == 8 and read[0] == read[1]
    assert read[0][-1][0] <= to
