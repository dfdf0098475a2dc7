"""Table events: delivering table events from the library thread to an on_changed override, against
a bare native thread calling a Python no-op; and draining rows from an update queue with try_get,
against wrapping the same rows through get_row."""
from common import report
from session import open_session

import time

import dedezi
import dedezi_bench
import velvix_sim

EVENTS = 10_000
ROWS = 10_000
RUNS = 5


class Quiet(dedezi.AK7RTableListener):
    def on_added(self, row_id, row):
        pass

    def on_changed(self, row_id, row):
        pass

    def on_deleted(self, row_id, row):
        pass

    def on_status_changed(self, status):
        pass


def noop():
    pass


def deliveries(session_id, manager):
    offers = manager.get_table(dedezi.K7RTableType.OFFERS)
    listener = Quiet()
    offers.subscribe_update(dedezi.K7RTableUpdateType.UPDATE, listener)
    velvix_sim.wait_table_subscribers(session_id, 0, "table_update:UPDATE", 1)
    times, baselines = [], []
    for _ in range(RUNS):
        times.append(velvix_sim.fire_table_event_burst(session_id, 0, 1, "1", EVENTS))
        baselines.append(dedezi_bench.thread_calls(noop, EVENTS))
    report("table event to on_changed", min(times), min(baselines), EVENTS, "event")
    offers.unsubscribe_update(dedezi.K7RTableUpdateType.UPDATE, listener)


def drain(session_id, manager):
    trades = manager.get_table(dedezi.K7RTableType.TRADES)
    # One queue per run, each hearing every row inserted.
    queues = [trades.get_update_event_queue(dedezi.K7RTableUpdateType.INSERT) for _ in range(RUNS)]
    velvix_sim.insert_rows(session_id, int(dedezi.K7RTableType.TRADES), [
        {"TradeID": f"T{i}", "OfferID": str(i % 9 + 1), "Amount": 1000} for i in range(ROWS)])
    assert trades.size == ROWS

    def timed(fn):
        start = time.perf_counter()
        fn()
        return time.perf_counter() - start

    times, baselines = [], []
    for queue in queues:
        times.append(timed(lambda: [queue.try_get() for _ in range(ROWS)]))
        baselines.append(timed(lambda: [trades.get_row(i) for i in range(ROWS)]))
        assert queue.is_empty()
    report("update queue try_get, 10,000 rows", min(times), min(baselines), ROWS, "row")


def main():
    session, session_id, manager = open_session()
    deliveries(session_id, manager)
    drain(session_id, manager)
    session.logout()


if __name__ == "__main__":
    main()
