"""tests/python/test_row.py: the generic row, K7RRow: reading cells by index, as attributes named
by the column's identifier or its Python name and by subscript; the conversion of each column type;
the first-match rule; and that every library reference taken for a read is given back."""

import datetime
import gc

import pytest

import dedezi
from helpers import references

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
INTEGER, DOUBLE, STRING, DATE, BOOLEAN = range(5)
OLE_2024_01_02_NOON = 45293.5


# One column of each type, then one of a type the row cannot read.
TYPED_COLUMNS = [("OfferID", STRING, True), ("Digits", INTEGER, False), ("Bid", DOUBLE, False),
                 ("Time", DATE, False), ("BidTradable", BOOLEAN, False), ("Odd", 7, False)]


# A row of no known table is a K7RRow; its names translate through every table.
GENERIC = {"kind": "generic", "row_table_type": -1}


@pytest.fixture
def typed_row(tables):
    row = tables.insert(T.OFFERS, {"OfferID": "X1", "Digits": -7, "Bid": 1.25,
                                   "Time": OLE_2024_01_02_NOON + 0.4 / 86400,
                                   "BidTradable": True}, columns=TYPED_COLUMNS, **GENERIC)
    assert type(row) is dedezi.K7RRow
    return row


class TestCellConversion:
    @pytest.mark.parametrize("index, name, expected", [
        (0, "offer_id", "X1"),
        (1, "digits", -7),
        (2, "bid", 1.25),
        # Whole seconds, naive.
        (3, "time", datetime.datetime(2024, 1, 2, 12)),
        (4, "bid_tradable", True),
    ])
    def test_each_type_by_index_name_identifier_and_subscript(self, typed_row, index, name,
                                                              expected):
        identifier = TYPED_COLUMNS[index][0]
        for value in (typed_row.get_cell(index), getattr(typed_row, name),
                      getattr(typed_row, identifier), typed_row[index], typed_row[name],
                      typed_row[identifier]):
            assert value == expected and type(value) is type(expected)

    def test_a_type_outside_the_known_ones_is_none_by_index_and_missing_by_name(self, typed_row):
        assert typed_row.get_cell(5) is None
        with pytest.raises(AttributeError, match="^Attribute not found 'Odd'$"):
            typed_row.Odd

    @pytest.mark.parametrize("values, expected", [({"BidTradable": False}, False),
                                                  ({"Digits": 2**31 - 1}, 2**31 - 1),
                                                  ({"Digits": -2**31}, -2**31)])
    def test_edges_of_the_payloads(self, tables, values, expected):
        row = tables.insert(T.OFFERS, dict(values, OfferID="X2"), columns=TYPED_COLUMNS,
                            **GENERIC)
        (name,) = values
        assert getattr(row, name) == expected

    def test_a_text_cell_without_text_is_none_by_index_and_missing_by_name(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X3", "Instrument": None})
        index = [column.id for column in row.columns].index("instrument")
        assert row.get_cell(index) is None
        with pytest.raises(AttributeError, match="^Attribute not found 'instrument'$"):
            row.instrument
        assert not hasattr(row, "Instrument")

    def test_text_is_utf8_and_invalid_utf8_raises_the_interpreters_own_error(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X4", "Instrument": "Zürich ✓".encode()})
        assert row.instrument == "Zürich ✓"
        row = tables.insert(T.OFFERS, {"OfferID": "X5", "Instrument": b"EUR\xff/USD"})
        index = [column.id for column in row.columns].index("instrument")
        for read in (lambda: row.get_cell(index), lambda: row.instrument, lambda: row["Instrument"]):
            with pytest.raises(UnicodeDecodeError):
                read()

    def test_a_date_the_library_cannot_convert_raises_the_date_librarys_error(self, sim,
                                                                              typed_row):
        sim.fault("CK7RDateUtils::OleTimeToCTime", "false", times=3)
        for read in (lambda: typed_row.get_cell(3), lambda: typed_row.time,
                     lambda: typed_row["Time"]):
            with pytest.raises(IndexError, match="^Day of month value is out of range 1..31$"):
                read()

    def test_cells_are_read_live(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X6", "Bid": 1.5})
        tables.sim.update_row(tables.session_id, int(T.OFFERS), "X6", {"Bid": 1.75})
        assert row.bid == 1.75


class TestNames:
    def test_names_are_exact(self, typed_row):
        for name in ("OFFER_ID", "offerid", "Offer_id", "offer_id ", ""):
            with pytest.raises(AttributeError) as raised:
                getattr(typed_row, name)
            assert str(raised.value) == f"Attribute not found '{name}'"
            assert not hasattr(typed_row, name)
        with pytest.raises(AttributeError, match="^Attribute not found 'OFFER_ID'$"):
            typed_row["OFFER_ID"]

    def test_a_name_of_another_table_needs_the_rows_own_identifier(self, tables):
        columns = [("OfferID", STRING, True), ("AccountID", STRING, False)]
        values = {"OfferID": "X7", "AccountID": "A1"}
        offer = tables.insert(T.OFFERS, values, columns=columns)
        # The offers table does not translate "account_id"; the identifier itself still reads.
        assert type(offer) is dedezi.K7ROfferTableRow
        assert offer.AccountID == "A1"
        assert not hasattr(offer, "account_id")
        # A row of no known table translates through the first table that knows the name.
        assert tables.insert(T.OFFERS, dict(values, OfferID="X8"), columns=columns,
                             **GENERIC).account_id == "A1"
        plain = tables.insert(T.OFFERS, {"OfferID": "X9"})
        assert not hasattr(plain, "account_id") and not hasattr(plain, "balance")

    @pytest.mark.parametrize("columns, expected", [
        ([("Bid", DOUBLE, False), ("bid", DOUBLE, False)], 1.5),
        ([("bid", DOUBLE, False), ("Bid", DOUBLE, False)], 2.5),
    ])
    def test_the_first_column_that_answers_to_the_name_wins(self, tables, columns, expected):
        row = tables.insert(T.OFFERS, {"Bid": 1.5, "bid": 2.5}, columns=columns)
        assert row.bid == expected

    @pytest.mark.parametrize("first_type, values", [(STRING, {"Instrument": None}), (9, {})])
    def test_a_first_match_that_reads_none_hides_later_duplicates(self, tables, first_type,
                                                                 values):
        row = tables.insert(T.OFFERS, values,
                            columns=[("Instrument", first_type, False),
                                     ("Instrument", STRING, False)])
        assert row.get_cell(1) == ""
        with pytest.raises(AttributeError, match="^Attribute not found 'instrument'$"):
            row.instrument

    def test_attributes_of_the_object_come_before_columns(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X14", "Bid": 1.5})
        row.bid = "mine"
        assert (row.bid, row.Bid, row["bid"]) == ("mine", 1.5, 1.5)
        del row.bid
        assert row.bid == 1.5

    def test_members_of_the_class_come_before_columns(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X10"}, **GENERIC,
                            columns=[("OfferID", STRING, True), ("columns", INTEGER, False)])
        assert isinstance(row.columns, dedezi.K7RTableColumnCollection)
        assert row["columns"] == 0


class TestIndexAndSubscript:
    def test_get_cell_bounds(self, typed_row):
        size = typed_row.columns.size
        assert size == len(TYPED_COLUMNS)
        for index in (size, -1, -size):
            with pytest.raises(IndexError, match="^Index out of bounds$"):
                typed_row.get_cell(index)
            with pytest.raises(IndexError, match="^Index out of bounds$"):
                typed_row[index]

    def test_a_bool_subscript_is_an_index(self, typed_row):
        assert typed_row[True] == typed_row.get_cell(1)
        assert typed_row[False] == typed_row.get_cell(0)

    @pytest.mark.parametrize("key", [1.5, None, (0,), ["offer_id"]])
    def test_other_keys_are_refused(self, typed_row, key):
        with pytest.raises(ValueError, match="^Strings and integer only support as value$"):
            typed_row[key]

    def test_a_row_without_columns_has_no_cells(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X11"}, null_columns=True)
        assert row.columns.size == 0
        with pytest.raises(IndexError, match="^Index out of bounds$"):
            row.get_cell(0)
        assert not hasattr(row, "offer_id")

    def test_is_cell_changed_asks_the_library(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "X11"})
        tables.sim.set_cell_changed(tables.session_id, int(T.OFFERS), "X11", 3, True)
        assert row.is_cell_changed(3) is True
        tables.sim.set_cell_changed(tables.session_id, int(T.OFFERS), "X11", 3, False)
        assert row.is_cell_changed(3) is False

    def test_table_type(self, tables, typed_row):
        row = tables.insert(T.ACCOUNTS, {"AccountID": "A2"})
        assert row.table_type == T.ACCOUNTS and type(row.table_type) is T
        assert typed_row.table_type == T.TABLE_UNKNOWN


class TestReferences:
    KINDS = ("IK7ROfferTableRow", "IK7RRow", "IK7RTableColumnCollection", "IK7RTableColumn")

    def test_every_read_gives_its_references_back(self, sim, tables):
        before = set(references(sim, self.KINDS))
        tables.insert(T.OFFERS, {"OfferID": "X12"}, columns=TYPED_COLUMNS, **GENERIC)
        table = tables.manager.get_table(T.OFFERS)
        gc.collect()
        # The row, its own column collection and its columns: all a read of it can take.
        start = {obj: count for obj, count in references(sim, self.KINDS).items()
                 if obj not in before}
        (collection,) = [obj for obj in start if sim.kind_of(obj) == "IK7RTableColumnCollection"]

        row = table.get_row(table.size - 1)
        for read in (lambda: row.get_cell(0), lambda: row.offer_id, lambda: row["Digits"],
                     lambda: row.missing, lambda: row.get_cell(99), lambda: row[1.5],
                     lambda: list(row.columns), lambda: row.columns.find("bid")):
            try:
                read()
            except (AttributeError, IndexError, ValueError):
                pass
        sim.fault("CK7RDateUtils::OleTimeToCTime", "false")
        with pytest.raises(IndexError):
            row.time
        del row, read
        gc.collect()
        # Reading by name made the collection known, which holds one reference of its own.
        expected = dict(start)
        expected[collection] += 1
        assert {obj: sim.refcount(obj) for obj in start} == expected

    def test_dropping_a_row_releases_it_once(self, sim, tables):
        tables.insert(T.OFFERS, {"OfferID": "X13"})
        table = tables.manager.get_table(T.OFFERS)
        released = sim.release_calls("IK7ROfferTableRow")
        row = table.get_row(table.size - 1)
        row.offer_id
        del row
        gc.collect()
        assert sim.release_calls("IK7ROfferTableRow") == released + 1
