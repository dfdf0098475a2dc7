"""A first trading session with dedezi, against the simulated server.

Configures the transport, creates a session that uses the table manager, follows its status in
a listener, logs in as demo/demo, lists the offers, opens a market position on EUR/USD (the new
order's id, the table updates its fill brings, the trade in the trades table), reads the last 20
H1 bars of EUR/USD, fetches the last 100 H1 bars through the historical-price communicator, lists
the quotes cache's instruments, and logs out.
"""
import threading

import dedezi

Status = dedezi.AK7RSessionStatus.K7RSessionStatus
Tables = dedezi.K7RTableType
Params = dedezi.K7RRequestParamsEnum


class StatusPrinter(dedezi.AK7RSessionStatus):
    """Prints each status as it arrives on the library's thread."""

    def __init__(self):
        super().__init__()
        self.changed = threading.Condition()
        self.status = Status.DISCONNECTED
        self.failure = None

    def on_session_status_changed(self, status):
        print(f"  status: {status.name}")
        with self.changed:
            self.status = status
            self.changed.notify_all()

    def on_login_failed(self, error):
        print(f"  login failed: {error}")
        with self.changed:
            self.failure = error
            self.changed.notify_all()

    def wait_for(self, status, timeout=10.0):
        with self.changed:
            if not self.changed.wait_for(lambda: self.status == status or self.failure, timeout):
                raise TimeoutError(f"no {status.name} within {timeout} s")
        if self.failure:
            raise RuntimeError(self.failure)


class TablesWatcher(dedezi.AK7RTableManagerListener):
    """Tells when the table manager has loaded the trading tables."""

    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        print(f"  tables: {status.name}")
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


class Answers(dedezi.AK7RResponseListener):
    """Hands each answer to whoever waits for that request id, and keeps the streams of table
    updates by the request that caused them."""

    def __init__(self):
        super().__init__()
        self.arrived = threading.Condition()
        self.answers = {}
        self.updates = {}

    def _answer(self, request_id, answer):
        with self.arrived:
            self.answers[request_id] = answer
            self.arrived.notify_all()

    def on_request_completed(self, request_id, response):
        self._answer(request_id, response)

    def on_request_failed(self, request_id, error):
        self._answer(request_id, RuntimeError(error))

    def on_tables_updates(self, response):
        with self.arrived:
            self.updates.setdefault(response.request_id, []).append(response)
            self.arrived.notify_all()

    def wait_for(self, request_id, timeout=10.0):
        with self.arrived:
            if not self.arrived.wait_for(lambda: request_id in self.answers, timeout):
                raise TimeoutError(f"no answer to request {request_id}")
            answer = self.answers.pop(request_id)
        if isinstance(answer, Exception):
            raise answer
        return answer

    def wait_for_updates(self, request_id, count, timeout=10.0):
        """The first `count` streams of table updates that `request_id` caused."""
        with self.arrived:
            if not self.arrived.wait_for(lambda: len(self.updates.get(request_id, [])) >= count, timeout):
                raise TimeoutError(f"no table updates for request {request_id}")
            return self.updates[request_id][:count]


KEYS = {Tables.OFFERS: "offer_id", Tables.ACCOUNTS: "account_id", Tables.ORDERS: "order_id",
        Tables.TRADES: "trade_id", Tables.CLOSED_TRADES: "trade_id", Tables.MESSAGES: "msg_id"}


def print_updates(reader):
    print(f"  at {reader.server_time:%H:%M:%S}:")
    for item in reader:
        if item is None:  # the summary's, which the reader does not give
            print("    (summary)")
            continue
        print(f"    {item.type.name:<7} {item.table.name:<9} {getattr(item.row, KEYS[item.table])}")


def wait_until(condition, timeout=10.0):
    event = threading.Event()
    for _ in range(int(timeout * 20)):
        if condition():
            return
        event.wait(0.05)
    raise TimeoutError("the tables did not show the change")


