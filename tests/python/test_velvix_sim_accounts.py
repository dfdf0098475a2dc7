"""tests/python/test_velvix_sim_accounts.py: the account the simulated server keeps for each user,
as scripts meet it through dedezi: it outlives a logout and a lost session, every session logged in
as the user shows the same rows and hears each change, another user has an account of its own,
and reset() opens it again."""

import pytest

import dedezi
from helpers import (CONNECTION, URL, Recorder, manager_listener, new_session, send_command,
                     session_status_recorder)
from test_table_listener import Recording
from test_velvix_sim_orders import Answers

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
Params = dedezi.K7RRequestParamsEnum
Orders = dedezi.Constants.Orders
SessionStatus = dedezi.AK7RSessionStatus.K7RSessionStatus
BUY, SELL = dedezi.Constants.BUY, dedezi.Constants.SELL


class Terminal:
    """A session of the simulated server with its tables, logged in, and what it was answered."""

    def __init__(self, sim, user="demo", password="demo"):
        self.sim = sim
        self.session, self.session_id = new_session(sim)
        self.status, self.answers = session_status_recorder(), Answers()
        self.session.subscribe_session_status(self.status)
        self.session.subscribe_response(self.answers)
        self.log_in(user, password)

    def wait_status(self, status):
        assert status in self.status.statuses.wait_until(lambda seen: status in seen), status

    def log_in(self, user="demo", password="demo"):
        tables = manager_listener()
        self.session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)
        assert self.session.login(user, password, URL, CONNECTION)
        loaded = dedezi.K7RTableManagerStatus.TABLES_LOADED
        assert loaded in tables.statuses.wait_until(lambda seen: loaded in seen)
        self.manager = self.session.table_manager

    def log_out(self):
        self.session.logout()
        self.wait_status(SessionStatus.DISCONNECTED)
        self.status.statuses = Recorder()

    def table(self, table_type):
        return self.manager.get_table(table_type)

    def account(self):
        return self.table(T.ACCOUNTS).get_row(0)

    def send(self, **params):
        order = {Params.COMMAND: dedezi.Constants.Commands.CREATE_ORDER}
        order.update({getattr(Params, name.upper()): value for name, value in params.items()})
        return send_command(self.session, self.answers, order)

    def open(self, side=BUY, amount=10_000):
        """Opens at market on EUR/USD and waits until the trade is in."""
        request_id = self.send(order_type=Orders.TRUE_MARKET_OPEN, offer_id="1",
                               account_id=self.account().account_id, buy_sell=side, amount=amount)
        self.answers.wait_settled([request_id])
        (trade,) = [t for t in self.table(T.TRADES) if t.open_order_req_id == request_id]
        return trade

    def close(self, trade):
        request_id = self.send(order_type=Orders.TRUE_MARKET_CLOSE, trade_id=trade.trade_id)
        self.answers.wait_settled([request_id])
        return request_id

    def seen(self):
        """What a script reads of the account: its rows, by table, and its figures."""
        account = self.account()
        return {"trades": [(t.trade_id, t.buy_sell, t.amount, t.open_rate, t.used_margin, t.close,
                            t.pl, t.gross_pl) for t in self.table(T.TRADES)],
                "orders": [(o.order_id, o.type, o.rate, o.amount) for o in self.table(T.ORDERS)],
                "closed": [(c.trade_id, c.gross_pl, c.close_rate) for c in self.table(T.CLOSED_TRADES)],
                "summary": [(s.offer_id, s.buy_amount, s.sell_amount) for s in self.table(T.SUMMARY)],
                "account": (account.account_id, account.balance, account.used_margin,
                            account.gross_pl, account.equity)}

    def close_session(self):
        self.session.unsubscribe_response(self.answers)
        self.answers.events.clear()
        self.session.unsubscribe_session_status(self.status)
        self.session.logout()


@pytest.fixture
def terminals(sim):
    """terminal(user="demo", password="demo"): a new logged-in Terminal; all logged out at the
    end. Prices hold still."""
    made = []

    def terminal(*args):
        made.append(Terminal(sim, *args))
        sim.price_ticks(False)
        return made[-1]

    yield terminal
    for t in made:
        t.close_session()


