"""tests/python/test_velvix_sim_orders.py: the simulated dealing desk as a strategy meets it through
dedezi: the account is flat again once nothing is open, however closes and opens interleave, and
amounts are taken as asked: one that is no whole number of units, or not a number, or that the
instrument's trading settings do not allow, is refused; open trades, the account and the summary
follow each price, and a close realises the last mark; commissions are charged as the provider
computes them."""

import pytest

import dedezi
from helpers import Recorder, send_command, server_round

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
Params = dedezi.K7RRequestParamsEnum
Orders = dedezi.Constants.Orders
BUY, SELL = dedezi.Constants.BUY, dedezi.Constants.SELL


class Answers(dedezi.AK7RResponseListener):
    """Each request's answers and the TABLES_UPDATES it caused, by request id, with their
    responses."""

    def __init__(self):
        super().__init__()
        self.events = Recorder()

    def on_request_completed(self, request_id, response):
        self.events.add(("completed", request_id, response))

    def on_request_failed(self, request_id, error):
        self.events.add(("failed", request_id, error))

    def on_tables_updates(self, response):
        self.events.add(("updates", response.request_id, response))

    @staticmethod
    def updates(items, request_id):
        """The TABLES_UPDATES responses of the request among `items`, in order."""
        return [e[2] for e in items if e[:2] == ("updates", request_id)]

    def wait_settled(self, request_ids):
        """Waits until each request's two batches (placed, then filled or closed) arrived."""
        def settled(items):
            return all(len(self.updates(items, r)) >= 2 for r in request_ids)
        assert settled(self.events.wait_until(settled, timeout=10)), "the desk did not settle"

    def failure(self, request_id):
        """The reason the request failed with (None when it did not fail within the time)."""
        items = self.events.wait_until(lambda items: any(e[:2] == ("failed", request_id) for e in items))
        return next((e[2] for e in items if e[:2] == ("failed", request_id)), None)

    def outcome(self, request_id):
        """("completed", response) or ("failed", reason): the request's answer."""
        def answered(items):
            return any(e[0] in ("completed", "failed") and e[1] == request_id for e in items)
        items = self.events.wait_until(answered, timeout=10)
        return next((e[0], e[2]) for e in items if e[0] in ("completed", "failed") and e[1] == request_id)

    def placed(self, request_ids):
        """Waits until each request's order row went in."""
        def placed(items):
            return all(self.updates(items, r) for r in request_ids)
        assert placed(self.events.wait_until(placed, timeout=10)), "the orders were not placed"


@pytest.fixture
def desk(loaded):
    """(manager, send, answers): send(**params) sends a create-order command and gives its
    request id, send.open(side) and send.close(trade) open and close at market on the first
    account; answers hears the session's responses."""
    session, _, manager = loaded
    answers = Answers()
    session.subscribe_response(answers)
    account = manager.get_table(T.ACCOUNTS).get_row(0).account_id

    def send(**params):
        order = {Params.COMMAND: dedezi.Constants.Commands.CREATE_ORDER}
        order.update({getattr(Params, name.upper()): value for name, value in params.items()})
        return send_command(session, answers, order)

    def open_(side, amount=10_000, offer_id="1"):
        return send(order_type=Orders.TRUE_MARKET_OPEN, offer_id=offer_id, account_id=account,
                    buy_sell=side, amount=amount)

    def close(trade):
        return send(order_type=Orders.TRUE_MARKET_CLOSE, trade_id=trade.trade_id,
                    buy_sell=SELL if trade.buy_sell == BUY else BUY)

    send.open, send.close = open_, close
    yield manager, send, answers
    session.unsubscribe_response(answers)
    # The responses, and the session with its tables' rows, go now rather than at a collection.
    answers.events.clear()
    del send.open, send.close


def assert_flat(manager):
    assert manager.get_table(T.TRADES).size == 0
    assert manager.get_table(T.ORDERS).size == 0
    assert manager.get_table(T.SUMMARY).size == 0
    account = manager.get_table(T.ACCOUNTS).get_row(0)
    assert (account.used_margin, account.gross_pl) == (0.0, 0.0)
    assert account.equity == account.balance
    assert account.usable_margin == account.balance
    return account


def trades(manager):
    return list(manager.get_table(T.TRADES))


