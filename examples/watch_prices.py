"""Watching prices with a table listener, against the simulated server.

Logs in as demo/demo, prints the EUR/USD and USD/JPY price changes that one table listener hears
for a few seconds, opens a 10,000 EUR/USD buy position, and shows the trade's INSERT arriving in
the same listener, which also watches the trades table. Then logs out.
"""
import threading

import dedezi

Tables = dedezi.K7RTableType
Updates = dedezi.K7RTableUpdateType
Params = dedezi.K7RRequestParamsEnum
WATCHED = ("EUR/USD", "USD/JPY")
SECONDS = 3.0


class TablesLoaded(dedezi.AK7RTableManagerListener):
    """Tells when the table manager has loaded the trading tables."""

    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


class Watcher(dedezi.AK7RTableListener):
    """Prints the price changes of the watched offers and each trade that comes in. It is called
    on the library's thread."""

    def __init__(self):
        super().__init__()
        self.price_changes = 0
        self.trade = threading.Event()

    def on_added(self, row_id, row):
        if isinstance(row, dedezi.K7RTradeRow):
            print(f"  INSERT trade {row_id}: {row.buy_sell} {row.amount} at {row.open_rate}")
            self.trade.set()

    def on_changed(self, row_id, row):
        if isinstance(row, dedezi.K7ROfferRow) and row.instrument in WATCHED:
            self.price_changes += 1
            print(f"  {row.instrument:<8} bid {row.bid:.{row.digits}f}  ask {row.ask:.{row.digits}f}")

    def on_deleted(self, row_id, row):
        pass

    def on_status_changed(self, status):
        pass


def open_position(session, manager, instrument):
    """Sends a market order buying 10,000 of `instrument` on the first account."""
    offers = manager.get_table(Tables.OFFERS)
    offer = next(iter(offers.get_rows_by_column_value("instrument", instrument)))
    account = manager.get_table(Tables.ACCOUNTS).get_row(0)
    factory = session.request_factory
    order = factory.create_value_map()
    order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
    order.set_string(Params.ORDER_TYPE, dedezi.Constants.Orders.TRUE_MARKET_OPEN)
    order.set_string(Params.OFFER_ID, offer.offer_id)
    order.set_string(Params.ACCOUNT_ID, account.account_id)
    order.set_string(Params.BUY_SELL, dedezi.Constants.BUY)
    order.set_int(Params.AMOUNT, 10_000)
    session.send_request(factory.create_order_request(order))


def main():
    session = dedezi.K7RTransport.create_session()
    tables = TablesLoaded()
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)
    print("logging in as demo")
    session.login("demo", "demo", "sim://demo", "Demo")
    if not tables.loaded.wait(10):
        raise TimeoutError("the trading tables did not load")
    manager = session.table_manager

    watcher = Watcher()
    offers, trades = manager.get_table(Tables.OFFERS), manager.get_table(Tables.TRADES)
    offers.subscribe_update(Updates.UPDATE, watcher)
    trades.subscribe_update(Updates.INSERT, watcher)
    print(f"watching {' and '.join(WATCHED)} for {SECONDS:.0f} seconds:")
    threading.Event().wait(SECONDS)
    print(f"{watcher.price_changes} price changes")

    print("buying 10,000 EUR/USD at the market")
    open_position(session, manager, "EUR/USD")
    if not watcher.trade.wait(10):
        raise TimeoutError("the trade did not arrive")

    offers.unsubscribe_update(Updates.UPDATE, watcher)
    trades.unsubscribe_update(Updates.INSERT, watcher)
    if watcher.price_changes == 0:
        raise RuntimeError("no price changed while watching")
    print("logging out")
    session.logout()
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