def place_entry(terminal):
    """A buy stop far above the market, which waits; gives its request id."""
    eurusd = terminal.table(T.OFFERS).get_row(0)
    request_id = terminal.send(order_type=Orders.STOP_ENTRY, offer_id=eurusd.offer_id,
                               account_id=terminal.account().account_id, buy_sell=BUY,
                               amount=2_000, rate=round(eurusd.ask * 2, 5))
    terminal.answers.placed([request_id])
    return request_id


def test_a_trade_outlives_a_logout_and_closes_after_the_next_login(terminals):
    terminal = terminals()
    trade = terminal.open()
    before = terminal.seen()
    terminal.log_out()
    terminal.log_in()
    assert terminal.seen() == before
    (kept,) = terminal.table(T.TRADES)
    assert kept.trade_id == trade.trade_id
    terminal.close(kept)
    (closed,) = terminal.table(T.CLOSED_TRADES)
    assert (closed.trade_id, terminal.table(T.TRADES).size) == (trade.trade_id, 0)
    account = terminal.account()
    assert account.balance == pytest.approx(50_000 + closed.net_pl)
    assert (account.used_margin, account.equity) == (0.0, account.balance)


def test_two_sessions_of_a_user_show_one_account_and_hear_each_change(sim, terminals):
    first, second = terminals(), terminals()
    heard = Recording()
    second.table(T.TRADES).subscribe_update(U.INSERT, heard)
    assert sim.wait_table_subscribers(second.session_id, int(T.TRADES), "table_update:INSERT", 1)
    queue = second.table(T.TRADES).get_update_event_queue(U.INSERT, False)

    trade = first.open()
    assert [call[:2] for call in heard.calls.wait_for(1)] == [("added", trade.trade_id)]
    assert queue.timed_wait_get(5000).trade_id == trade.trade_id
    assert second.answers.updates(second.answers.events.items, trade.open_order_req_id)
    assert second.seen() == first.seen()
    eurusd = second.table(T.OFFERS).get_row(0)
    sim.set_price("1", round(eurusd.bid - 0.0004, 5), round(eurusd.ask - 0.0004, 5))
    for _ in range(3):
        assert sim.flush()
    assert second.table(T.TRADES).get_row(0).close == eurusd.bid
    assert second.seen() == first.seen()

    closing = second.close(second.table(T.TRADES).get_row(0))
    first.answers.wait_settled([closing])
    assert second.seen() == first.seen()
    assert first.account().balance != 50_000
    assert first.account().balance == second.account().balance
    second.table(T.TRADES).unsubscribe_update(U.INSERT, heard)


def test_a_lost_session_loses_nothing_of_the_account(terminals):
    terminal = terminals()
    terminal.close(terminal.open(SELL))
    terminal.open(BUY, 20_000)
    place_entry(terminal)
    before = terminal.seen()
    assert (len(before["trades"]), len(before["orders"]), len(before["closed"])) == (1, 1, 1)
    terminal.session.force_close()
    terminal.wait_status(SessionStatus.SESSION_LOST)
    terminal.log_in()
    assert terminal.seen() == before


def test_each_user_has_an_account_of_its_own(sim, terminals):
    sim.set_users({"demo": "demo", "ada": "lovelace"})
    demo = terminals()
    trade = demo.open()
    ada = terminals("ada", "lovelace")
    assert (ada.table(T.TRADES).size, ada.account().balance) == (0, 50_000)
    ada.open(SELL)
    assert [t.trade_id for t in terminals().table(T.TRADES)] == [trade.trade_id]


def test_reset_opens_every_account_again(sim, terminals):
    terminal = terminals()
    terminal.open()
    terminal.log_out()
    terminal.log_in()
    assert terminal.table(T.TRADES).size == 1
    sim.reset()
    after = terminals().seen()
    assert (after["trades"], after["orders"], after["closed"]) == ([], [], [])
    assert after["account"][1:] == (50_000, 0.0, 0.0, 50_000)
