"""Shared timing helpers for the benchmarks: best-of-N timing and the report line."""
import os
import sys
import time

BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR") or os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build-release")
sys.path.insert(0, BUILD_DIR)


def best_of(fn, repeat=5):
    """The fastest of `repeat` runs of fn(), in seconds: the least disturbed measurement."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def report(name, seconds, baseline_seconds, unit_count, unit="op", floor_seconds=None):
    """One result line: time per unit for dedezi and the baseline, and their ratio; with a floor
    (the same loop's cost in the binding library alone, see floors.py), its time and our ratio
    to it too."""
    per = seconds / unit_count * 1e9
    base = baseline_seconds / unit_count * 1e9
    line = (f"{name:<44} {per:10.1f} ns/{unit}   baseline {base:10.1f} ns/{unit}"
            f"   ratio {seconds / baseline_seconds:5.2f}x")
    if floor_seconds is not None:
        line += (f"   floor {floor_seconds / unit_count * 1e9:8.1f} ns/{unit}"
                 f"   to floor {seconds / floor_seconds:5.2f}x")
    print(line)


def against_floor(name, seconds, floor_seconds, unit_count, unit="op"):
    """One result line: time per unit for dedezi and for its floor, and their ratio."""
    per = seconds / unit_count * 1e9
    floor = floor_seconds / unit_count * 1e9
    print(f"{name:<44} {per:10.1f} ns/{unit}   floor {floor:10.1f} ns/{unit}"
          f"   to floor {seconds / floor_seconds:5.2f}x")
