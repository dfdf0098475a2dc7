"""tests/python/test_tables_updates_reader.py: K7RTablesUpdatesReader and its items: updates by
index and item by item, the summary and null rows as None, the row classes, the server time,
indices the library checks itself, items and rows that outlive the reader, and the stream the
simulated server sends when a market order fills."""

import datetime
import gc

import pytest

import dedezi
from helpers import members, send_command, settled_refcount
from test_response_listener import tables_updates, trading, listened  # noqa: F401

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
Table = dedezi.K7RTableType
Update = dedezi.K7RTableUpdateType
Params = dedezi.K7RRequestParamsEnum
OLE_NOON = 45293.5  # 2024-01-02 12:00
KIND = "IK7RTablesUpdatesReader"

OFFER = ("table", int(Table.OFFERS), {"OfferID": "1", "Instrument": "EUR/USD"})
STREAM = [(int(Update.INSERT), int(Table.OFFERS), OFFER),
          (int(Update.UPDATE), int(Table.SUMMARY), ("table", int(Table.SUMMARY), {"OfferID": "1"})),
          (int(Update.DELETE), int(Table.ORDERS), ("plain", int(Table.ORDERS), {"OrderID": "9"}))]


@pytest.fixture
def stream(sim, crafted_reader):
    """stream(updates=STREAM, server_time=OLE_NOON): a reader over a crafted TABLES_UPDATES."""
    def make(updates=STREAM, server_time=OLE_NOON):
        return crafted_reader(Type.TABLES_UPDATES,
                              lambda rid: sim.set_tables_updates(rid, server_time, updates))
    return make


def test_classes_members_and_docstrings():
    assert members(dedezi.K7RTablesUpdatesReaderItem) == [
        ("row", "Gets the row that has been updated."), ("type", "Gets the type of the update."),
        ("table", "Gets the identifier of the table that has been updated.")]
    assert dedezi.K7RTablesUpdatesReaderItem.__doc__ == "One table update."
    row_doc = "Gets an instance of the class that provides access to the {} information."
    assert members(dedezi.K7RTablesUpdatesReader) == [
        ("server_time", "Gets a calendar instance representing the date/time of a table update."),
        ("get_update_type", "Gets the type of a table update."),
        ("get_update_table", "Gets the identifier of the table that has been updated."),
        ("get_offer_row", row_doc.format("offer")),
        ("get_account_row", row_doc.format("account")),
        ("get_order_row", row_doc.format("order")),
        ("get_trade_row", row_doc.format("open position")),
        ("get_closed_trade_row", row_doc.format("closed position")),
        ("get_message_row", row_doc.format("message")),
        ("size", "Gets the number of rows in the reader."),
        ("__len__", "Reserved for future use."),
        ("get", "Gets one table update by its index."),
        ("__iter__", None)]
    assert dedezi.K7RTablesUpdatesReader.__doc__ == (
        "The class reads a stream of table updates coming from the trading server.")
    assert dedezi.K7RTablesUpdatesReader.__bases__ == (dedezi._K7RTablesUpdatesReader,)
    for cls in (dedezi.K7RTablesUpdatesReader, dedezi._K7RTablesUpdatesReader,
                dedezi.K7RTablesUpdatesReaderItem):
        with pytest.raises(RuntimeError):
            cls()


def test_the_summary_reads_as_none_between_its_neighbours(stream):
    reader = stream()
    assert type(reader) is dedezi.K7RTablesUpdatesReader
    items = list(reader)
    assert items[1] is None and reader.get(1) is None
    read = [(item.table, item.type) for item in (items[0], items[2])]
    assert read == [(Table.OFFERS, Update.INSERT), (Table.ORDERS, Update.DELETE)]
    assert type(items[0].table) is Table and type(items[0].type) is Update
    assert len(reader) == reader.size == 3 and reader.get(3) is None
    with pytest.raises(OverflowError):
        reader.get(-1)
    # By index, the summary is still there to see.
    assert [reader.get_update_table(i) for i in range(3)] == [Table.OFFERS, Table.SUMMARY, Table.ORDERS]
    assert reader.get_update_type(1) is Update.UPDATE


def test_an_update_type_outside_the_enum_still_reads_as_the_enum(stream):
    item = stream([(9, int(Table.OFFERS), OFFER)]).get(0)
    assert type(item.type) is Update and int(item.type) == 9
    assert item.table is Table.OFFERS


@pytest.mark.parametrize("update, cls, plain", [
    (OFFER, dedezi.K7ROfferTableRow, dedezi.K7ROfferRow),
    (("plain", int(Table.OFFERS), {"OfferID": "2"}), dedezi.K7ROfferRow, dedezi.K7ROfferRow),
], ids=["table row", "plain row"])
def test_an_items_row_is_the_most_specific_class_and_the_getter_the_plain_one(stream, update, cls, plain):
    reader = stream([(int(Update.UPDATE), int(Table.OFFERS), update)])
    assert type(reader.get(0).row) is cls
    assert type(reader.get_offer_row(0)) is plain


@pytest.mark.parametrize("getter, cls", [
    ("get_account_row", dedezi.K7RAccountRow), ("get_order_row", dedezi.K7ROrderRow),
    ("get_trade_row", dedezi.K7RTradeRow), ("get_closed_trade_row", dedezi.K7RClosedTradeRow),
    ("get_message_row", dedezi.K7RMessageRow)])
