"""Reading a 100,000-bar snapshot against the same loop over a list of tuples, and the
response-listener round trip from send_request to on_request_completed against its floor: the
same loop handing each call to a worker thread that keeps its interpreter state."""
import statistics
import threading
import time

from common import best_of, report
from floors import floor
from session import open_session

import dedezi
import dedezi_bench

BARS = 100_000
ROUND_TRIPS = 1_000


class Arrivals:
    """When the last answer arrived, and a signal for it."""

    def __init__(self):
        self.arrived = threading.Event()
        self.at = 0.0

    def on_request_completed(self, request_id, response):
        self.at = time.perf_counter()
        self.arrived.set()


def percentiles(waits):
    """(median, p99) in microseconds."""
    waits = sorted(waits)
    return statistics.median(waits) * 1e6, waits[int(len(waits) * 0.99) - 1] * 1e6


class Answers(dedezi.AK7RResponseListener):
    """Keeps each completed response and the moment it arrived."""

    def __init__(self):
        super().__init__()
        self.arrived = threading.Event()
        self.response = None
        self.at = 0.0

    def on_request_completed(self, request_id, response):
        self.at = time.perf_counter()
        self.response = response
        self.arrived.set()

    def on_request_failed(self, request_id, error):
        self.arrived.set()

    def on_tables_updates(self, response):
        pass


def main():
    session, _, _ = open_session()
    answers = Answers()
    session.subscribe_response(answers)
    factory = session.request_factory
    m1 = factory.timeframe_collection.get_by_id("m1")

    request = factory.create_market_data_snapshot_request_instrument("EUR/USD", m1, BARS)
    factory.fill_market_data_snapshot_request_time(request)
    session.send_request(request)
    if not answers.arrived.wait(60):
        raise RuntimeError("no snapshot")
    reader = session.response_reader_factory.create_reader(answers.response)
    assert len(reader) == BARS
    tuples = [(item.date, item.bid_open, item.bid_high, item.bid_low, item.bid_close, item.volume)
              for item in reader]

    def read_reader():
        for item in reader:
            item.date, item.bid_open, item.bid_high, item.bid_low, item.bid_close, item.volume

    def read_tuples():
        for t in tuples:
            t[0], t[1], t[2], t[3], t[4], t[5]

    report("read 100,000 snapshot bars (6 fields)", best_of(read_reader, 3), best_of(read_tuples, 3), BARS, "bar",
           floor(BARS, 6))

    # Each request beside one handoff of the floor, so that both see the same machine.
    floor_answers = Arrivals()
    handoff = dedezi_bench.Handoff(floor_answers.on_request_completed, ("id", None))
    waits, floor_waits = [], []
    for _ in range(ROUND_TRIPS):
        answers.arrived.clear()
        request = factory.create_refresh_table_request(dedezi.K7RTableType.ACCOUNTS)
        start = time.perf_counter()
        session.send_request(request)
        if not answers.arrived.wait(10):
            raise RuntimeError("no answer")
        waits.append(answers.at - start)

        floor_answers.arrived.clear()
        start = time.perf_counter()
        handoff.post()
        if not floor_answers.arrived.wait(10):
            raise RuntimeError("no handoff")
        floor_waits.append(floor_answers.at - start)
    handoff.close()
    (median, p99), (floor_median, floor_p99) = percentiles(waits), percentiles(floor_waits)
    print(f"{'send_request -> on_request_completed':<44} median {median:8.1f} us   p99 {p99:8.1f} us"
          f"   over {ROUND_TRIPS} requests")
    print(f"{'  floor: handoff to a kept-state worker':<44} median {floor_median:8.1f} us"
          f"   p99 {floor_p99:8.1f} us   to floor {median / floor_median:5.2f}x median,"
          f" {p99 / floor_p99:5.2f}x p99")
    session.unsubscribe_response(answers)
    session.logout()


if __name__ == "__main__":
    main()
