"""tests/python/test_velvix_sim_stops.py: stops and limits on the simulated desk's trades, as a
script protects a position: placed on a trade or with the market order that opens it, filled by a
price at the market and taking the trade's other order with them, taken out with the trade by a
close order, refused on the wrong side of the market or nearer than the trading settings allow,
deleted and edited."""

import fnmatch

import pytest

import dedezi
from helpers import server_round
from test_velvix_sim_orders import desk, settle  # noqa: F401 (desk is a fixture)

pytestmark = pytest.mark.timeout(60)

T, U = dedezi.K7RTableType, dedezi.K7RTableUpdateType
Response = dedezi.K7RResponseType
Orders, Commands = dedezi.Constants.Orders, dedezi.Constants.Commands
BUY, SELL = dedezi.Constants.BUY, dedezi.Constants.SELL
STOP, LIMIT = Orders.STOP, Orders.LIMIT


def outward(side, kind):
    """+1 when a trade's stop or limit of that kind lies above the rate the trade closes at."""
    return (1 if kind == LIMIT else -1) * (1 if side == BUY else -1)


def level(offer, side, kind, pips):
    """The rate `pips` away from where a trade of `side` closes (the bid for a buy, the ask for a
    sell), on the side where its stop or limit goes."""
    close = offer.bid if side == BUY else offer.ask
    return round(close + outward(side, kind) * pips * offer.point_size, offer.digits)


class Trader:
    """A logged-in session driving the desk: orders sent, their answers and batches read, and
    prices published by the simulated server."""

    def __init__(self, sim, session, manager, send, answers):
        self.sim, self.session, self.manager = sim, session, manager
        self.send, self.answers = send, answers
        self.account = manager.get_table(T.ACCOUNTS).get_row(0)
        self.readers = session.response_reader_factory

    def offer(self, offer_id="1"):
        (row,) = [o for o in self.manager.get_table(T.OFFERS) if o.offer_id == offer_id]
        return row

    def rows(self, table):
        return list(self.manager.get_table(table))

    def orders(self):
        return {row.order_id: row for row in self.rows(T.ORDERS)}

    def answer(self, request_id, expected=Response.CREATE_ORDER_RESPONSE):
        """The response the request was answered with; fails with its refusal."""
        name, answer = self.answers.outcome(request_id)
        assert name == "completed", answer
        assert answer.type == expected
        return answer

    def created(self, request_id):
        """The id of the order that the request created."""
        return self.readers.create_reader(self.answer(request_id)).order_id

    def refusal(self, request_id):
        name, answer = self.answers.outcome(request_id)
        assert name == "failed", "the server took the order"
        return answer

    def batch(self, request_id, index=0):
        """(type, table, key) of each change of the request's TABLES_UPDATES number `index`."""
        def arrived(items):
            return len(self.answers.updates(items, request_id)) > index
        updates = self.answers.updates(self.answers.events.wait_until(arrived, timeout=10), request_id)
        assert len(updates) > index, "the batch did not come"
        return [(c.type, c.table, c.row.get_cell(0)) for c in self.readers.create_reader(updates[index])
                if c is not None]

    def batches(self, request_id):
        return len(self.answers.updates(self.answers.events.items, request_id))

    def open(self, side, offer_id="1", amount=10_000, **extra):
        """The trade of a market order, once it filled."""
        request_id = self.send(order_type=Orders.TRUE_MARKET_OPEN, offer_id=offer_id,
                               account_id=self.account.account_id, buy_sell=side, amount=amount,
                               **extra)
        order_id = self.created(request_id)
        self.batch(request_id, 1)
        (trade,) = [t for t in self.rows(T.TRADES) if t.open_order_id == order_id]
        return trade

    def protect(self, trade, kind, rate, **extra):
        return self.send(order_type=kind, trade_id=trade.trade_id, rate=rate, **extra)

    def placed(self, trade, kind, rate):
        """The id of a stop or limit placed on the trade, once its batch came."""
        request_id = self.protect(trade, kind, rate)
        order_id = self.created(request_id)
        self.batch(request_id)
        return order_id

    def command(self, command, **params):
        return self.send(command=command, **params)

    def close_at(self, offer, side, close):
        """Publishes the price at which a trade of `side` closes (the bid for a buy, the ask for a
        sell), the spread kept, and waits for the batches it caused."""
        spread = offer.ask - offer.bid
        bid = close if side == BUY else close - spread
        assert self.sim.set_price(offer.offer_id, round(bid, offer.digits),
                                  round(bid + spread, offer.digits))
        settle(self.sim)

    def last_update(self, order_id):
        """(update type, order row) that GetLastOrderUpdate gives."""
        request_id = self.command(Commands.GET_LAST_ORDER_UPDATE, order_id=order_id)
        reader = self.readers.create_reader(self.answer(request_id, Response.GET_LAST_ORDER_UPDATE))
        return reader.update_type, reader.order


