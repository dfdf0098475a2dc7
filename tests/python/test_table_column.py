"""tests/python/test_table_column.py: the column type enum, K7RTableColumn and the column
collection: a column reports its Python attribute name, the collection finds a column by either
spelling, a collection over no library collection is empty, and references are given back."""

import gc

import pytest

import dedezi
from helpers import references
from test_row import DOUBLE, STRING, T

pytestmark = pytest.mark.timeout(60)

ColumnType = dedezi.K7RTableColumnType

# The attribute names of the offers table row's columns.
OFFER_TABLE_ROW_NAMES = {
    "offer_id", "instrument", "quote_id", "bid", "ask", "low", "high", "volume", "time",
    "bid_tradable", "ask_tradable", "sell_interest", "buy_interest", "contract_currency",
    "digits", "point_size", "subscription_status", "instrument_type", "contract_multiplier",
    "trading_status", "value_date", "bid_id", "ask_id", "bid_expire_date", "ask_expire_date",
    "dividend_sell", "dividend_buy", "pip_cost", "bid_change_direction", "ask_change_direction",
    "hi_change_direction", "low_change_direction", "default_sort_order", "fractional_pip_size"}


def test_column_type_enum():
    assert ColumnType.__doc__ == ("The enum specifies a set of values representing the data type "
                                  "of a table column.")
    assert [(v.name, int(v)) for _, v in sorted(ColumnType.values.items())] == [
        ("INTEGER", 0), ("DOUBLE", 1), ("STRING", 2), ("DATE", 3), ("BOOLEAN", 4)]
    assert not hasattr(dedezi, "INTEGER") and not hasattr(dedezi, "BOOLEAN")


@pytest.fixture
def offer_columns(tables):
    row = tables.insert(T.OFFERS, {"OfferID": "C1"})
    return row.columns


class TestColumns:
    def test_ids_are_the_attribute_names(self, offer_columns):
        assert {column.id for column in offer_columns} == OFFER_TABLE_ROW_NAMES
        assert len(offer_columns) == offer_columns.size == len(OFFER_TABLE_ROW_NAMES)

    @pytest.mark.parametrize("name, column_type, is_key", [
        ("offer_id", ColumnType.STRING, True), ("bid", ColumnType.DOUBLE, False),
        ("time", ColumnType.DATE, False), ("digits", ColumnType.INTEGER, False),
        ("bid_tradable", ColumnType.BOOLEAN, False)])
    def test_type_and_key(self, offer_columns, name, column_type, is_key):
        column = offer_columns.find(name)
        assert column.type == column_type and type(column.type) is ColumnType
        assert column.is_key is is_key

    def test_the_exception_to_the_naming_rule(self, tables):
        row = tables.insert(T.ACCOUNTS, {"AccountID": "A1"})
        assert row.columns.find("M2MEquity").id == "m2_mequity"
        assert row.columns.find("m2_mequity").id == "m2_mequity"
        assert row.columns.find("m2_m_equity") is None

    def test_an_identifier_in_no_table_has_an_empty_id(self, tables):
        row = tables.insert(T.OFFERS, {},
                            columns=[("Zed", STRING, True), ("offer_id", DOUBLE, False)])
        assert [column.id for column in row.columns] == ["", ""]

    def test_columns_are_read_only(self, offer_columns):
        with pytest.raises(AttributeError):
            offer_columns.find("bid").id = "ask"


class TestFind:
    @pytest.mark.parametrize("key", ["OfferID", "offer_id"])
    def test_both_spellings(self, offer_columns, key):
        assert offer_columns.find(key).id == "offer_id"

    @pytest.mark.parametrize("key", ["nothing", "OFFER_ID", "", None,
                                     # Columns of other tables only.
                                     "account_id", "AccountID", "m2_mequity"])
    def test_nothing_found(self, offer_columns, key):
        assert offer_columns.find(key) is None

    def test_the_identifier_is_tried_before_the_attribute_name(self, tables):
        # "bid" is an identifier here and also the attribute name of "Bid".
        row = tables.insert(T.OFFERS, {},
                            columns=[("Bid", DOUBLE, False), ("bid", STRING, True)])
        assert row.columns.find("bid").type == ColumnType.STRING
        assert row.columns.find("Bid").type == ColumnType.DOUBLE

    def test_key_column(self, offer_columns):
        assert offer_columns.key_column.id == "offer_id"


class TestSequence:
    def test_get_and_subscript_by_index(self, offer_columns):
        ids = [column.id for column in offer_columns]
        assert [offer_columns.get(i).id for i in range(len(ids))] == ids
        assert [offer_columns[i].id for i in range(len(ids))] == ids
        assert offer_columns.get(len(ids)) is None
        assert offer_columns[len(ids)] is None

    def test_a_collection_over_no_library_collection(self, tables):
        columns = tables.insert(T.OFFERS, {"OfferID": "C2"}, null_columns=True).columns
        assert type(columns) is dedezi.K7RTableColumnCollection
        assert (columns.size, len(columns), list(columns)) == (0, 0, [])
        assert columns.get(0) is None and columns[0] is None
        assert columns.find("OfferID") is None and columns.key_column is None

    def test_classes(self):
        assert dedezi.K7RTableColumnCollection.__bases__ == (dedezi._K7RTableColumnCollection,)
        assert dedezi.K7RTableColumnCollection.__doc__ == (
            "The class provides access to the list of table columns.")
        assert dedezi.K7RTableColumn.__doc__ == "The class provides access to a trading table column."
        assert dedezi._K7RTableColumnCollection.__doc__ is None
        for cls in (dedezi.K7RTableColumn, dedezi.K7RTableColumnCollection,
                    dedezi._K7RTableColumnCollection):
            with pytest.raises(RuntimeError, match="This class cannot be instantiated from Python"):
                cls()


class TestReferences:
    KINDS = ("IK7ROfferTableRow", "IK7RTableColumnCollection", "IK7RTableColumn")

    def test_a_collection_outlives_its_row_and_goes_with_its_last_column(self, sim, tables):
        gc.collect()
        live = {kind: sim.live(kind) for kind in self.KINDS}
        shared = references(sim, self.KINDS)

        tables.insert(T.OFFERS, {"OfferID": "C3"},
                      columns=[("OfferID", STRING, True), ("Bid", DOUBLE, False)])
        table = tables.manager.get_table(T.OFFERS)
        row = table.get_row(table.size - 1)
        columns = row.columns
        sim.delete_row(tables.session_id, int(T.OFFERS), "C3")
        del row, table
        gc.collect()
        kept = [columns.find("OfferID"), columns.key_column, columns.get(1), *columns]
        assert [column.id for column in kept] == ["offer_id", "offer_id", "bid", "offer_id", "bid"]
        del columns
        gc.collect()
        assert [column.id for column in kept] == ["offer_id", "offer_id", "bid", "offer_id", "bid"]

        del kept
        gc.collect()
        assert {kind: sim.live(kind) for kind in self.KINDS} == live
        assert references(sim, self.KINDS) == shared
