"""Draining the table manager's all-events queue in a thread of its own, against the simulated
server.

Logs in as demo/demo, starts a consumer thread that takes every item of the manager's queue and
prints the table changes (price ticks, mostly), buys 1,000 EUR/USD so that an order and a trade
come through too, and logs out after --seconds (3 by default) or at Ctrl-C, whichever comes
first, and on any error of its own. The consumer stops by itself at the logout: after it, the
queue's waits give what is left, then None at once.
"""
import argparse
import threading

import dedezi

Tables = dedezi.K7RTableType
Params = dedezi.K7RRequestParamsEnum
Process = dedezi.K7RUpdatesProcessStatus
Status = dedezi.AK7RSessionStatus.K7RSessionStatus


class TablesLoaded(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


class Disconnected(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.done = threading.Event()

    def on_session_status_changed(self, status):
        if status == Status.DISCONNECTED:
            self.done.set()

    def on_login_failed(self, error):
        print(f"login failed: {error}")


NAMES = {Tables.OFFERS: "instrument", Tables.ACCOUNTS: "account_id", Tables.ORDERS: "order_id",
         Tables.TRADES: "trade_id", Tables.CLOSED_TRADES: "trade_id", Tables.MESSAGES: "msg_id",
         Tables.SUMMARY: "instrument"}


def describe(row):
    key = NAMES[row.table_type]
    return f"{key} {getattr(row, key)}"


def consume(queue, counts):
    """Takes items until the queue says there will be no more (None, after the logout)."""
    while True:
        item = queue.wait_get()  # lets the interpreter lock go while it waits
        if item is None:
            return
        if item.row is None:  # the markers around each batch
            counts["batches"] += item.process_status == Process.END_TABLES_UPDATE
            continue
        counts["events"] += 1
        print(f"  {item.event_type.name:<6} {item.row.table_type.name:<8} {describe(item.row)}",
              flush=True)


def buy(session, manager):
    (offer,) = manager.get_table(Tables.OFFERS).get_rows_by_column_value("instrument", "EUR/USD")
    factory = session.request_factory
    order = factory.create_value_map()
    order.set_string(Params.COMMAND, dedezi.Constants.Commands.CREATE_ORDER)
    order.set_string(Params.ORDER_TYPE, dedezi.Constants.Orders.TRUE_MARKET_OPEN)
    order.set_string(Params.OFFER_ID, offer.offer_id)
    order.set_string(Params.ACCOUNT_ID, manager.get_table(Tables.ACCOUNTS).get_row(0).account_id)
    order.set_string(Params.BUY_SELL, dedezi.Constants.BUY)
    order.set_int(Params.AMOUNT, 1000)
    session.send_request(factory.create_order_request(order))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=3.0, help="how long to consume")
    seconds = parser.parse_args().seconds

    session = dedezi.K7RTransport.create_session()
    tables, status = TablesLoaded(), Disconnected()
    session.subscribe_session_status(status)
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)
    session.login("demo", "demo", "sim://demo", "Demo")
    if not tables.loaded.wait(10):
        raise TimeoutError("the trading tables did not load")
    manager = session.table_manager

    queue = manager.tables_update_event_queue
    counts = {"events": 0, "batches": 0}
    consumer = threading.Thread(target=consume, args=(queue, counts), name="consumer")
    consumer.start()
    try:
        buy(session, manager)
        # Ctrl-C reaches the main thread only, and ends this wait.
        threading.Event().wait(seconds)
        print("time is up: logging out")
    except KeyboardInterrupt:
        print("Ctrl-C: logging out")
    finally:
        # Only the logout ends the consumer's wait_get. Were it skipped by an exception above,
        # the consumer would wait for good, and the process with it at exit.
        session.logout()
    consumer.join(10)
    status.done.wait(10)
    session.unsubscribe_session_status(status)
    if consumer.is_alive():
        raise RuntimeError("the consumer did not stop at the logout")
    print(f"consumer ended: {counts['events']} events in {counts['batches']} batches")
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
