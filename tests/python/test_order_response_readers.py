"""tests/python/test_order_response_readers.py: K7ROrderResponseReader and
K7RLastOrderUpdateResponseReader: their members, the plain order row, the references a row read
twice holds, and the server's answers about the orders a script makes."""

import gc

import pytest

import dedezi
from helpers import members, send_command
from test_response_listener import trading, listened  # noqa: F401

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
Update = dedezi.K7RTableUpdateType
Params = dedezi.K7RRequestParamsEnum
Commands = dedezi.Constants.Commands
RESERVED = "Reserved for future use."


def test_members_and_docstrings():
    assert members(dedezi.K7ROrderResponseReader) == [
        ("order_id", "Gets the ID of the created order."),
        ("is_under_dealer_intervention", RESERVED)]
    assert dedezi.K7ROrderResponseReader.__doc__ == (
        "A reader of a response belonging to the CREATE_ORDER_RESPONSE type.")
    assert members(dedezi.K7RLastOrderUpdateResponseReader) == [
        ("update_type", "Gets the last operation that has been performed with an order."),
        ("order", "Gets an instance of the class that provides access to order information.")]
    assert dedezi.K7RLastOrderUpdateResponseReader.__doc__ == (
        "The class reads a response to a request for the current state of an order.")
    for cls in (dedezi.K7ROrderResponseReader, dedezi.K7RLastOrderUpdateResponseReader):
        with pytest.raises(RuntimeError):
            cls()


@pytest.mark.parametrize("order_id, intervention", [("50000001", True), (None, False)])
def test_order_response_reader(sim, crafted_reader, order_id, intervention):
    reader = crafted_reader(Type.CREATE_ORDER_RESPONSE,
                            lambda rid: sim.set_order_response(rid, order_id, intervention))
    assert type(reader) is dedezi.K7ROrderResponseReader
    assert reader.order_id == order_id
    # A method, called with parentheses, beside the property.
    assert callable(reader.is_under_dealer_intervention)
    assert reader.is_under_dealer_intervention() is intervention


@pytest.mark.parametrize("kind", ["table", "plain"])
def test_the_order_is_always_the_plain_order_row(sim, crafted_reader, kind):
    row = (kind, int(dedezi.K7RTableType.ORDERS), {"OrderID": "77", "Amount": 3000})
    reader = crafted_reader(Type.GET_LAST_ORDER_UPDATE,
                            lambda rid: sim.set_last_order_update(rid, int(Update.DELETE), row))
    assert type(reader) is dedezi.K7RLastOrderUpdateResponseReader
    assert reader.update_type is Update.DELETE
    order = reader.order
    assert type(order) is dedezi.K7ROrderRow
    assert (order.order_id, order.amount) == ("77", 3000)


@pytest.mark.parametrize("row", [None, ("generic", -1, {}), ("table", 3, {"TradeID": "1"})],
                         ids=["no row", "generic row", "trade row"])
def test_no_order_row_gives_none(sim, crafted_reader, row):
    reader = crafted_reader(Type.GET_LAST_ORDER_UPDATE,
                            lambda rid: sim.set_last_order_update(rid, int(Update.INSERT), row))
    assert reader.order is None
    assert reader.update_type is Update.INSERT


def test_each_read_of_the_order_owns_a_reference_to_the_same_row(sim, crafted_reader):
    row = ("table", int(dedezi.K7RTableType.ORDERS), {"OrderID": "5"})
    reader = crafted_reader(Type.GET_LAST_ORDER_UPDATE,
                            lambda rid: sim.set_last_order_update(rid, int(Update.UPDATE), row))
    (row_id,) = sim.objects("IK7ROrderTableRow")
    held = sim.refcount(row_id)
    first, second = reader.order, reader.order
    assert first is not second and first.order_id == second.order_id == "5"
    assert sim.refcount(row_id) == held + 2
    del first, second
    gc.collect()
    assert sim.refcount(row_id) == held


# --- the server's answers ------------------------------------------------------------------------

