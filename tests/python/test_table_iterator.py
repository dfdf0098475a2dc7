"""tests/python/test_table_iterator.py: the four row searches of K7RTable and the K7RTableIterator
they return: which column id and values reach the library, the argument checks, what iterating
finds, the end reached between the two searches of a step, and the references a search holds."""

import gc

import pytest

import dedezi

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
Op = dedezi.K7RRelationalOperators
Logic = dedezi.K7RLogicOperators

COLUMN_VALUE = "getNextGenericRowByColumnValue"


@pytest.fixture
def offers(sim, loaded):
    """The offers table with three rows of known values at its end."""
    _, session_id, manager = loaded
    for key, instrument, digits, bid, tradable in [("S1", "AAA/BBB", 3, 1.25, True),
                                                   ("S2", "CCC/DDD", 3, 1.50, False),
                                                   ("S3", "AAA/BBB", 5, 1.75, True)]:
        sim.insert_row(session_id, int(T.OFFERS),
                       {"OfferID": key, "Instrument": instrument, "Digits": digits, "Bid": bid,
                        "Ask": bid + 0.01, "BidTradable": tradable})
    return manager.get_table(T.OFFERS)


def keys(rows):
    return [row.offer_id for row in rows]


def mine(rows):
    """The keys of the fixture's own rows among `rows`: the demo offers may match too."""
    return [key for key in keys(rows) if key in ("S1", "S2", "S3")]


class TestColumnNames:
    def test_the_attribute_name_reaches_the_library_as_its_column_id(self, sim, offers):
        start = len(sim.search_journal())
        found = list(offers.get_rows_by_column_value("offer_id", "S2"))
        assert keys(found) == ["S2"]
        (first, *_) = sim.search_journal()[start:]
        assert first == (COLUMN_VALUE, b"OfferID", [b"S2"])

    @pytest.mark.parametrize("column", ["OfferID", None, "no_such_column", "account_id"])
    def test_other_names_search_with_the_empty_id_and_find_nothing(self, sim, offers, column):
        start = len(sim.search_journal())
        assert list(offers.get_rows_by_column_value(column, "S2")) == []
        journal = sim.search_journal()[start:]
        assert journal and {column_id for _, column_id, _ in journal} == {b""}


class TestValues:
    # (column, Python value, what the library reads by that column's type)
    @pytest.mark.parametrize("column, value, read", [
        ("digits", True, 1),            # a bool is an integer
        ("digits", 5, 5),
        ("digits", [1], 0),             # nothing accepts a list: integer 0
        ("digits", 2.0, 0),             # a double read as an integer is not 2
        ("bid", 1.5, 1.5),
        ("bid_tradable", None, False),  # None is boolean false
        ("instrument", "AAA/BBB", b"AAA/BBB"),  # the library's texts come back as bytes
        ("instrument", b"CCC/DDD", b"CCC/DDD"),
    ])
    def test_the_value_as_the_library_reads_it(self, sim, offers, column, value, read):
        start = len(sim.search_journal())
        list(offers.get_rows_by_column_value(column, value))
        (_, _, values), *_ = sim.search_journal()[start:]
        assert values == [read] and type(values[0]) is type(read)

    @pytest.mark.parametrize("column, value, expected", [
        ("instrument", "AAA/BBB", ["S1", "S3"]),
        ("bid", 1.5, ["S2"]),
        ("digits", 5, ["S3"]),
    ])
    def test_finds_the_matching_rows_in_table_order(self, offers, column, value, expected):
        rows = list(offers.get_rows_by_column_value(column, value))
        assert mine(rows) == expected
        assert {type(row) for row in rows} == {dedezi.K7ROfferTableRow}

    def test_an_int_beyond_32_bits_is_the_binding_librarys_overflow(self, offers):
        with pytest.raises(OverflowError):
            offers.get_rows_by_column_value("digits", 2**31)


class TestSearches:
    def test_any_of_several_values(self, sim, offers):
        start = len(sim.search_journal())
        found = offers.get_rows_by_column_values("offer_id", Op.EQUAL_TO, ["S3", "S1", "nope"])
        assert keys(found) == ["S1", "S3"]
        op, column, values = sim.search_journal()[start]
        assert (op, column, values) == ("getNextGenericRowByColumnValues", b"OfferID",
                                        [b"S3", b"S1", b"nope"])

    def test_no_values_find_nothing(self, offers):
        assert list(offers.get_rows_by_column_values("offer_id", Op.EQUAL_TO, [])) == []

    @pytest.mark.parametrize("op, bounds, expected", [
        (Op.BETWEEN, [1.25, 1.5], ["S1", "S2"]),
        (Op.GREATER_THAN, [1.5, 0.0], ["S3"]),
    ])
    def test_condition(self, sim, offers, op, bounds, expected):
        start = len(sim.search_journal())
        found = offers.get_rows_by_condition("bid", op, bounds)
        assert mine(found) == expected
        entry = sim.search_journal(with_operators=True)[start]
        assert entry == ("getNextGenericRowByCondition", b"Bid", bounds, [int(op)], None)

    @pytest.mark.parametrize("logic, expected", [(Logic.OPERATOR_AND, ["S3"]),
                                                 (Logic.OPERATOR_OR, ["S1", "S3"])])
    def test_multi_column(self, sim, offers, logic, expected):
        start = len(sim.search_journal())
        found = offers.get_rows_by_multi_column_values(
            ["instrument", b"digits"], [Op.EQUAL_TO, Op.EQUAL_TO], ["AAA/BBB", 5], logic)
        assert mine(found) == expected
        op, columns, values, operators, used = sim.search_journal(with_operators=True)[start]
        assert (op, columns, values) == ("getNextGenericRowByMultiColumnValues",
                                         [b"Instrument", b"Digits"], [b"AAA/BBB", 5])
        assert (operators, used) == ([int(Op.EQUAL_TO)] * 2, int(logic))


