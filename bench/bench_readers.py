"""Reading a 1,000-update TABLES_UPDATES stream item by item against the same loop over a list of
tuples and against its floor (the same shape over a trivial class: two new wrapped objects, two
property reads, one method call), and the flat level-2 read get_rate(i, j) against a bare two-int
method call."""
import threading

from common import best_of, report
from session import open_session

import dedezi
import dedezi_bench
import velvix_sim

UPDATES = 1_000
QUOTES, PRICES = 100, 10
Type = dedezi.K7RResponseType


class Answers(dedezi.AK7RResponseListener):
    """Keeps the last completed response."""

    def __init__(self):
        super().__init__()
        self.arrived = threading.Event()
        self.response = None

    def on_request_completed(self, request_id, response):
        self.response = response
        self.arrived.set()

    def on_request_failed(self, request_id, error):
        self.arrived.set()

    def on_tables_updates(self, response):
        pass


def crafted(session, session_id, answers, type_, fill):
    """The reader of a response of `type_` that fill(response_id) scripted."""
    response_id = velvix_sim.make_response(session_id, int(type_), "bench")
    fill(response_id)
    answers.arrived.clear()
    velvix_sim.deliver_response(session_id, response_id, "completed")
    if not answers.arrived.wait(10):
        raise RuntimeError("no response")
    return session.response_reader_factory.create_reader(answers.response)


def main():
    session, session_id, _ = open_session()
    answers = Answers()
    session.subscribe_response(answers)

    # Offer, order and trade rows in turn, as a busy stream carries them.
    tables = [dedezi.K7RTableType.OFFERS, dedezi.K7RTableType.ORDERS, dedezi.K7RTableType.TRADES]
    updates = [(int(dedezi.K7RTableUpdateType.UPDATE), int(tables[i % 3]),
                ("table", int(tables[i % 3]), {"AccountID": "1000101"})) for i in range(UPDATES)]
    stream = crafted(session, session_id, answers, Type.TABLES_UPDATES,
                     lambda rid: velvix_sim.set_tables_updates(rid, velvix_sim.now(), updates))
    assert len(stream) == UPDATES
    tuples = [(item.type, item.table, (item.row.get_cell(0),)) for item in stream]

    def read_stream():
        for item in stream:
            item.type, item.table, item.row.get_cell(0)

    def read_tuples():
        for t in tuples:
            t[0], t[1], t[2][0]

    floor_items = dedezi_bench.FloorItems(UPDATES)

    def read_floor():
        for item in floor_items:
            item.f0, item.f1, item.row.cell(0)

    report("read 1,000 tables updates (type, table, cell)", best_of(read_stream, 50),
           best_of(read_tuples, 50), UPDATES, "update", best_of(read_floor, 50))

    book = [(45293.5, 1, 100, [("B" if j < PRICES // 2 else "A", 1.1 + j * 1e-5, 1e6, "A", "LP")
                               for j in range(PRICES)]) for _ in range(QUOTES)]
    level2 = crafted(session, session_id, answers, Type.LEVEL2_MARKET_DATA,
                     lambda rid: velvix_sim.set_level2(rid, book))
    grid = dedezi_bench.Grid()
    pairs = [(i, j) for i in range(QUOTES) for j in range(PRICES)]

    def read_rates():
        get_rate = level2.get_rate
        for i, j in pairs:
            get_rate(i, j)

    def read_grid():
        at = grid.at
        for i, j in pairs:
            at(i, j)

    report("level-2 get_rate(i, j), 100 x 10", best_of(read_rates, 50), best_of(read_grid, 50),
           len(pairs), "read")
    session.unsubscribe_response(answers)
    session.logout()


if __name__ == "__main__":
    main()