@pytest.fixture
def trader(sim, loaded, desk):
    session, _, _ = loaded
    manager, send, answers = desk
    return Trader(sim, session, manager, send, answers)


class TestPlacing:
    @pytest.mark.parametrize("how", ["on its trade", "with its market order"])
    @pytest.mark.parametrize("side", [BUY, SELL])
    def test_a_stop_and_a_limit_protect_a_trade(self, trader, side, how):
        offer = trader.offer()
        rates = {STOP: level(offer, side, STOP, 15), LIMIT: level(offer, side, LIMIT, 25)}
        if how == "on its trade":
            trade = trader.open(side)
            ids = {kind: trader.placed(trade, kind, rate) for kind, rate in rates.items()}
        else:
            trade = trader.open(side, rate_stop=rates[STOP], rate_limit=rates[LIMIT])
            ids = {STOP: trade.stop_order_id, LIMIT: trade.limit_order_id}
            # They come in with the trade, in its fill's batch.
            assert trader.batch(trade.open_order_req_id, 1)[:4] == [
                (U.INSERT, T.TRADES, trade.trade_id), (U.DELETE, T.ORDERS, trade.open_order_id),
                (U.INSERT, T.ORDERS, ids[STOP]), (U.INSERT, T.ORDERS, ids[LIMIT])]
        assert (trade.stop, trade.stop_order_id, trade.limit, trade.limit_order_id) == \
            (rates[STOP], ids[STOP], rates[LIMIT], ids[LIMIT])
        orders = trader.orders()
        assert set(orders) == set(ids.values())
        for kind, order_id in ids.items():
            row = orders[order_id]
            assert (row.type, row.stage, row.status, row.rate, row.trade_id, row.buy_sell,
                    row.amount, row.time_in_force, row.offer_id, row.account_id) == \
                (kind, "C", "W", rates[kind], trade.trade_id, SELL if side == BUY else BUY,
                 trade.amount, "GTC", trade.offer_id, trade.account_id)
            update, last = trader.last_update(order_id)
            assert (update, last.rate) == (U.INSERT, rates[kind])

    def test_a_trade_takes_one_stop_and_one_limit(self, trader):
        offer = trader.offer()
        trade = trader.open(BUY)
        stop = trader.placed(trade, STOP, level(offer, BUY, STOP, 10))
        trader.placed(trade, LIMIT, level(offer, BUY, LIMIT, 10))
        refused = trader.refusal(trader.protect(trade, STOP, level(offer, BUY, STOP, 20)))
        assert refused == f"The trade '{trade.trade_id}' has a stop already, order '{stop}': " \
                          "change its rate with EditOrder (TRADE_ID)"
        assert len(trader.orders()) == 2 and trade.stop == level(offer, BUY, STOP, 10)