def outcome(listener, request_id, response_type=None):
    """(name, args) of the request's failure, or of its completion of that response type."""
    return listener.wait_for(lambda name, args: args[0] == request_id and (
        name == "failed" or (name == "completed" and (response_type is None
                                                      or args[1].type == response_type))))


def order_params(offer, account, order_type, extra=None):
    params = {Params.COMMAND: Commands.CREATE_ORDER, Params.ORDER_TYPE: order_type,
              Params.OFFER_ID: offer, Params.ACCOUNT_ID: account,
              Params.BUY_SELL: dedezi.Constants.BUY, Params.AMOUNT: 10000}
    params.update(extra or {})
    return params


def last_update(session, listener, order_id):
    request_id = send_command(session, listener, {Params.COMMAND: Commands.GET_LAST_ORDER_UPDATE,
                                                  Params.ORDER_ID: order_id})
    name, args = outcome(listener, request_id)
    if name == "failed":
        return args[1]
    assert args[1].type == Type.GET_LAST_ORDER_UPDATE
    return session.response_reader_factory.create_reader(args[1])


@pytest.fixture
def desk(trading):
    """(session, listener, EUR/USD offer row, account id) of a logged-in session with tables."""
    session, _, listener = trading
    manager = session.table_manager
    (eurusd,) = [o for o in manager.get_table(dedezi.K7RTableType.OFFERS) if o.instrument == "EUR/USD"]
    (account,) = list(manager.get_table(dedezi.K7RTableType.ACCOUNTS))
    return session, listener, eurusd, account.account_id


def test_an_entry_order_is_created_inserted_and_deleted(desk):
    session, listener, eurusd, account = desk
    orders = session.table_manager.get_table(dedezi.K7RTableType.ORDERS)
    request_id = send_command(session, listener, order_params(
        eurusd.offer_id, account, dedezi.Constants.Orders.STOP_ENTRY, {Params.RATE: eurusd.ask * 2}))
    name, (_, response) = outcome(listener, request_id)
    assert name == "completed" and response.type == Type.CREATE_ORDER_RESPONSE
    created = session.response_reader_factory.create_reader(response)
    order_id = created.order_id
    assert isinstance(order_id, str) and created.is_under_dealer_intervention() is False
    def shown():
        return any(row.order_id == order_id for row in orders)

    listener.calls.wait_until(lambda _: shown())
    assert shown(), "the orders table shows the created order's id"

    waiting = last_update(session, listener, order_id)
    assert waiting.update_type is Update.INSERT
    assert type(waiting.order) is dedezi.K7ROrderRow
    assert (waiting.order.order_id, waiting.order.amount) == (order_id, 10000)

    request_id = send_command(session, listener, {Params.COMMAND: Commands.DELETE_ORDER,
                                                  Params.ORDER_ID: order_id})
    assert outcome(listener, request_id)[0] == "completed"
    gone = last_update(session, listener, order_id)
    assert gone.update_type is Update.DELETE and gone.order.order_id == order_id


def test_a_filled_market_order_was_last_deleted(desk):
    session, listener, eurusd, account = desk
    trades = session.table_manager.get_table(dedezi.K7RTableType.TRADES)
    request_id = send_command(session, listener, order_params(
        eurusd.offer_id, account, dedezi.Constants.Orders.TRUE_MARKET_OPEN))
    _, (_, response) = outcome(listener, request_id, Type.CREATE_ORDER_RESPONSE)
    order_id = session.response_reader_factory.create_reader(response).order_id
    def filled():
        return any(trade.open_order_id == order_id for trade in trades)

    listener.calls.wait_until(lambda _: filled())
    assert filled()
    last = last_update(session, listener, order_id)
    assert last.update_type is Update.DELETE
    assert last.order.order_id == order_id and last.order.offer_id == eurusd.offer_id


@pytest.mark.parametrize("order_id, text", [("NO-SUCH-ORDER", "Unknown order 'NO-SUCH-ORDER'"),
                                            ("", "The order is not specified (ORDER_ID)")])
def test_an_unknown_order_fails_with_a_readable_text(desk, order_id, text):
    session, listener, _, _ = desk
    assert last_update(session, listener, order_id) == text