def main():
    dedezi.K7RTransport.application_id = "quickstart"
    dedezi.K7RTransport.set_number_of_reconnections(3)
    session = dedezi.K7RTransport.create_session()
    status, tables, answers = StatusPrinter(), TablesWatcher(), Answers()
    session.subscribe_session_status(status)
    session.subscribe_response(answers)
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)

    print("logging in as demo")
    session.login("demo", "demo", "sim://demo", "Demo")
    status.wait_for(Status.CONNECTED)
    tables.loaded.wait(10)
    print(f"server time: {session.server_time:%Y-%m-%d %H:%M:%S}")

    manager = session.table_manager
    offers = manager.get_table(Tables.OFFERS)
    print("offers:")
    for offer in offers:
        print(f"  {offer.instrument:<8} bid {offer.bid:<10.{offer.digits}f} ask {offer.ask:.{offer.digits}f}")
    eurusd = next(iter(offers.get_rows_by_column_value("instrument", "EUR/USD")))
    account = manager.get_table(Tables.ACCOUNTS).get_row(0)

    factory = session.request_factory
    order = factory.create_value_map()
    order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
    order.set_string(Params.ORDER_TYPE, dedezi.Constants.Orders.TRUE_MARKET_OPEN)
    order.set_string(Params.OFFER_ID, eurusd.offer_id)
    order.set_string(Params.ACCOUNT_ID, account.account_id)
    order.set_string(Params.BUY_SELL, dedezi.Constants.BUY)
    order.set_int(Params.AMOUNT, 10_000)
    request = factory.create_order_request(order)
    session.send_request(request)
    readers = session.response_reader_factory
    created = readers.create_reader(answers.wait_for(request.request_id))
    print(f"order {created.order_id} created")
    print("table updates of the order (placed, then filled):")
    for response in answers.wait_for_updates(request.request_id, 2):
        print_updates(readers.create_reader(response))
    trades = manager.get_table(Tables.TRADES)
    wait_until(lambda: trades.size > 0)
    for trade in trades:
        print(f"trade {trade.trade_id}: {trade.buy_sell} {trade.amount} EUR/USD at {trade.open_rate}")

    hour = factory.timeframe_collection.get_by_id("H1")
    request = factory.create_market_data_snapshot_request_instrument("EUR/USD", hour, 20)
    factory.fill_market_data_snapshot_request_time(request)
    session.send_request(request)
    bars = session.response_reader_factory.create_reader(answers.wait_for(request.request_id))
    print(f"last {len(bars)} H1 bars of EUR/USD:")
    for bar in bars:
        print(f"  {bar.date:%Y-%m-%d %H:%M}  open {bar.bid_open:.5f}  high {bar.bid_high:.5f}"
              f"  low {bar.bid_low:.5f}  close {bar.bid_close:.5f}")

    history = dedezi.PlentaCommunicatorFactory.create_communicator(session, "")
    ready = threading.Event()

    class Ready(dedezi.APlentaCommunicatorStatusListener):
        def on_communicator_status_changed(self, status):
            if status:
                ready.set()

        def on_communicator_init_failed(self, error):
            print(f"history unavailable: {error.message}")

    watcher = Ready()
    history.add_status_listener(watcher)
    if history.is_ready() or ready.wait(10):
        bars = history.get_history("EUR/USD", history.timeframe_factory.create("H1"), None, None, 100)
        first, last = bars.get_date(0), bars.get_date(len(bars) - 1)
        print(f"{len(bars)} H1 bars of EUR/USD from history: {first:%Y-%m-%d %H:%M} .. {last:%Y-%m-%d %H:%M}")
        for i in (0, len(bars) - 1):
            print(f"  {bars.get_date(i):%Y-%m-%d %H:%M}  bid close {bars.get_bid_close(i):.5f}"
                  f"  ask close {bars.get_ask_close(i):.5f}  volume {bars.get_volume(i)}")
        every = history.timeframe_collection()
        print("quotes cache timeframes:", ", ".join(tf.id for tf in every))
        instruments = [row.instrument for row in offers]
        print("quotes cache instruments:", ", ".join(
            i for i in instruments if len(history.timeframe_collection(i)) > 0))
    history.remove_status_listener(watcher)

    print("logging out")
    session.logout()
    status.wait_for(Status.DISCONNECTED)
    session.unsubscribe_response(answers)
    session.unsubscribe_session_status(status)
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