class TestFlatOnceNothingIsOpen:
    def test_back_to_back_reversals_then_a_close(self, desk):
        manager, send, answers = desk
        first = send.open(BUY)
        answers.wait_settled([first])
        side = BUY
        for _ in range(6):
            (position,) = trades(manager)
            side = SELL if side == BUY else BUY
            # The close and the next open go out together, as a reversing strategy sends them.
            answers.wait_settled([send.close(position), send.open(side)])
            (now_open,) = trades(manager)
            assert now_open.buy_sell == side
            account = manager.get_table(T.ACCOUNTS).get_row(0)
            assert account.used_margin == now_open.used_margin == 250.0
            assert account.gross_pl == now_open.gross_pl
        (last,) = trades(manager)
        answers.wait_settled([send.close(last)])
        account = assert_flat(manager)
        closed = list(manager.get_table(T.CLOSED_TRADES))
        assert len(closed) == 7
        assert account.balance == pytest.approx(50_000 + sum(c.net_pl for c in closed))

    def test_opens_and_closes_sent_together_across_offers(self, desk):
        manager, send, answers = desk
        answers.wait_settled([send.open(BUY, 10_000, "1"), send.open(SELL, 20_000, "1"),
                              send.open(BUY, 5_000, "2"), send.open(SELL, 3_000, "3")])
        assert manager.get_table(T.ACCOUNTS).get_row(0).used_margin == 950.0
        summary = {row.offer_id: (row.buy_amount, row.sell_amount) for row in manager.get_table(T.SUMMARY)}
        assert summary == {"1": (10_000, 20_000), "2": (5_000, 0), "3": (0, 3_000)}
        answers.wait_settled([send.close(trade) for trade in trades(manager)])
        assert_flat(manager)

    def test_a_reversal_filled_while_updates_are_locked(self, sim, desk):
        manager, send, answers = desk
        answers.wait_settled([send.open(BUY)])
        (position,) = trades(manager)
        sim.clock_virtual()
        requests = [send.close(position), send.open(SELL)]
        answers.placed(requests)
        manager.lock_updates()
        try:
            sim.advance(200)  # both fall due and are held back
            assert sim.flush()
        finally:
            manager.unlock_updates()
        answers.wait_settled(requests)
        (now_open,) = trades(manager)
        assert manager.get_table(T.ACCOUNTS).get_row(0).used_margin == 250.0
        closing = send.close(now_open)
        answers.placed([closing])
        sim.advance(200)
        answers.wait_settled([closing])
        assert_flat(manager)

    def test_a_trade_closed_twice_at_once_is_closed_once(self, desk):
        manager, send, answers = desk
        answers.wait_settled([send.open(BUY)])
        (position,) = trades(manager)
        answers.wait_settled([send.close(position), send.close(position)])
        assert len(list(manager.get_table(T.CLOSED_TRADES))) == 1
        assert_flat(manager)


class TestAmounts:
    @pytest.mark.parametrize("offer_id, amount, reason", [
        ("1", 100, "The amount 100 is below the minimum of 1000 (AMOUNT)"),
        ("1", 1_500, "The amount 1500 is not a whole number of lots of 1000 (AMOUNT)"),
        ("1", 1_000_000_000, "The amount 1000000000 is above the maximum of 50000000 (AMOUNT)"),
        ("1", 50_001_000, "The amount 50001000 is above the maximum of 50000000 (AMOUNT)"),
        ("1", 2_500.0, "The amount 2500 is not a whole number of lots of 1000 (AMOUNT)"),
        ("1", 0, "The amount must be a positive number of units (AMOUNT)"),
        ("1", 1_000.4, "The amount 1000.4 is not a whole number of units (AMOUNT)"),
        ("1", 0.25, "The amount 0.25 is not a whole number of units (AMOUNT)"),
        ("1", "1000", "The amount must be a number, not a text (AMOUNT)"),
        ("8", 10_001, "The amount 10001 is above the maximum of 10000 (AMOUNT)"),   # XAU/USD
        ("9", 5_001, "The amount 5001 is above the maximum of 5000 (AMOUNT)"),      # US30
    ], ids=["below", "part lot", "far above", "one lot above", "part lot double", "zero",
            "fraction", "fraction of a unit", "text", "gold", "index"])
    def test_refused_with_the_amount_named(self, desk, offer_id, amount, reason):
        manager, send, answers = desk
        request_id = send.open(BUY, amount, offer_id)
        assert answers.failure(request_id) == reason
        assert manager.get_table(T.ORDERS).size == 0

    @pytest.mark.parametrize("offer_id, amount", [
        ("1", 1_000), ("1", 50_000_000), ("1", 3_000.0), ("8", 1), ("8", 10_000), ("9", 7)])
    def test_the_settings_bounds_are_accepted(self, desk, offer_id, amount):
        manager, send, answers = desk
        request_id = send.open(BUY, amount, offer_id)
        answers.wait_settled([request_id])
        (trade,) = trades(manager)
        assert trade.amount == amount

    def test_the_limits_are_those_the_trading_settings_report(self, sim, loaded, desk):
        session, session_id, manager = loaded
        _, send, answers = desk
        account = manager.get_table(T.ACCOUNTS).get_row(0)
        sim.update_row(session_id, int(T.ACCOUNTS), account.account_id,
                       {"BaseUnitSize": 10_000, "AmountLimit": 100_000})
        settings = session.login_rules.trading_settings_provider
        lot = settings.get_base_unit_size("EUR/USD", account)
        high = settings.get_max_quantity("EUR/USD", account)
        assert (lot, settings.get_min_quantity("EUR/USD", account), high) == (10_000, 10_000, 100_000)
        refused = {amount: send.open(BUY, amount) for amount in (5_000, 15_000, 110_000)}
        assert {a: answers.failure(r) for a, r in refused.items()} == {
            5_000: "The amount 5000 is below the minimum of 10000 (AMOUNT)",
            15_000: "The amount 15000 is not a whole number of lots of 10000 (AMOUNT)",
            110_000: "The amount 110000 is above the maximum of 100000 (AMOUNT)"}
        answers.wait_settled([send.open(BUY, 100_000)])


