"""tests/python/test_level2_reader.py: the level-2 reader, its update and price views: flat reads
passed to the library unchecked, checked reads through the views, best prices, iteration, the
chain of references that keeps every view readable after what produced it is gone, and the book
the simulated server sends for a subscription."""

import gc

import pytest

import dedezi
from helpers import members, send_command
from test_response_listener import trading, listened  # noqa: F401

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
RESERVED = "Reserved for future use."
OLE = 45293.5
# Three updates: prices as (flags, rate, amount, condition, originator).
UPDATES = [
    (OLE, 1, 100, [("A", 1.2002, 2e6, "A", "LP1"), ("L", 1.1900, 0.0, None, None),
                   ("B", 1.2000, 1e6, "A", None), ("AB", 1.2001, 3e6, None, "LP2")]),
    (OLE + 1 / 86400, 2, 50, [("H", 150.5, 0.0, None, None)]),
    (OLE + 2 / 86400, 3, 0, []),
]
KIND = "IK7RLevel2MarketDataUpdatesReader"


@pytest.fixture
def level2(sim, crafted_reader):
    """level2(updates=UPDATES): a reader over a crafted level-2 response."""
    def make(updates=UPDATES):
        return crafted_reader(Type.LEVEL2_MARKET_DATA, lambda rid: sim.set_level2(rid, updates))
    return make


def library_reader(sim):
    (reader_id,) = sim.objects(KIND)
    return reader_id


def test_classes_members_and_docstrings():
    flat = ["price_quotes_count", "get_date_time", "get_symbol_id", "get_volume", "get_prices_count",
            "is_bid", "is_ask", "is_low", "is_high", "get_rate", "get_amount", "get_condition",
            "get_originator", "get_prices"]
    assert members(dedezi.K7RLevel2MarketDataUpdatesReader) == [("__iter__", None)] + [
        (name, RESERVED) for name in flat]
    view = ["prices_count", "get_price", "is_bid", "is_ask", "is_low", "is_high", "get_rate",
            "get_amount", "get_condition", "get_originator", "get_bid", "get_ask", "get_low", "get_high"]
    assert members(dedezi.K7RLevel2MarketDataUpdatesReaderL1) == [("__iter__", None)] + [
        (name, RESERVED) for name in view]
    assert members(dedezi.K7RLevel2MarketDataUpdatesReaderPrice) == [
        (name, RESERVED) for name in ("is_bid", "is_ask", "is_low", "is_high", "rate", "amount",
                                      "condition", "originator")]
    for name in ("_K7RLevel2MarketDataUpdatesReader", "_K7RLevel2MarketDataUpdatesReaderL1"):
        assert members(getattr(dedezi, name)) == [] and getattr(dedezi, name).__doc__ is None
        assert getattr(dedezi, name[1:]).__bases__ == (getattr(dedezi, name),)
    for name in ("K7RLevel2MarketDataUpdatesReader", "K7RLevel2MarketDataUpdatesReaderL1",
                 "K7RLevel2MarketDataUpdatesReaderPrice"):
        assert getattr(dedezi, name).__doc__ == RESERVED
        with pytest.raises(RuntimeError):
            getattr(dedezi, name)()


def test_flat_reads(level2):
    reader = level2()
    assert type(reader) is dedezi.K7RLevel2MarketDataUpdatesReader
    assert reader.price_quotes_count == 3
    date = reader.get_date_time(1)
    assert type(date) is float and date == UPDATES[1][0]
    assert [(reader.get_symbol_id(i), reader.get_volume(i), reader.get_prices_count(i))
            for i in range(3)] == [(1, 100, 4), (2, 50, 1), (3, 0, 0)]
    flags = [(reader.is_bid(0, j), reader.is_ask(0, j), reader.is_low(0, j), reader.is_high(0, j))
             for j in range(4)]
    assert flags == [(False, True, False, False), (False, False, True, False),
                     (True, False, False, False), (True, True, False, False)]
    assert [(reader.get_rate(0, j), reader.get_amount(0, j), reader.get_condition(0, j),
             reader.get_originator(0, j)) for j in range(4)] == [p[1:] for p in UPDATES[0][3]]


@pytest.mark.parametrize("call, neutral, journaled", [
    (lambda r: r.get_rate(3, 0), 0.0, ("getRate", (3, 0))),
    (lambda r: r.get_rate(0, 4), 0.0, ("getRate", (0, 4))),
    (lambda r: r.is_bid(-1, 0), False, ("isBid", (-1, 0))),
    (lambda r: r.get_originator(1, 1), None, ("getOriginator", (1, 1))),
    (lambda r: r.get_date_time(7), 0.0, ("getDateTime", (7,))),
    (lambda r: r.get_prices_count(-5), 0, ("getPricesCount", (-5,))),
], ids=["update past the end", "price past the end", "negative update", "text", "date", "count"])
def test_flat_reads_outside_reach_the_library_which_gives_neutral_values(sim, level2, call, neutral,
                                                                        journaled):
    reader = level2()
    sim.clear_journal()
    assert call(reader) == neutral
    op, args = journaled
    assert sim.journal(f"{KIND}::{op}") == [(f"{KIND}::{op}", args)]


