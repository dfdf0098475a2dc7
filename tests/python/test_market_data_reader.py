"""tests/python/test_market_data_reader.py: K7RMarketDataResponseReader: its 28 properties in
order, what each gives, null texts, dates at whole seconds, and the market data the simulated
server sends for a subscription, which follows the offer's live price."""

import datetime

import pytest

import dedezi
from helpers import members, send_command
from test_response_listener import trading, listened  # noqa: F401

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
Params = dedezi.K7RRequestParamsEnum
Statuses = dedezi.Constants.SubscriptionStatuses
OLE_2024_01_02_10_30_15 = 45293 + (10 * 3600 + 30 * 60 + 15) / 86400
AT = datetime.datetime(2024, 1, 2, 10, 30, 15)

# (property, value given to the server, value read)
FIELDS = [
    ("quote_id", "Q1-17", "Q1-17"), ("instrument", "EUR/USD", "EUR/USD"), ("symbol_id", 1, 1),
    ("date_time", OLE_2024_01_02_10_30_15, AT),
    ("ask_low", 1.1001, 1.1001), ("ask_high", 1.1009, 1.1009), ("ask_open", 1.1003, 1.1003),
    ("ask_close", 1.1005, 1.1005), ("bid_low", 1.0999, 1.0999), ("bid_high", 1.1007, 1.1007),
    ("bid_open", 1.1001, 1.1001), ("bid_close", 1.1003, 1.1003), ("low", 1.0950, 1.0950),
    ("high", 1.1050, 1.1050), ("timing_interval", 60, 60), ("candle_completed", True, True),
    ("market_data_request_id", "77", "77"), ("trading_session_id", "TS", "TS"),
    ("trading_session_sub_id", "TS-1", "TS-1"), ("continuos_flag", 1, 1),
    ("bid_id", "BQ1", "BQ1"), ("bid_quote_condition", "A", "A"), ("bid_quote_type", 1, 1),
    ("bid_expire_date_time", OLE_2024_01_02_10_30_15 + 1 / 1440, AT + datetime.timedelta(minutes=1)),
    ("ask_id", "AQ1", "AQ1"), ("ask_quote_condition", "B", "B"), ("ask_quote_type", 2, 2),
    ("ask_expire_date_time", OLE_2024_01_02_10_30_15 + 2 / 1440, AT + datetime.timedelta(minutes=2)),
]
TEXTS = [name for name, given, _ in FIELDS if isinstance(given, str)]
DATES = ["date_time", "bid_expire_date_time", "ask_expire_date_time"]


def test_members_in_order_with_their_docstrings():
    cls = dedezi.K7RMarketDataResponseReader
    assert members(cls) == [(name, "Reserved for future use.") for name, _, _ in FIELDS]
    assert cls.__doc__ == "Reserved for future use."
    assert not hasattr(cls, "continuous_flag")
    with pytest.raises(RuntimeError):
        cls()


def test_every_property_reads_its_own_getter(sim, crafted_reader):
    reader = crafted_reader(Type.MARKET_DATA,
                            lambda rid: sim.set_market_data(rid, {n: v for n, v, _ in FIELDS}))
    assert type(reader) is dedezi.K7RMarketDataResponseReader
    for name, _, expected in FIELDS:
        value = getattr(reader, name)
        assert value == expected and type(value) is type(expected), name
    for name in DATES:
        value = getattr(reader, name)
        assert value.tzinfo is None and value.microsecond == 0


def test_texts_without_a_value_are_none(sim, crafted_reader):
    reader = crafted_reader(Type.MARKET_DATA,
                            lambda rid: sim.set_market_data(rid, {name: None for name in TEXTS}))
    assert [getattr(reader, name) for name in TEXTS] == [None] * len(TEXTS)


def test_a_date_the_library_cannot_convert_raises_the_date_librarys_error(sim, crafted_reader):
    reader = crafted_reader(Type.MARKET_DATA, lambda rid: sim.set_market_data(rid, {"date_time": 1e9}))
    with pytest.raises(IndexError, match="Day of month value is out of range 1..31"):
        reader.date_time
    assert reader.bid_expire_date_time == datetime.datetime(1899, 12, 30)


