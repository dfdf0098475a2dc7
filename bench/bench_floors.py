"""The floors themselves: one new wrapped object per step of the binding library's range
iterator, bare and with two, six and ten property reads of a trivial class."""
from floors import floor

STEPS = 100_000


def main():
    for reads in (0, 2, 6, 10):
        seconds = floor(STEPS, reads, repeat=5)
        label = "floor: new wrapped object per step" + (f", {reads} reads" if reads else "")
        print(f"{label:<44} {seconds / STEPS * 1e9:10.1f} ns/step")


if __name__ == "__main__":
    main()