class TestArgumentChecks:
    @pytest.mark.parametrize("values", [[1.0], [1.0, 2.0, 3.0]])
    def test_a_condition_takes_exactly_two_values(self, offers, values):
        for op in (Op.BETWEEN, Op.EQUAL_TO):
            with pytest.raises(IndexError, match="^Only 2 values must be contains in values$"):
                offers.get_rows_by_condition("bid", op, values)

    @pytest.mark.parametrize("lengths", [(2, 2, 3), (3, 2, 2), (2, 3, 2)])
    def test_multi_column_lists_of_unequal_lengths(self, offers, lengths):
        columns, operators, values = (["bid"] * lengths[0], [Op.EQUAL_TO] * lengths[1],
                                      [1.0] * lengths[2])
        with pytest.raises(IndexError, match="^Arrays lengths not equeal$"):
            offers.get_rows_by_multi_column_values(columns, operators, values, Logic.OPERATOR_AND)

    @pytest.mark.parametrize("columns, operators, message", [
        (["bid", 7], [Op.EQUAL_TO, Op.EQUAL_TO], "^ColumnNames must contains only string$"),
        (["bid", "ask"], [Op.EQUAL_TO, "=="],
         "^conditions must contains only K7RRelationalOperators$"),
        (["bid", "ask"], [Op.EQUAL_TO, 0],
         "^conditions must contains only K7RRelationalOperators$"),
        # The column is tested first.
        ([None, "ask"], ["==", Op.EQUAL_TO], "^ColumnNames must contains only string$"),
    ])
    def test_multi_column_items(self, offers, columns, operators, message):
        with pytest.raises(IndexError, match=message):
            offers.get_rows_by_multi_column_values(columns, operators, [1.0, 1.0],
                                                   Logic.OPERATOR_AND)


class TestIteration:
    def test_a_search_that_finds_nothing_iterates_nothing(self, sim, offers):
        start = len(sim.search_journal())
        found = offers.get_rows_by_column_value("offer_id", "nope")
        assert list(found) == [] and list(found) == []
        # Each start asks once and finds nothing.
        assert len(sim.search_journal()) - start == 2

    def test_each_iteration_starts_the_search_again(self, offers):
        found = offers.get_rows_by_column_value("instrument", "AAA/BBB")
        assert keys(found) == keys(found) == ["S1", "S3"]
        first, second = iter(found), iter(found)
        assert next(first).offer_id == "S1"
        assert next(second).offer_id == "S1"
        assert next(first).offer_id == "S3"

    def test_an_iterator_outlives_its_search_and_table_objects(self, offers):
        running = iter(offers.get_rows_by_column_value("instrument", "AAA/BBB"))
        del offers
        gc.collect()
        assert keys(running) == ["S1", "S3"]

    def test_a_row_gone_between_the_two_searches_of_a_step_ends_with_index_error(self, sim,
                                                                                 offers):
        running = iter(offers.get_rows_by_column_value("offer_id", "S2"))
        # The next step's end test finds the row; its advance, the second search, misses.
        sim.miss_search(after=1)
        with pytest.raises(IndexError, match="^Iterator reached the end of the collection$"):
            next(running)

    def test_every_reference_comes_back(self, sim, offers):
        kinds = ("IK7RTable", "IK7ROfferTableRow")
        gc.collect()
        start = {obj: sim.refcount(obj) for kind in kinds for obj in sim.objects(kind)}
        found = offers.get_rows_by_column_value("instrument", "AAA/BBB")
        rows = list(found)
        half = iter(found)
        next(half)
        assert len(rows) == 2
        del found, rows, half, offers
        gc.collect()
        assert {obj: sim.refcount(obj) for kind in kinds for obj in sim.objects(kind)} == start


def test_docstring_and_members():
    assert dedezi.K7RTableIterator.__doc__ == "The class iterates through rows of a table."
    assert dedezi.K7RTableIterator.__iter__.__doc__ is None
    assert not hasattr(dedezi.K7RTableIterator, "__len__")
