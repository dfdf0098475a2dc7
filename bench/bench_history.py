"""get_history of 100,000 m1 bars, fetched and then fully read (date, bid and ask OHLC, volume):
the fetch and the reading timed apart, the reading against the same loop over a list of tuples."""
import threading
import time

from common import best_of, report
from floors import floor
from session import open_session

import dedezi

BARS = 100_000


class _Ready(dedezi.APlentaCommunicatorStatusListener):
    def __init__(self):
        super().__init__()
        self.ready = threading.Event()

    def on_communicator_status_changed(self, status):
        if status:
            self.ready.set()

    def on_communicator_init_failed(self, error):
        pass


def main():
    session, _, _ = open_session()
    history = dedezi.PlentaCommunicatorFactory.create_communicator(session, "")
    watcher = _Ready()
    history.add_status_listener(watcher)
    if not (history.is_ready() or watcher.ready.wait(10)):
        raise RuntimeError("the communicator did not get ready")
    m1 = history.timeframe_factory.create("m1")

    fetches = []
    for _ in range(3):
        start = time.perf_counter()
        reader = history.get_history("EUR/USD", m1, None, None, BARS)
        fetches.append(time.perf_counter() - start)
    assert len(reader) == BARS

    def read_reader():
        for bar in reader:
            (bar.date, bar.bid_open, bar.bid_high, bar.bid_low, bar.bid_close,
             bar.ask_open, bar.ask_high, bar.ask_low, bar.ask_close, bar.volume)

    tuples = [(bar.date, bar.bid_open, bar.bid_high, bar.bid_low, bar.bid_close,
               bar.ask_open, bar.ask_high, bar.ask_low, bar.ask_close, bar.volume) for bar in reader]

    def read_tuples():
        for t in tuples:
            t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9]

    reading = best_of(read_reader, 3)
    fetch = min(fetches)
    print(f"{'get_history 100,000 m1 bars: fetch':<44} {fetch * 1e3:8.1f} ms"
          f"   reading {reading * 1e3:8.1f} ms   ({fetch / (fetch + reading):.0%} of the total in the fetch)")
    report("read 100,000 history bars (10 fields)", reading, best_of(read_tuples, 3), BARS, "bar", floor(BARS, 10))
    history.remove_status_listener(watcher)
    session.logout()


if __name__ == "__main__":
    main()