class TestFilling:
    @pytest.mark.parametrize("past", [0, 3], ids=["at its rate", "through it"])
    @pytest.mark.parametrize("kind", [STOP, LIMIT])
    @pytest.mark.parametrize("side", [BUY, SELL])
    def test_the_market_reaching_it_closes_the_trade_at_the_market(self, trader, side, kind,
                                                                   past):
        offer = trader.offer()
        trade = trader.open(side)
        trade_id, open_rate, pip = trade.trade_id, trade.open_rate, offer.point_size
        rate = level(offer, side, kind, 10)
        requests = {k: trader.protect(trade, k, level(offer, side, k, 10)) for k in (STOP, LIMIT)}
        ids = {k: trader.created(r) for k, r in requests.items()}
        other = ids[LIMIT if kind == STOP else STOP]
        for request_id in requests.values():
            trader.batch(request_id)

        # One quoted digit short of its rate: nothing fills.
        trader.close_at(offer, side, round(rate - outward(side, kind) * 10 ** -offer.digits,
                                           offer.digits))
        assert [t.trade_id for t in trader.rows(T.TRADES)] == [trade_id]
        assert set(trader.orders()) == set(ids.values())

        close = round(rate + outward(side, kind) * past * pip, offer.digits)
        trader.close_at(offer, side, close)
        closing = trader.batch(requests[kind], 1)
        assert closing[:4] == [(U.DELETE, T.ORDERS, ids[kind]), (U.DELETE, T.ORDERS, other),
                               (U.DELETE, T.TRADES, trade_id), (U.INSERT, T.CLOSED_TRADES, trade_id)]
        assert trader.rows(T.TRADES) == [] and trader.orders() == {}
        (closed,) = trader.rows(T.CLOSED_TRADES)
        # At the market of the moment (the bid for a buy, the ask for a sell), not at the rate.
        assert (closed.close_order_id, closed.close_rate) == (ids[kind], close)
        moved = close - open_rate if side == BUY else open_rate - close
        assert closed.pl == pytest.approx(server_round(moved / pip, 1), abs=1e-9)
        assert closed.gross_pl == pytest.approx(server_round(closed.pl * 10 * 0.1, 2), abs=1e-9)
        assert closed.commission == pytest.approx(0.80)  # both ways, as a close
        assert trader.account.balance == pytest.approx(server_round(50_000 + closed.net_pl, 2))
        assert [trader.last_update(i)[0] for i in (ids[kind], other)] == [U.DELETE, U.DELETE]

    def test_a_close_order_takes_the_stop_and_limit_out_with_its_trade(self, trader):
        offer = trader.offer()
        trade = trader.open(BUY)
        stop_request = trader.protect(trade, STOP, level(offer, BUY, STOP, 10))
        ids = [trader.created(stop_request), trader.placed(trade, LIMIT, level(offer, BUY, LIMIT, 10))]
        closing = trader.send(order_type=Orders.TRUE_MARKET_CLOSE, trade_id=trade.trade_id)
        assert {(U.DELETE, T.ORDERS, i) for i in ids} <= set(trader.batch(closing, 1))
        assert trader.orders() == {} and trader.rows(T.TRADES) == []
        assert [trader.last_update(i)[0] for i in ids] == [U.DELETE, U.DELETE]

        # The old stop waits no more: the market going through its rate changes nothing.
        trader.close_at(offer, BUY, level(offer, BUY, STOP, 12))
        assert trader.batches(stop_request) == 1
        assert len(trader.rows(T.CLOSED_TRADES)) == 1


class TestChecks:
    @pytest.mark.parametrize("kind", [STOP, LIMIT])
    @pytest.mark.parametrize("side", [BUY, SELL])
    @pytest.mark.parametrize("offer_id, amount", [("1", 10_000), ("8", 10)],
                             ids=["EUR/USD", "XAU/USD"])
    def test_at_the_distance_the_trading_settings_report_and_no_nearer(self, trader, offer_id,
                                                                       amount, side, kind):
        offer = trader.offer(offer_id)
        settings = trader.session.login_rules.trading_settings_provider
        least = (settings.get_cond_dist_stop_for_trade if kind == STOP else
                 settings.get_cond_dist_limit_for_trade)(offer.instrument)
        assert least > 0
        trade = trader.open(side, offer_id, amount)
        point = 10 ** -offer.digits / offer.point_size  # one quoted digit, in pips
        wrong = trader.refusal(trader.protect(trade, kind, level(offer, side, kind, -least)))
        nearer = trader.refusal(trader.protect(trade, kind, level(offer, side, kind, least - point)))
        name, market = ("stop" if kind == STOP else "limit"), ("bid" if side == BUY else "ask")
        where = "above" if outward(side, kind) > 0 else "below"
        assert fnmatch.fnmatchcase(
            wrong, f"The {name} of a {'buy' if side == BUY else 'sell'} trade must be {where} "
                   f"the {market}, * (RATE)"), wrong
        assert fnmatch.fnmatchcase(
            nearer, f"The {name} * is * from the {market}, *, nearer than the {least} pip* the "
                    "trading settings allow (RATE)"), nearer
        assert trader.orders() == {}
        at = level(offer, side, kind, least)
        order_id = trader.placed(trade, kind, at)
        assert trader.orders()[order_id].rate == at


