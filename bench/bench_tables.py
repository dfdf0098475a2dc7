"""Row attribute reads, table iteration and row search over a 10,000-row table, each against
the same work on plain Python objects; the iteration and the search also against their floors."""
from common import best_of, report
from floors import floor
from session import open_session

import dedezi
import dedezi_bench
import velvix_sim

READS = 200_000
ROWS = 10_000


def main():
    session, session_id, manager = open_session()
    offers = manager.get_table(dedezi.K7RTableType.OFFERS)

    row = offers.get_row(0)
    trivial = dedezi_bench.Trivial()

    def read_row():
        for _ in range(READS):
            row.fractional_pip_size

    def read_trivial():
        for _ in range(READS):
            trivial.value

    report("offer table row .fractional_pip_size", best_of(read_row), best_of(read_trivial), READS, "read")

    def read_first_column():
        for _ in range(READS):
            row.offer_id

    report("offer table row .offer_id", best_of(read_first_column), best_of(read_trivial), READS, "read")

    trades = manager.get_table(dedezi.K7RTableType.TRADES)
    velvix_sim.insert_rows(session_id, int(dedezi.K7RTableType.TRADES), [
        {"TradeID": f"T{i}", "OfferID": str(i % 9 + 1), "Amount": 1000 * (i % 7 + 1), "OpenRate": 1.1 + i * 1e-5}
        for i in range(ROWS)])
    assert trades.size == ROWS
    tuples = [(f"T{i}", 1000 * (i % 7 + 1), 1.1 + i * 1e-5) for i in range(ROWS)]

    def iterate_table():
        for r in trades:
            r.amount
            r.open_rate

    def iterate_tuples():
        for t in tuples:
            t[1]
            t[2]

    report("iterate 10,000 rows, read two cells", best_of(iterate_table, 3), best_of(iterate_tuples, 3), ROWS, "row",
           floor(ROWS, 2))

    def search_table():
        return sum(1 for _ in trades.get_rows_by_column_value("offer_id", "3"))

    def search_tuples():
        return sum(1 for t in tuples if t[0] == "3")

    # Its floor makes one wrapped object for each row found.
    report("get_rows_by_column_value over 10,000 rows", best_of(search_table, 3), best_of(search_tuples, 3),
           ROWS, "row", floor(search_table(), 0))
    session.logout()


if __name__ == "__main__":
    main()