def test_each_row_getter_gives_its_plain_class_and_none_for_another_table(stream, getter, cls):
    table = {"get_account_row": Table.ACCOUNTS, "get_order_row": Table.ORDERS,
             "get_trade_row": Table.TRADES, "get_closed_trade_row": Table.CLOSED_TRADES,
             "get_message_row": Table.MESSAGES}[getter]
    reader = stream([(int(Update.INSERT), int(table), ("table", int(table), {})), STREAM[0]])
    assert type(getattr(reader, getter)(0)) is cls
    assert getattr(reader, getter)(1) is None


@pytest.mark.parametrize("update", [
    (int(Update.INSERT), int(Table.ORDERS), None),
    (int(Update.INSERT), -1, ("generic", -1, {})),
    (int(Update.INSERT), 7, ("generic", 7, {})),
    (int(Update.INSERT), int(Table.TRADES), ("generic", -1, {})),
], ids=["null row", "unknown table", "table 7", "row of no trade interface"])
def test_an_update_without_a_row_to_give_is_none(stream, update):
    reader = stream([update, STREAM[0]])
    assert reader.get(0) is None
    assert [type(item) for item in reader] == [type(None), dedezi.K7RTablesUpdatesReaderItem]


@pytest.mark.parametrize("call, neutral, op", [
    (lambda r: r.get_update_type(3), Update.UPDATE_UNKNOWN, "getUpdateType"),
    (lambda r: r.get_update_table(-1), Table.TABLE_UNKNOWN, "getUpdateTable"),
    (lambda r: r.get_offer_row(3), None, "getOfferRow"),
    (lambda r: r.get_message_row(2**31 - 1), None, "getMessageRow"),
])
def test_indices_outside_reach_the_library_which_gives_neutral_values(sim, stream, call, neutral, op):
    reader = stream()
    sim.clear_journal()
    assert call(reader) == neutral
    assert [name for name, _ in sim.journal(f"{KIND}::")] == [f"{KIND}::{op}"]


def test_server_time_is_a_naive_datetime_at_whole_seconds(stream):
    # 12:00:00.4 rounds to 12:00:00.
    reader = stream(server_time=OLE_NOON + 0.4 / 86400)
    assert reader.server_time == datetime.datetime(2024, 1, 2, 12, 0, 0)
    assert reader.server_time.tzinfo is None
    with pytest.raises(IndexError, match="Day of month value is out of range 1..31"):
        stream(server_time=1e10).server_time


def test_items_and_rows_outlive_the_reader_and_each_releases_once(sim, stream):
    gc.collect()  # an earlier test's session may wait in a reference cycle, with its offers
    reader = stream()
    (offer_row,) = sim.objects("IK7ROfferTableRow")
    held = settled_refcount(sim, offer_row)
    items = [item for item in reader if item is not None]
    rows = [items[0].row, items[0].row]
    assert rows[0] is not rows[1] and rows[0].offer_id == rows[1].offer_id == "1"
    assert sim.refcount(offer_row) == held + 3, "the item and each row read hold their own"
    del reader
    gc.collect()
    assert sim.live(KIND) == 0
    without_reader = settled_refcount(sim, offer_row)
    assert rows[0].instrument == "EUR/USD" and items[1].row.order_id == "9"
    del items, rows
    gc.collect()
    assert sim.refcount(offer_row) == without_reader - 3


def test_a_filled_market_order_streams_its_updates_with_the_server_time(sim, trading):
    session, _, listener = trading
    manager = session.table_manager
    (eurusd,) = [o for o in manager.get_table(Table.OFFERS) if o.instrument == "EUR/USD"]
    (account,) = list(manager.get_table(Table.ACCOUNTS))
    before = len(tables_updates(listener))
    send_command(session, listener, {
        Params.COMMAND: dedezi.Constants.Commands.CREATE_ORDER,
        Params.ORDER_TYPE: dedezi.Constants.Orders.TRUE_MARKET_OPEN, Params.OFFER_ID: eurusd.offer_id,
        Params.ACCOUNT_ID: account.account_id, Params.BUY_SELL: dedezi.Constants.BUY,
        Params.AMOUNT: 10000})
    listener.calls.wait_until(lambda _: len(tables_updates(listener)) >= before + 2)
    factory = session.response_reader_factory
    readers = [factory.create_reader(response) for (response,) in tables_updates(listener)[before:]]
    seen = [[(i.table, i.type) if i is not None else None for i in reader] for reader in readers]
    assert seen == [[(Table.ORDERS, Update.INSERT)],
                    [(Table.TRADES, Update.INSERT), (Table.ORDERS, Update.DELETE),
                     (Table.ACCOUNTS, Update.UPDATE), None]]
    assert readers[1].get_update_table(3) == Table.SUMMARY
    order, trade = readers[0].get(0).row, readers[1].get(0).row
    assert trade.open_order_id == order.order_id and trade.offer_id == eurusd.offer_id
    now = datetime.datetime.utcfromtimestamp(round((sim.now() - 25569) * 86400))
    assert abs(readers[1].server_time - now) < datetime.timedelta(seconds=5)