# A buy trade of 10,000 EUR/USD with a stop 10 pips off: (what is sent, the refusal's pattern).
REFUSALS = {
    "no trade": (lambda g: dict(order_type=STOP, rate=g.away(STOP, 20)),
                 "The trade is not specified (TRADE_ID)"),
    "unknown trade": (lambda g: dict(order_type=LIMIT, trade_id="NOPE", rate=g.away(LIMIT, 20)),
                      "Unknown trade 'NOPE'"),
    "no rate": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id),
                "A limit order needs a positive rate (RATE)"),
    "the trade's side": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id, buy_sell=BUY,
                                        rate=g.away(LIMIT, 20)),
                         "A limit order takes the side opposite to the trade's (BUY_SELL)"),
    "part of the trade": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id, amount=5_000,
                                         rate=g.away(LIMIT, 20)),
                          "Partial closes are not supported by the server (AMOUNT)"),
    "another offer": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id, offer_id="2",
                                     rate=g.away(LIMIT, 20)),
                      "The trade '*' is of offer '1' (OFFER_ID)"),
    "a market order's stop too near": (
        lambda g: g.market(rate_stop=g.away(STOP, 0.5)),
        "The stop * is 0.5 pips from the bid, *, nearer than the 1 pip the trading settings "
        "allow (RATE_STOP)"),
    "a market order's limit on the wrong side": (
        lambda g: g.market(rate_limit=g.away(LIMIT, -5)),
        "The limit of a buy trade must be above the bid, * (RATE_LIMIT)"),
    "a market order's stop not a number": (lambda g: g.market(rate_stop="low"),
                                           "The stop rate must be a positive number (RATE_STOP)"),
    "an entry's stop": (lambda g: g.market(order_type=Orders.STOP_ENTRY, rate=g.away(LIMIT, 50),
                                           rate_stop=g.away(STOP, 20)),
                        "The server takes RATE_STOP and RATE_LIMIT with market open orders only "
                        "(RATE_STOP)"),
    "a trailing stop": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id, trail_step=10,
                                       rate=g.away(LIMIT, 20)),
                        "Trailing orders are not supported by the server (TRAIL_STEP)"),
    "a net order": (lambda g: g.market(net_quantity="Y"),
                    "Net quantity orders are not supported by the server (NET_QUANTITY)"),
    "a pegged stop": (lambda g: dict(order_type=STOP, trade_id=g.trade_id, rate=g.away(STOP, 20),
                                     peg_type_stop="M", peg_offset_stop=10),
                      "Pegged orders are not supported by the server (PEG_TYPE_STOP)"),
    "a range order": (lambda g: g.market(rate_min=1.0, rate_max=2.0),
                      "Range orders are not supported by the server (RATE_MIN)"),
    "a contingent order": (lambda g: g.market(contingency_id="G1"),
                           "Contingency groups are not supported by the server (CONTINGENCY_ID)"),
    "a market order to wait": (lambda g: g.market(time_in_force="GTC"),
                               "The server gives these orders the time in force \"IOC\", not 'GTC' "
                               "(TIME_IN_FORCE)"),
    "a limit to end at once": (lambda g: dict(order_type=LIMIT, trade_id=g.trade_id,
                                              rate=g.away(LIMIT, 20), time_in_force="IOC"),
                               "The server gives these orders the time in force \"GTC\", not 'IOC' "
                               "(TIME_IN_FORCE)"),
    "an edit without a rate": (lambda g: dict(command=Commands.EDIT_ORDER, order_id=g.stop_id),
                               "The new rate must be a positive number (RATE)"),
    "an edit of the amount": (lambda g: dict(command=Commands.EDIT_ORDER, order_id=g.stop_id,
                                             rate=g.away(STOP, 20), amount=5_000),
                              "Changing the amount is not supported by the server (AMOUNT)"),
    "an edit too near": (lambda g: dict(command=Commands.EDIT_ORDER, order_id=g.stop_id,
                                        rate=g.away(STOP, 0.5)),
                         "The stop * nearer than the 1 pip the trading settings allow (RATE)"),
    "an edit of an unknown order": (lambda g: dict(command=Commands.EDIT_ORDER, order_id="NOPE",
                                                   rate=1.0),
                                    "Unknown order 'NOPE'"),
    "a delete of an unknown order": (lambda g: dict(command=Commands.DELETE_ORDER, order_id="NOPE"),
                                     "Unknown order 'NOPE'"),
}


