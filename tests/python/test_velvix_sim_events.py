"""tests/python/test_velvix_sim_events.py: the table events the simulated server sends, as a script
sees them in the table manager's all-events queue: a market order's row and then its fill, a close
order taking its trade into the closed trades, and a price tick, each in a batch of its own; a
price change marks the offer's trades after its update, in its batch."""

import pytest

import dedezi
from helpers import Recorder

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
U = dedezi.K7RTableUpdateType
Process = dedezi.K7RUpdatesProcessStatus
Params = dedezi.K7RRequestParamsEnum


def take_batches(queue, count):
    """The next `count` batches of the queue, each a list of (table, event, row key)."""
    batches, current = [], None
    while len(batches) < count:
        item = queue.timed_wait_get(5000)
        if item.row is None:
            if item.process_status == Process.BEGIN_TABLES_UPDATE:
                current = []
            else:
                batches.append(current)
            continue
        current.append((item.row.table_type, item.event_type, item.row.get_cell(0)))
    return batches


class Answers(dedezi.AK7RResponseListener):
    def __init__(self):
        super().__init__()
        self.failures = Recorder()

    def on_request_completed(self, request_id, response):
        pass

    def on_request_failed(self, request_id, error):
        self.failures.add((request_id, error))

    def on_tables_updates(self, response):
        pass


@pytest.fixture
def desk(loaded):
    """(session, manager, its all-events queue, a send(params) that sends an order)."""
    session, _, manager = loaded
    answers = Answers()
    session.subscribe_response(answers)
    factory = session.request_factory

    def send(**params):
        order = factory.create_value_map()
        order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
        for name, value in params.items():
            setter = order.set_int if isinstance(value, int) else order.set_string
            setter(getattr(Params, name.upper()), value)
        request = factory.create_order_request(order)
        session.send_request(request)
        return request.request_id

    send.failures = answers.failures
    yield session, manager, manager.tables_update_event_queue, send
    session.unsubscribe_response(answers)


def open_position(manager, queue, send):
    """Opens a 10,000 EUR/USD buy; gives its two batches and its trade row."""
    account = manager.get_table(T.ACCOUNTS).get_row(0).account_id
    send(order_type=dedezi.Constants.Orders.TRUE_MARKET_OPEN, offer_id="1", account_id=account,
         buy_sell=dedezi.Constants.BUY, amount=10_000)
    batches = take_batches(queue, 2)
    trades = manager.get_table(T.TRADES)
    return batches, trades.get_row(trades.size - 1), account


def test_a_market_order_goes_in_and_then_fills_in_one_batch(desk):
    _, manager, queue, send = desk
    (placed, filled), trade, account = open_position(manager, queue, send)
    ((_, _, order_id),) = placed
    assert placed == [(T.ORDERS, U.INSERT, order_id)]
    assert filled == [(T.TRADES, U.INSERT, trade.trade_id), (T.ORDERS, U.DELETE, order_id),
                      (T.ACCOUNTS, U.UPDATE, account), (T.SUMMARY, U.INSERT, "1")]


def test_a_close_order_takes_the_trade_into_the_closed_trades(desk):
    _, manager, queue, send = desk
    _, trade, account = open_position(manager, queue, send)
    balance = manager.get_table(T.ACCOUNTS).get_row(0).balance
    send(order_type=dedezi.Constants.Orders.TRUE_MARKET_CLOSE, trade_id=trade.trade_id,
         buy_sell=dedezi.Constants.SELL)
    placed, closed = take_batches(queue, 2)
    ((_, _, order_id),) = placed
    assert placed == [(T.ORDERS, U.INSERT, order_id)]
    assert closed == [(T.ORDERS, U.DELETE, order_id), (T.TRADES, U.DELETE, trade.trade_id),
                      (T.CLOSED_TRADES, U.INSERT, trade.trade_id), (T.ACCOUNTS, U.UPDATE, account),
                      (T.SUMMARY, U.DELETE, "1")]
    assert manager.get_table(T.TRADES).size == 0
    (closed_trade,) = list(manager.get_table(T.CLOSED_TRADES))
    assert closed_trade.open_rate == trade.open_rate and closed_trade.amount == 10_000
    assert manager.get_table(T.ACCOUNTS).get_row(0).balance == pytest.approx(
        balance + closed_trade.net_pl)


@pytest.mark.parametrize("params, reason", [
    ({"trade_id": "70999999"}, "Unknown trade '70999999'"),
    ({"buy_sell": "B"}, "A close order takes the side opposite to the trade's (BUY_SELL)"),
    ({"amount": 5_000}, "Partial closes are not supported by the server (AMOUNT)"),
    ({"amount": "10000"}, "The amount must be a number, not a text (AMOUNT)"),
    ({"trade_id": None}, "The trade is not specified (TRADE_ID)"),
], ids=["unknown trade", "same side", "partial", "text amount", "no trade"])
def test_a_close_order_the_server_cannot_serve_fails_with_the_reason(desk, params, reason):
    _, manager, queue, send = desk
    _, trade, _ = open_position(manager, queue, send)
    order = {"order_type": dedezi.Constants.Orders.TRUE_MARKET_CLOSE, "trade_id": trade.trade_id}
    order.update(params)
    request_id = send(**{name: value for name, value in order.items() if value is not None})
    assert send.failures.wait_for(1) == [(request_id, reason)]
    assert manager.get_table(T.TRADES).size == 1


def test_a_price_tick_is_a_batch_of_offer_updates(sim, desk):
    _, _, queue, _ = desk
    sim.price_ticks(True, 50)
    (tick,) = take_batches(queue, 1)
    sim.price_ticks(False)
    assert tick and all(table == T.OFFERS and event == U.UPDATE for table, event, _ in tick)
    assert len({key for _, _, key in tick}) == len(tick)


def test_a_price_change_marks_the_offers_trades_after_its_update_in_its_batch(sim, desk):
    _, manager, queue, send = desk
    _, trade, account = open_position(manager, queue, send)
    eurusd = manager.get_table(T.OFFERS).get_row(0)
    sim.set_price(eurusd.offer_id, eurusd.bid + 0.0007, eurusd.ask + 0.0007)
    assert take_batches(queue, 1) == [[(T.OFFERS, U.UPDATE, "1"),
                                       (T.TRADES, U.UPDATE, trade.trade_id),
                                       (T.ACCOUNTS, U.UPDATE, account),
                                       (T.SUMMARY, U.UPDATE, "1")]]
    assert trade.close == eurusd.bid
