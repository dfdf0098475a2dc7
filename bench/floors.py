"""The floors of the table and reader figures: what the binding library itself costs to hand
Python one new wrapped object per step of its range iterator, bare and with two, six or ten
property reads, measured with a trivial class (dedezi_bench.FloorItems) in the same run as the
figure set beside it. A figure's ratio to its floor is our own cost; the floor's ratio to the
tuple loop is the binding library's."""
from common import best_of

import dedezi_bench


def _bare(items):
    for item in items:
        pass


def _two(items):
    for item in items:
        item.f0
        item.f1


def _six(items):
    for item in items:
        item.f0, item.f1, item.f2, item.f3, item.f4, item.f5


def _ten(items):
    for item in items:
        item.f0, item.f1, item.f2, item.f3, item.f4, item.f5, item.f6, item.f7, item.f8, item.f9


LOOPS = {0: _bare, 2: _two, 6: _six, 10: _ten}


def floor(steps, reads, repeat=3):
    """Seconds of the fastest of `repeat` loops of `steps` steps, each making one new wrapped
    object and reading `reads` (0, 2, 6 or 10) of its properties."""
    items = dedezi_bench.FloorItems(steps)
    loop = LOOPS[reads]
    return best_of(lambda: loop(items), repeat)
