"""tests/stress/soak.py: the soak, run by hand only (CI runs the stress suite instead). Round after
round in one interpreter: the churn of every listener kind during callback bursts, then a batch of
history fetches and instrument loads, then every waiting call answered in turn; after each round it
prints the process's resident memory and the number of live library objects. It fails when the
memory grew by more than --max-growth MiB between the end of the first round and the end of the
last, or when objects were left alive.

    DEDEZI_BUILD_DIR=build /usr/bin/python3 tests/stress/soak.py --minutes 30
"""

import argparse
import contextlib
import io
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.environ.get("DEDEZI_BUILD_DIR", "build"), HERE]

import cases  # noqa: E402


def resident_mib():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") / 2**20


def fetches(count):
    world = cases.World()
    before = world.counts()
    for _ in range(count):
        assert len(world.comm.get_history("EUR/USD", world.m1, None, None, 50)) == 50
        cases.sim.zorvat_loaded(False)
        assert len(world.comm.timeframe_collection("EUR/USD")) > 0
    world.settle(before)
    world.session.logout()


def answered_waits(count):
    """Each waiting call, answered: what a queue wait takes out goes back as the history's does."""
    world = cases.World()
    before = world.counts()
    for _ in range(count):
        for wait in cases.WAITS.values():
            wait.hold(world, False)
            wait.release(world)
            wait.call(world)
    world.settle(before)
    world.session.logout()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--max-growth", type=float, default=32.0, help="MiB")
    options = parser.parse_args()
    end = time.monotonic() + options.minutes * 60
    first = None
    rounds = 0
    while rounds == 0 or time.monotonic() < end:
        rounds += 1
        with contextlib.redirect_stdout(io.StringIO()):  # the cases' own "ok" lines
            for kind in cases.KINDS:
                cases.churn(kind, seconds=1.0)
            fetches(100)
            answered_waits(100)
        memory, live = resident_mib(), len(cases.sim.objects())
        first = first if first is not None else memory
        print(f"round {rounds}: {memory:.1f} MiB resident, {live} live library objects", flush=True)
    growth = memory - first
    print(f"{rounds} rounds; memory grew by {growth:.1f} MiB after the first round")
    return 0 if growth <= options.max_growth else 1


if __name__ == "__main__":
    sys.exit(main())
