"""Watching the level-2 books of two offers, against the simulated server.

Logs in as demo/demo and subscribes to EUR/USD and USD/JPY with the SetSubscriptionStatus
command. The server answers each command once (COMMAND_RESPONSE, MARKET_DATA,
LEVEL2_MARKET_DATA), not as a stream: so the script sends the command again whenever the offer's
price moved, and prints the top five levels of each book when they changed. Logs out after
--seconds (3 by default).
"""
import argparse
import datetime
import queue
import threading

import dedezi

Tables = dedezi.K7RTableType
Params = dedezi.K7RRequestParamsEnum
Type = dedezi.K7RResponseType
WATCHED = ("EUR/USD", "USD/JPY")
LEVELS = 5
OLE_EPOCH = datetime.datetime(1899, 12, 30)


class TablesLoaded(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


class Books(dedezi.AK7RResponseListener):
    """Hands each level-2 answer to the main thread; callbacks stay short."""

    def __init__(self):
        super().__init__()
        self.answers = queue.Queue()

    def on_request_completed(self, request_id, response):
        if response.type == Type.LEVEL2_MARKET_DATA:
            self.answers.put(response)

    def on_request_failed(self, request_id, error):
        print(f"request {request_id} failed: {error}")

    def on_tables_updates(self, response):
        pass


class Moves(dedezi.AK7RTableListener):
    """Notes which watched offers moved since the main thread last looked."""

    def __init__(self, offer_ids):
        super().__init__()
        self.offer_ids, self.moved, self.lock = offer_ids, set(), threading.Lock()

    def on_changed(self, row_id, row):
        if row_id in self.offer_ids:
            with self.lock:
                self.moved.add(row_id)

    def take(self):
        with self.lock:
            moved, self.moved = self.moved, set()
        return moved

    def on_added(self, row_id, row):
        pass

    def on_deleted(self, row_id, row):
        pass

    def on_status_changed(self, status):
        pass


def ask_for_book(session, offer_id):
    factory = session.request_factory
    command = factory.create_value_map()
    command.set_string(Params.COMMAND, dedezi.Constants.Commands.SET_SUBSCRIPTION_STATUS)
    command.set_string(Params.OFFER_ID, offer_id)
    command.set_string(Params.SUBSCRIPTION_STATUS, dedezi.Constants.SubscriptionStatuses.TRADABLE)
    session.send_request(factory.create_order_request(command))


def top_levels(reader):
    """(symbol id, time, bids, asks): the best LEVELS (rate, amount) of each side."""
    update = reader.get_prices(0)
    levels = [update.get_price(j) for j in range(update.prices_count)]
    bids = sorted(((p.rate, p.amount) for p in levels if p.is_bid), reverse=True)[:LEVELS]
    asks = sorted((p.rate, p.amount) for p in levels if p.is_ask)[:LEVELS]
    # The update's time is an OLE date: days since 1899-12-30.
    when = OLE_EPOCH + datetime.timedelta(days=reader.get_date_time(0))
    return reader.get_symbol_id(0), when, bids, asks


def print_book(instrument, digits, when, bids, asks):
    print(f"{instrument} at {when:%H:%M:%S.%f}"[:-3])
    print(f"  {'bid':>10} {'amount':>6}   {'ask':<10} {'amount':>6}")
    for (bid, bid_amount), (ask, ask_amount) in zip(bids, asks):
        print(f"  {bid:>10.{digits}f} {bid_amount / 1e6:>5.0f}M   {ask:<10.{digits}f} "
              f"{ask_amount / 1e6:>5.0f}M")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=3.0, help="how long to watch")
    seconds = parser.parse_args().seconds

    session = dedezi.K7RTransport.create_session()
    tables, books = TablesLoaded(), Books()
    session.subscribe_response(books)
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)
    session.login("demo", "demo", "sim://demo", "Demo")
    if not tables.loaded.wait(10):
        raise TimeoutError("the trading tables did not load")
    offers = session.table_manager.get_table(Tables.OFFERS)
    watched = {o.offer_id: o for o in offers if o.instrument in WATCHED}
    moves = Moves(set(watched))
    offers.subscribe_update(dedezi.K7RTableUpdateType.UPDATE, moves)

    for offer_id in watched:
        ask_for_book(session, offer_id)
    shown, printed = {}, 0
    deadline = datetime.datetime.now() + datetime.timedelta(seconds=seconds)
    while datetime.datetime.now() < deadline:
        try:
            reader = session.response_reader_factory.create_reader(books.answers.get(timeout=0.2))
        except queue.Empty:
            reader = None
        if reader is not None:
            symbol_id, when, bids, asks = top_levels(reader)
            offer = watched[str(symbol_id)]
            if shown.get(offer.offer_id) != (bids, asks):
                shown[offer.offer_id] = (bids, asks)
                print_book(offer.instrument, offer.digits, when, bids, asks)
                printed += 1
        for offer_id in moves.take():
            ask_for_book(session, offer_id)

    offers.unsubscribe_update(dedezi.K7RTableUpdateType.UPDATE, moves)
    session.unsubscribe_response(books)
    session.logout()
    if set(shown) != set(watched):
        raise RuntimeError(f"no book for {set(watched) - set(shown)}")
    print(f"{printed} books printed")
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
