"""Draining rows from an update queue with try_get, against wrapping the same rows through get_row.
Table events delivered to a listener are measured with the other callbacks (bench_callbacks)."""
from common import report
from session import open_session

import time

import dedezi
import velvix_sim

ROWS = 10_000
RUNS = 5


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
    drain(session_id, manager)
    session.logout()


if __name__ == "__main__":
    main()