# --- the server's market data ---------------------------------------------------------------------

@pytest.fixture
def subscribe(sim, trading):
    """(session, listener, subscribe(offer_id, status) giving the request id and the completions it
    brought), prices held still."""
    session, _, listener = trading
    sim.price_ticks(False)
    assert sim.flush()

    def run(offer_id, status):
        request_id = send_command(session, listener, {
            Params.COMMAND: dedezi.Constants.Commands.SET_SUBSCRIPTION_STATUS,
            Params.OFFER_ID: offer_id, Params.SUBSCRIPTION_STATUS: status})
        listener.wait_request(request_id)
        assert sim.flush()
        return request_id, [args for name, args, _ in listener.calls.items if args[0] == request_id]

    yield session, listener, run
    sim.price_ticks(True)


def offer(session, instrument):
    (row,) = [o for o in session.table_manager.get_table(dedezi.K7RTableType.OFFERS)
              if o.instrument == instrument]
    return row


@pytest.mark.parametrize("instrument", ["EUR/USD", "USD/JPY", "US30"])
def test_a_subscription_brings_market_data_at_the_live_price(subscribe, instrument):
    session, _, run = subscribe
    live = offer(session, instrument)
    request_id, answers = run(live.offer_id, Statuses.TRADABLE)
    assert [response.type for _, response in answers] == [
        Type.COMMAND_RESPONSE, Type.MARKET_DATA, Type.LEVEL2_MARKET_DATA]
    data = session.response_reader_factory.create_reader(answers[1][1])
    assert (data.instrument, data.symbol_id) == (instrument, int(live.offer_id))
    assert (data.bid_close, data.ask_close) == (live.bid, live.ask)
    assert data.bid_low <= min(data.bid_open, data.bid_close) <= max(data.bid_open, data.bid_close) <= data.bid_high
    assert data.ask_low <= min(data.ask_open, data.ask_close) <= max(data.ask_open, data.ask_close) <= data.ask_high
    assert data.low <= data.bid_low and data.bid_high <= data.high
    assert data.date_time == live.time
    assert data.date_time <= data.bid_expire_date_time == data.ask_expire_date_time
    assert data.market_data_request_id == request_id
    assert isinstance(data.quote_id, str) and data.bid_id != data.ask_id
    assert data.trading_session_id is None and data.trading_session_sub_id is None
    assert data.candle_completed is False and data.continuos_flag == 1


def test_disabling_brings_no_market_data_and_the_offer_shows_the_status(sim, subscribe):
    session, listener, run = subscribe

    def shown(status):
        # The offer's change comes as a table update after the answers.
        listener.calls.wait_until(lambda _: offer(session, "GBP/USD").subscription_status == status)
        return offer(session, "GBP/USD").subscription_status

    live = offer(session, "GBP/USD")
    assert live.subscription_status == Statuses.TRADABLE
    _, answers = run(live.offer_id, Statuses.DISABLE)
    assert [response.type for _, response in answers] == [Type.COMMAND_RESPONSE]
    assert shown(Statuses.DISABLE) == Statuses.DISABLE
    _, answers = run(live.offer_id, Statuses.VIEW_ONLY)
    assert len(answers) == 3 and shown(Statuses.VIEW_ONLY) == Statuses.VIEW_ONLY


@pytest.mark.parametrize("offer_id, status, text", [
    ("999", "T", "Unknown offer '999'"),
    ("1", "X", "SUBSCRIPTION_STATUS"),
    ("", "T", "OFFER_ID"),
], ids=["unknown offer", "bad status", "no offer"])
def test_a_bad_subscription_fails_with_a_reason(subscribe, offer_id, status, text):
    _, _, run = subscribe
    _, answers = run(offer_id, status)
    assert len(answers) == 1 and isinstance(answers[0][1], str) and text in answers[0][1]
