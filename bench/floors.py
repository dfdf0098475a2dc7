"""The floors of the table and reader figures: what the binding library itself costs to hand
Python one new wrapped object per step of a `range` loop, bare and with two, six or ten property
reads, measured with a trivial class (dedezi_bench.FloorItems) in the same run as the figure set
beside it. A figure's ratio to its floor is our own cost; the floor's ratio to the tuple loop is
the binding library's. The bare step through the binding library's own range iterator, which
our readers step with, is there for reference (iterator_floor)."""
from common import best_of

import dedezi_bench


def _bare(get, steps):
    for i in range(steps):
        get(i)


def _two(get, steps):
    for i in range(steps):
        item = get(i)
        item.f0
        item.f1


def _six(get, steps):
    for i in range(steps):
        item = get(i)
        item.f0, item.f1, item.f2, item.f3, item.f4, item.f5


def _ten(get, steps):
    for i in range(steps):
        item = get(i)
        item.f0, item.f1, item.f2, item.f3, item.f4, item.f5, item.f6, item.f7, item.f8, item.f9


LOOPS = {0: _bare, 2: _two, 6: _six, 10: _ten}


def floor(steps, reads, repeat=3):
    """Seconds of the fastest of `repeat` loops over range(steps), each step making one new
    wrapped object and reading `reads` (0, 2, 6 or 10) of its properties."""
    get = dedezi_bench.FloorItems(steps).get
    loop = LOOPS[reads]
    return best_of(lambda: loop(get, steps), repeat)


def iterator_floor(steps, repeat=3):
    """The bare floor with the steps made by the binding library's range iterator (`for item in
    items`) instead of a call per step of a `range` loop."""
    items = dedezi_bench.FloorItems(steps)

    def loop():
        for item in items:
            pass

    return best_of(loop, repeat)
