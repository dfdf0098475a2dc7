"""tests/python/test_row_classes.py: the fourteen row classes of the seven tables: their names,
bases and docstrings, that Python cannot make one, that each reads its cells like K7RRow, and the
offer rows' validity flags, which go straight to the library."""

import gc
import pydoc

import pytest

import dedezi
from test_row import T

pytestmark = pytest.mark.timeout(60)

# table, key column, plain row class and docstring, table row class and docstring
PAIRS = [
    (T.OFFERS, "OfferID",
     "K7ROfferRow", "The class provides access to offer information.",
     "K7ROfferTableRow", "The class provides access to the offer information and calculated "
                         "fields."),
    (T.ACCOUNTS, "AccountID",
     "K7RAccountRow", "The class provides access to account information.",
     "K7RAccountTableRow", "The class provides access to the account information and calculated "
                           "fields."),
    (T.ORDERS, "OrderID",
     "K7ROrderRow", "The class provides access to order information.",
     "K7ROrderTableRow", "The class provides access to the order information and calculated "
                         "fields."),
    (T.TRADES, "TradeID",
     "K7RTradeRow", "The class provides access to open position information.",
     "K7RTradeTableRow", "The class provides access to the open position information and "
                         "calculated fields."),
    (T.CLOSED_TRADES, "TradeID",
     "K7RClosedTradeRow", "The class provides access to information about a position closed "
                          "during the current trading day.",
     "K7RClosedTradeTableRow", "The class provides access to the closed position information."),
    (T.MESSAGES, "MsgID",
     "K7RMessageRow", "The class provides access to a message which is intended for the user.",
     "K7RMessageTableRow", "The class provides access to the message information."),
    (T.SUMMARY, "OfferID",
     "K7RSummaryRow", "Summary information about a particular traded instrument in a response "
                      "object.",
     "K7RSummaryTableRow", "The class provides access to the summary information of the "
                           "instrument traded."),
]
CLASSES = [(name, doc) for _, _, *pair in PAIRS for name, doc in (pair[:2], pair[2:])]

FIELD = "Gets the flag indicating whether the {} field is valid."
FIELD_OR_NOT = "Gets the flag indicating whether the {} field is valid or not."
RESERVED = "Reserved for future use."
OFFER_ROW_FLAGS = [
    ("is_offer_id_valid", FIELD.format("Offer_id")),
    ("is_instrument_valid", FIELD.format("Instrument")),
    ("is_quote_id_valid", FIELD.format("quote_id")),
    ("is_bid_valid", FIELD_OR_NOT.format("Bid")),
    ("is_ask_valid", FIELD_OR_NOT.format("Ask")),
    ("is_low_valid", FIELD.format("Low")),
    ("is_high_valid", FIELD_OR_NOT.format("High")),
    ("is_volume_valid", FIELD_OR_NOT.format("Volume")),
    ("is_time_valid", "Gets the flag indicating whether the date and time of the last instrument "
                      "update is valid or not."),
    ("is_bid_tradable_valid", FIELD_OR_NOT.format("bid_tradable")),
    ("is_ask_tradable_valid", FIELD_OR_NOT.format("ask_tradable")),
    ("is_sell_interest_valid", FIELD_OR_NOT.format("sell_interest")),
    ("is_buy_interest_valid", FIELD_OR_NOT.format("buy_interest")),
    ("is_contract_currency_valid", FIELD_OR_NOT.format("contract_currency")),
    ("is_digits_valid", FIELD_OR_NOT.format("Digits")),
    ("is_point_size_valid", FIELD_OR_NOT.format("point_size")),
    ("is_subscription_status_valid", FIELD_OR_NOT.format("subscription_status")),
    ("is_instrument_type_valid", FIELD_OR_NOT.format("instrument_type")),
    ("is_contract_multiplier_valid", FIELD_OR_NOT.format("contract_multiplier")),
    ("is_trading_status_valid", FIELD_OR_NOT.format("trading_status")),
    ("is_value_date_valid", RESERVED),
    ("is_bid_id_valid", RESERVED),
    ("is_ask_id_valid", RESERVED),
    ("is_bid_expire_date_valid", RESERVED),
    ("is_ask_expire_date_valid", RESERVED),
    ("is_dividend_sell_valid", RESERVED),
    ("is_dividend_buy_valid", RESERVED),
]
OFFER_TABLE_ROW_FLAGS = [(name, RESERVED) for name in (
    "is_bid_change_direction_valid", "is_ask_change_direction_valid",
    "is_hi_change_direction_valid", "is_low_change_direction_valid",
    "is_default_sort_order_valid", "is_fractional_pip_size_valid")]


def own_members(cls):
    return [name for name in vars(cls) if not name.startswith("__") or name == "__getattr__"]