def test_best_prices_take_the_first_flagged_price(level2):
    first, second, third = level2().get_prices(0), level2().get_prices(1), level2().get_prices(2)
    # Bid flags on prices 2 and 3: the lower index wins; ask flags on 0 and 3.
    assert (first.get_bid(), first.get_ask(), first.get_low(), first.get_high()) == (
        1.2000, 1.2002, 1.1900, 0.0)
    assert (second.get_bid(), second.get_high()) == (0.0, 150.5)
    assert (third.prices_count, third.get_bid(), third.get_ask()) == (0, 0.0, 0.0)


def test_views_check_their_indices(level2):
    reader = level2()
    assert reader.get_prices(3) is None and reader.get_prices(-1) is None
    update = reader.get_prices(0)
    n = update.prices_count
    assert n == 4
    assert update.get_price(n) is None
    assert (update.is_ask(n), update.is_bid(-1), update.get_rate(n), update.get_amount(n)) == (
        False, False, 0.0, 0.0)
    assert update.get_originator(n) is None and update.get_condition(-1) is None
    with pytest.raises(OverflowError):
        update.get_price(-1)
    price = update.get_price(3)
    assert type(price) is dedezi.K7RLevel2MarketDataUpdatesReaderPrice
    assert (price.is_bid, price.is_ask, price.is_low, price.is_high, price.rate, price.amount,
            price.condition, price.originator) == (True, True, False, False, 1.2001, 3e6, None, "LP2")


def test_neither_view_has_a_length(level2):
    reader = level2()
    for view in (reader, reader.get_prices(0)):
        with pytest.raises(TypeError):
            len(view)
        assert not hasattr(view, "size") and not hasattr(view, "get")


def test_iterating_the_reader_or_any_update_view_yields_every_update(level2):
    reader = level2()
    views = list(reader)
    assert [type(v) for v in views] == [dedezi.K7RLevel2MarketDataUpdatesReaderL1] * 3
    assert [v.prices_count for v in views] == [4, 1, 0]
    # An update view iterates over the updates of its whole reader, not over its prices.
    assert [v.prices_count for v in reader.get_prices(2)] == [4, 1, 0]
    assert list(level2([])) == []


def test_every_view_keeps_what_it_reads_from(sim, level2):
    reader = level2()
    reader_id = library_reader(sim)
    assert sim.refcount(reader_id) == 1, "the factory's reference went back: the view holds one"
    update = reader.get_prices(0)
    price = update.get_price(2)
    assert sim.refcount(reader_id) == 3
    del reader, update
    gc.collect()
    assert sim.refcount(reader_id) == 1, "only the price view is left"
    assert (price.is_bid, price.rate, price.condition) == (True, 1.2000, "A")
    del price
    gc.collect()
    assert sim.live(KIND) == 0


def test_iterated_update_views_outlive_their_reader(sim, level2):
    reader = level2()
    reader_id = library_reader(sim)
    views = list(reader)
    # Each update view holds a fresh reader view and the library reader.
    assert sim.refcount(reader_id) == 1 + 2 * 3
    del reader
    gc.collect()
    assert [v.get_rate(0) for v in views] == [1.2002, 150.5, 0.0]
    assert [v.prices_count for v in views[1]] == [4, 1, 0]
    del views
    gc.collect()
    assert sim.live(KIND) == 0


def test_the_servers_book_lists_levels_around_the_live_price_best_first(sim, trading):
    session, _, listener = trading
    sim.price_ticks(False)
    assert sim.flush()
    (live,) = [o for o in session.table_manager.get_table(dedezi.K7RTableType.OFFERS)
               if o.instrument == "EUR/USD"]
    request_id = send_command(session, listener, {
        dedezi.K7RRequestParamsEnum.COMMAND: dedezi.Constants.Commands.SET_SUBSCRIPTION_STATUS,
        dedezi.K7RRequestParamsEnum.OFFER_ID: live.offer_id,
        dedezi.K7RRequestParamsEnum.SUBSCRIPTION_STATUS: dedezi.Constants.SubscriptionStatuses.TRADABLE})
    _, (_, response) = listener.wait_for(lambda name, args: name == "completed" and args[0] == request_id
                                         and args[1].type == Type.LEVEL2_MARKET_DATA)
    reader = session.response_reader_factory.create_reader(response)
    sim.price_ticks(True)
    (update,) = list(reader)
    assert (update.get_bid(), update.get_ask()) == (live.bid, live.ask)
    assert update.get_low() <= live.bid <= update.get_high()
    prices = [update.get_price(j) for j in range(update.prices_count)]
    bids = [p.rate for p in prices if p.is_bid]
    asks = [p.rate for p in prices if p.is_ask]
    assert len(bids) >= 3 and len(asks) >= 3
    assert bids == sorted(bids, reverse=True) and asks == sorted(asks) and bids[0] < asks[0]
    assert all(isinstance(p.originator, str) for p in prices if p.is_bid or p.is_ask)
    assert all(p.condition is None and p.originator is None for p in prices if p.is_low or p.is_high)
    assert reader.get_symbol_id(0) == int(live.offer_id)
    assert reader.get_date_time(0) > 0