class Guarded:
    """A buy trade with a stop, and orders that refer to them."""

    def __init__(self, trader):
        self.trader, self.offer = trader, trader.offer()
        trade = trader.open(BUY)
        self.trade_id, self.trade = trade.trade_id, trade
        self.stop_id = trader.placed(trade, STOP, self.away(STOP, 10))

    def away(self, kind, pips):
        return level(self.offer, BUY, kind, pips)

    def market(self, **params):
        order = dict(order_type=Orders.TRUE_MARKET_OPEN, offer_id="1", buy_sell=BUY, amount=1_000,
                     account_id=self.trader.account.account_id)
        order.update(params)
        return order


@pytest.mark.parametrize("case", list(REFUSALS))
def test_refused_naming_the_field_and_nothing_changes(trader, case):
    make, pattern = REFUSALS[case]
    guarded = Guarded(trader)
    refusal = trader.refusal(trader.send(**make(guarded)))
    assert fnmatch.fnmatchcase(refusal, pattern), refusal
    assert list(trader.orders()) == [guarded.stop_id]
    assert [t.trade_id for t in trader.rows(T.TRADES)] == [guarded.trade_id]
    assert guarded.trade.stop == guarded.away(STOP, 10)


def test_a_deleted_stop_leaves_the_trade_and_its_limit(trader):
    offer = trader.offer()
    trade = trader.open(BUY)
    stop = trader.placed(trade, STOP, level(offer, BUY, STOP, 10))
    limit_rate = level(offer, BUY, LIMIT, 10)
    limit = trader.placed(trade, LIMIT, limit_rate)
    deleting = trader.command(Commands.DELETE_ORDER, order_id=stop)
    trader.answer(deleting, Response.COMMAND_RESPONSE)
    assert trader.batch(deleting) == [(U.DELETE, T.ORDERS, stop), (U.UPDATE, T.TRADES, trade.trade_id)]
    assert (trade.stop, trade.stop_order_id) == (0.0, "")
    assert (trade.limit, trade.limit_order_id) == (limit_rate, limit)
    assert list(trader.orders()) == [limit]
    assert trader.last_update(stop)[0] is U.DELETE

    trader.close_at(offer, BUY, level(offer, BUY, STOP, 12))  # through the old stop
    assert [t.trade_id for t in trader.rows(T.TRADES)] == [trade.trade_id]
    again = trader.placed(trade, STOP, level(offer, BUY, STOP, 10))
    assert trade.stop_order_id == again


def test_an_edited_limit_fills_at_its_new_rate_only(trader):
    offer = trader.offer()
    trade = trader.open(SELL)
    old, new = level(offer, SELL, LIMIT, 10), level(offer, SELL, LIMIT, 20)
    limit = trader.placed(trade, LIMIT, old)
    editing = trader.command(Commands.EDIT_ORDER, order_id=limit, rate=new)
    trader.answer(editing, Response.COMMAND_RESPONSE)
    assert trader.batch(editing) == [(U.UPDATE, T.ORDERS, limit), (U.UPDATE, T.TRADES, trade.trade_id)]
    assert (trader.orders()[limit].rate, trade.limit, trade.limit_order_id) == (new, new, limit)
    update, row = trader.last_update(limit)
    assert (update, row.rate) == (U.UPDATE, new)

    trader.close_at(offer, SELL, old)
    assert [t.trade_id for t in trader.rows(T.TRADES)] == [trade.trade_id]
    trader.close_at(offer, SELL, new)
    (closed,) = trader.rows(T.CLOSED_TRADES)
    assert (closed.close_order_id, closed.close_rate) == (limit, new)


def test_an_edited_entry_order_fills_once_its_new_rate_is_reached(trader):
    offer = trader.offer()
    placing = trader.send(order_type=Orders.STOP_ENTRY, offer_id="1", buy_sell=BUY, amount=10_000,
                          account_id=trader.account.account_id, rate=round(offer.ask + 0.01, 5))
    entry = trader.created(placing)
    trader.batch(placing)
    through = round(offer.ask - 0.0005, 5)  # a buy stop that the ask is above already
    editing = trader.command(Commands.EDIT_ORDER, order_id=entry, rate=through)
    trader.answer(editing, Response.COMMAND_RESPONSE)
    assert trader.batch(editing) == [(U.UPDATE, T.ORDERS, entry)]
    assert (U.DELETE, T.ORDERS, entry) in trader.batch(placing, 1)
    (trade,) = trader.rows(T.TRADES)
    assert (trade.open_order_id, trade.open_rate) == (entry, offer.ask)