class TestClasses:
    @pytest.mark.parametrize("table, key, row, row_doc, table_row, table_row_doc", PAIRS)
    def test_hierarchy_and_docstrings(self, table, key, row, row_doc, table_row, table_row_doc):
        plain, full = getattr(dedezi, row), getattr(dedezi, table_row)
        assert plain.__bases__ == (dedezi.K7RRow,) and full.__bases__ == (plain,)
        assert plain.__doc__ == row_doc and full.__doc__ == table_row_doc
        for cls in (plain, full):
            assert cls.__getattr__.__doc__ is None
            assert cls.__getattr__ is not dedezi.K7RRow.__getattr__
        if table != T.OFFERS:
            assert own_members(plain) == own_members(full) == ["__getattr__"]

    @pytest.mark.parametrize("name, doc", CLASSES)
    def test_python_cannot_make_one(self, name, doc):
        with pytest.raises(RuntimeError, match="^This class cannot be instantiated from Python$"):
            getattr(dedezi, name)()

    @pytest.mark.parametrize("name", ["K7RRow", "K7ROfferRow", "K7RSummaryTableRow"])
    def test_an_object_without_a_native_row_refuses_names(self, name):
        cls = getattr(dedezi, name)
        empty = cls.__new__(cls)
        with pytest.raises(TypeError):
            empty.offer_id

    def test_help_shows_the_docstrings(self):
        text = pydoc.render_doc(dedezi.K7ROfferTableRow, renderer=pydoc.plaintext)
        assert "The class provides access to the offer information and calculated fields." in text
        for name, doc in OFFER_ROW_FLAGS + OFFER_TABLE_ROW_FLAGS:
            assert name in text
        assert "date and time of the last instrument update" in " ".join(text.split())

    def test_offer_flags_in_order_with_their_docstrings_and_getattr_last(self):
        assert own_members(dedezi.K7ROfferRow) == [n for n, _ in OFFER_ROW_FLAGS] + ["__getattr__"]
        assert own_members(dedezi.K7ROfferTableRow) == (
            [n for n, _ in OFFER_TABLE_ROW_FLAGS] + ["__getattr__"])
        for cls, flags in ((dedezi.K7ROfferRow, OFFER_ROW_FLAGS),
                           (dedezi.K7ROfferTableRow, OFFER_TABLE_ROW_FLAGS)):
            for name, doc in flags:
                prop = vars(cls)[name]
                assert isinstance(prop, property) and prop.fset is None
                assert prop.__doc__ == doc


def rows_of_each_kind(tables, table, key):
    values = {key: f"K-{int(table)}"}
    return {kind: tables.insert(table, values, kind=kind) for kind in ("plain", "table")}


class TestRows:
    @pytest.mark.parametrize("table, key, row, row_doc, table_row, table_row_doc", PAIRS)
    def test_each_table_gives_its_classes_and_reads_cells_by_either_name(
            self, tables, table, key, row, row_doc, table_row, table_row_doc):
        rows = rows_of_each_kind(tables, table, key)
        plain, full = getattr(dedezi, row), getattr(dedezi, table_row)
        assert type(rows["plain"]) is plain and type(rows["table"]) is full
        assert isinstance(rows["table"], plain)
        attribute = {"OfferID": "offer_id", "AccountID": "account_id", "OrderID": "order_id",
                     "TradeID": "trade_id", "MsgID": "msg_id"}[key]
        for each in rows.values():
            assert isinstance(each, dedezi.K7RRow)
            assert getattr(each, key) == getattr(each, attribute) == each[key] == f"K-{int(table)}"
            assert each.table_type == table
            with pytest.raises(AttributeError, match="^Attribute not found 'no_such_column'$"):
                each.no_such_column

    def test_a_table_row_answers_all_33_flags_from_the_library(self, sim, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "V1"})
        flags = [name for name, _ in OFFER_ROW_FLAGS + OFFER_TABLE_ROW_FLAGS]
        assert all(getattr(row, name) is True for name in flags)
        # Every other flag off: each property reads its own flag.
        sim.set_validity(tables.session_id, "V1", {name: i % 2 == 0 for i, name in enumerate(flags)})
        assert [getattr(row, name) for name in flags] == [i % 2 == 0 for i in range(len(flags))]

    def test_a_plain_offer_row_has_only_its_own_27(self, sim, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "V2"}, kind="plain")
        sim.set_validity(tables.session_id, "V2", {"is_dividend_buy_valid": False})
        assert [getattr(row, name) for name, _ in OFFER_ROW_FLAGS] == [True] * 26 + [False]
        for name, _ in OFFER_TABLE_ROW_FLAGS:
            with pytest.raises(AttributeError, match=f"^Attribute not found '{name}'$"):
                getattr(row, name)

    def test_flags_cannot_be_set(self, tables):
        row = tables.insert(T.OFFERS, {"OfferID": "V3"})
        with pytest.raises(AttributeError):
            row.is_bid_valid = False
        assert row.is_bid_valid is True

    def test_rows_of_every_class_are_released_once(self, sim, tables):
        kinds = [f"IK7R{name[3:]}" for name, _ in CLASSES]
        for table, key, *_ in PAIRS:
            for kind in ("plain", "table"):
                tables.insert(table, {key: f"R-{int(table)}-{kind}"}, kind=kind)
        gc.collect()
        released = {kind: sim.release_calls(kind) for kind in kinds}
        for table, *_ in PAIRS:
            rows = tables.manager.get_table(table)
            for index in (rows.size - 2, rows.size - 1):
                row = rows.get_row(index)
                row.table_type
                del row
        gc.collect()
        assert {kind: sim.release_calls(kind) - released[kind] for kind in kinds} == {
            kind: 1 for kind in kinds}
