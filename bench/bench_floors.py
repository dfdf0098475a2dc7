"""The floors themselves: one new wrapped object of a trivial class per step of a `range` loop,
bare and with two, six and ten property reads; and, for reference, the bare step through the
binding library's range iterator."""
from floors import floor, iterator_floor

STEPS = 100_000


def main():
    for reads in (0, 2, 6, 10):
        seconds = floor(STEPS, reads, repeat=5)
        label = "floor: new wrapped object per step" + (f", {reads} reads" if reads else "")
        print(f"{label:<44} {seconds / STEPS * 1e9:10.1f} ns/step")
    seconds = iterator_floor(STEPS, repeat=5)
    print(f"{'  the bare step by the range iterator':<44} {seconds / STEPS * 1e9:10.1f} ns/step")


if __name__ == "__main__":
    main()