def settle(sim):
    """Runs what the clock made due, and the batches that posted in turn."""
    for _ in range(3):
        assert sim.flush()


class TestMarks:
    """Open trades are marked at each price the server publishes, in the account's currency."""

    # (offer, side, amount, pip size, pip cost of 1,000 units)
    POSITIONS = [("1", BUY, 10_000, 0.0001, 0.1), ("2", SELL, 5_000, 0.01, 0.067)]

    def test_trades_and_the_account_follow_the_ticks_and_a_close_realises_the_mark(self, sim,
                                                                                  desk):
        manager, send, answers = desk
        answers.wait_settled([send.open(side, amount, offer) for offer, side, amount, *_ in
                              self.POSITIONS])
        held = {t.offer_id: t for t in trades(manager)}
        offers = {o.offer_id: o for o in manager.get_table(T.OFFERS)}
        account = manager.get_table(T.ACCOUNTS).get_row(0)
        sim.clock_virtual(45000.5)
        sim.price_ticks(True, 250)
        seen = set()
        for _ in range(12):
            sim.advance(250)
            settle(sim)
            for offer, side, amount, pip, pip_cost in self.POSITIONS:
                trade, quote = held[offer], offers[offer]
                close = quote.bid if side == BUY else quote.ask
                moved = close - trade.open_rate if side == BUY else trade.open_rate - close
                assert trade.close == close
                assert trade.pl == pytest.approx(server_round(moved / pip, 1), abs=1e-9)
                assert trade.gross_pl == pytest.approx(server_round(trade.pl * amount / 1000 * pip_cost, 2),
                                                       abs=1e-9)
                seen.add((offer, trade.pl))
            gross = sum(t.gross_pl for t in held.values())
            assert account.gross_pl == pytest.approx(gross, abs=1e-9)
            assert account.equity == pytest.approx(server_round(account.balance + gross, 2), abs=1e-9)
            assert account.usable_margin == pytest.approx(account.equity - account.used_margin,
                                                          abs=1e-9)
            summary = {s.offer_id: s.gross_pl for s in manager.get_table(T.SUMMARY)}
            assert summary == pytest.approx({o: t.gross_pl for o, t in held.items()}, abs=1e-9)
        assert len(seen) > 6, "the market hardly moved"
        sim.price_ticks(False)

        last = {o: (t.close, t.pl, t.gross_pl) for o, t in held.items()}
        closing = [send.close(t) for t in held.values()]
        answers.placed(closing)
        sim.advance(200)
        answers.wait_settled(closing)
        closed = list(manager.get_table(T.CLOSED_TRADES))
        assert {c.offer_id: (c.close_rate, c.pl, c.gross_pl) for c in closed} == last
        assert account.balance == pytest.approx(50_000 + sum(c.net_pl for c in closed), abs=1e-9)
        assert_flat(manager)


class TestCommissions:
    """The desk charges what the commissions provider computes: the open's at the fill, the
    close's at the close, and the balance takes the net P/L."""

    @pytest.mark.parametrize("offer_id, amount, each_way", [("1", 10_000, 0.40), ("8", 10, 0.0)],
                             ids=["EUR/USD", "XAU/USD"])
    def test_a_round_trip_pays_what_the_provider_computes(self, loaded, desk, offer_id, amount,
                                                          each_way):
        session, _, _ = loaded
        manager, send, answers = desk
        provider = session.commissions_provider
        (offer,) = [o for o in manager.get_table(T.OFFERS) if o.offer_id == offer_id]
        account = manager.get_table(T.ACCOUNTS).get_row(0)
        answers.wait_settled([send.open(BUY, amount, offer_id)])
        (trade,) = trades(manager)
        opening = provider.calc_open_commission(offer, account, amount, BUY, trade.open_rate)
        closing = provider.calc_close_commission(offer, account, amount, SELL, offer.bid)
        assert (opening, closing) == pytest.approx((each_way, each_way))
        assert (trade.commission, trade.close_commission) == (opening, closing)
        (summary,) = manager.get_table(T.SUMMARY)
        assert summary.net_pl == pytest.approx(server_round(trade.gross_pl - opening - closing, 2))

        answers.wait_settled([send.close(trade)])
        (closed,) = manager.get_table(T.CLOSED_TRADES)
        assert closed.commission == pytest.approx(opening + closing)
        assert closed.net_pl == pytest.approx(server_round(closed.gross_pl - opening - closing, 2))
        assert account.balance == pytest.approx(server_round(50_000 + closed.net_pl, 2))
        assert account.balance == pytest.approx(50_000 + closed.gross_pl - opening - closing)
