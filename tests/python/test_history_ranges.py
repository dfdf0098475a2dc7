"""tests/python/test_history_ranges.py: what the simulated server makes of a range of history, on
both roads that reach it (the history communicator's get_history and the trading session's market
data snapshot request): a start after the end and a range beyond the server's cap are refused with
a text that names them, both bounds are inclusive, and chunks that meet at one bar page a range
without overlap or gap."""

import datetime

import pytest

import dedezi
from helpers import ready_communicator
from test_response_listener import ResponseListener, send

pytestmark = pytest.mark.timeout(60)

MINUTE = datetime.timedelta(minutes=1)
SECOND = datetime.timedelta(seconds=1)
START = datetime.datetime(2020, 1, 1)
CAP = 1_000_000


def at_seconds(date):
    return f"{date:%Y-%m-%d %H:%M:%S}"


class HistoryRoad:
    """get_history; a failure raises as the module raises it."""

    def __init__(self, session):
        self.communicator = ready_communicator(session)

    def items(self, timeframe, date_from, date_to, count):
        frame = self.communicator.timeframe_factory.create(timeframe)
        return list(self.communicator.get_history("EUR/USD", frame, date_from, date_to, count))

    @staticmethod
    def error(text):
        return f"Plenta error: {text} code: BadArguments"

    def close(self):
        pass


class TradingRoad:
    """A market data snapshot request; its on_request_failed text raises as an Exception."""

    def __init__(self, session):
        self.session = session
        self.listener = ResponseListener()
        session.subscribe_response(self.listener)

    def items(self, timeframe, date_from, date_to, count):
        factory = self.session.request_factory
        frame = factory.timeframe_collection.get_by_id(timeframe)
        request = factory.create_market_data_snapshot_request_instrument("EUR/USD", frame, count)
        factory.fill_market_data_snapshot_request_time(request, date_from, date_to)
        name, (_, answer) = send(self.session, self.listener, request)
        if name == "failed":
            raise Exception(answer)
        return list(self.session.response_reader_factory.create_reader(answer))

    @staticmethod
    def error(text):
        return text

    def close(self):
        self.session.unsubscribe_response(self.listener)


@pytest.fixture(params=[HistoryRoad, TradingRoad], ids=["get_history", "snapshot_request"])
def road(request, online_session):
    made = request.param(online_session)
    yield made
    made.close()


def dates(items):
    return [item.date for item in items]


def refused(road, *query):
    with pytest.raises(Exception) as raised:
        road.items(*query)
    return str(raised.value)


def test_a_start_after_the_end_is_refused_naming_both_bounds(road, online_session):
    moment = datetime.datetime(2024, 5, 30, 10, 30)
    # Equal bounds are one bar: the bar holding that moment.
    assert dates(road.items("m1", moment, moment, 0)) == [moment]
    later = moment + SECOND
    assert refused(road, "m1", later, moment, 0) == road.error(
        "The range from 2024-05-30 10:30:01 to 2024-05-30 10:30:00 starts after it ends")
    # Without an end the range ends now.
    tomorrow = online_session.server_time + datetime.timedelta(days=1)
    assert refused(road, "H1", tomorrow, None, 0) == road.error(
        f"The range from {at_seconds(tomorrow)} to now starts after it ends")


@pytest.mark.parametrize("timeframe, span, text", [
    ("m1", CAP * MINUTE,
     "The range from 2020-01-01 00:00:00 to 2021-11-25 10:40:00 holds more than the server's cap "
     "of 1000000 bars: ask for it in parts"),
    ("t1", datetime.timedelta(days=30),
     "The range from 2020-01-01 00:00:00 to 2020-01-31 00:00:00 holds more than the server's cap "
     "of 1000000 ticks: ask for it in parts"),
], ids=["bars", "ticks"])
def test_a_range_beyond_the_cap_is_refused_naming_it(road, timeframe, span, text):
    assert refused(road, timeframe, START, START + span, 0) == road.error(text)


def test_a_count_above_the_cap_is_refused_only_when_the_range_holds_more(road):
    assert dates(road.items("m1", START, START + 9 * MINUTE, CAP + 1)) == [
        START + i * MINUTE for i in range(10)]
    assert refused(road, "m1", START, START + 2 * CAP * MINUTE, CAP + 1) == road.error(
        "The count 1000001 is above the server's cap of 1000000 bars: ask for the range in parts")


@pytest.mark.timeout(180)
def test_exactly_the_cap_is_served(online_session):
    # Nothing is cut at the edge: a range holding the cap, and the cap as a count, come whole.
    road = HistoryRoad(online_session)
    m1 = road.communicator.timeframe_factory.create("m1")
    last = START + (CAP - 1) * MINUTE
    whole = road.communicator.get_history("EUR/USD", m1, START, last, 0)
    assert (len(whole), whole.get_date(0), whole.get_date(CAP - 1)) == (CAP, START, last)
    del whole
    counted = road.communicator.get_history("EUR/USD", m1, START, last + MINUTE, CAP)
    assert (len(counted), counted.get_date(0)) == (CAP, START + MINUTE)
    del counted
    assert refused(road, "m1", START, last + MINUTE, 0) == road.error(
        "The range from 2020-01-01 00:00:00 to 2021-11-25 10:40:00 holds more than the server's cap "
        "of 1000000 bars: ask for it in parts")


# (timeframe, one bar, chunks as (first, last) bars from the start)
PAGES = [
    ("m1", MINUTE, [(0, 99), (100, 239), (240, 300)]),
    ("t1", SECOND, [(0, 179), (180, 359), (360, 600)]),
]


def test_chunks_that_end_one_bar_before_the_next_page_a_range_once(road):
    begin = datetime.datetime(2024, 5, 30, 10, 0)
    for timeframe, bar, chunks in PAGES:
        end = begin + chunks[-1][1] * bar
        whole = road.items(timeframe, begin, end, 0)
        paged = []
        for first, last in chunks:
            chunk = road.items(timeframe, begin + first * bar, begin + last * bar, 0)
            # Both bounds are inclusive, at the dates as they read.
            assert begin + first * bar <= chunk[0].date and chunk[-1].date <= begin + last * bar
            paged += chunk
        assert [(i.date, i.bid_close, i.ask_close) for i in paged] == [
            (i.date, i.bid_close, i.ask_close) for i in whole], timeframe
        # With a start and a count, the latest `count` bars of the range.
        assert dates(road.items(timeframe, begin, end, 5)) == dates(whole[-5:]), timeframe
