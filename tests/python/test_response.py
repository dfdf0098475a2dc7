"""tests/python/test_response.py: K7RResponse and the reader factory's create_reader: which Python
class each response type gives, the bool of a margin response, None where there is nothing to
read, and that every reader's library reference goes when the script drops it."""

import gc

import pytest

import dedezi
from helpers import new_session
from test_response_listener import ResponseListener, crafted

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
GENERIC = dedezi.K7RGenericTableResponseReader
SNAPSHOT = dedezi.K7RMarketDataSnapshotResponseReader
TABLE_TYPES = [Type.GET_ACCOUNTS, Type.GET_OFFERS, Type.GET_ORDERS, Type.GET_TRADES,
               Type.GET_CLOSED_TRADES, Type.GET_MESSAGES]


@pytest.fixture
def world(sim):
    """(sim, session id, listener, reader factory, craft(type_int, prepare=None))."""
    session, sid = new_session(sim)
    listener = ResponseListener()
    session.subscribe_response(listener)
    counter = iter(range(1000))

    def craft(type_int, prepare=None):
        return crafted(sim, sid, listener, type_int, f"RQ-{next(counter)}", prepare)

    yield sim, sid, listener, session.response_reader_factory, craft
    session.unsubscribe_response(listener)


def test_response_members(world):
    sim, sid, listener, _, craft = world
    response = craft(int(Type.GET_TRADES))
    assert response.type == Type.GET_TRADES and type(response.type) is Type
    assert isinstance(response.request_id, str) and response.request_id.startswith("RQ-")
    # A type outside the enum still comes through, unnamed.
    assert int(craft(15).type) == 15
    with pytest.raises(RuntimeError):
        dedezi.K7RResponse()


def test_none_gives_none(world):
    _, _, _, factory, _ = world
    assert factory.create_reader(None) is None


@pytest.mark.parametrize("type_int", [-1, int(Type.COMMAND_RESPONSE), 15, -2, 2**31 - 1],
                         ids=["unknown", "command", "15", "-2", "int max"])
def test_types_without_a_reader_give_none(world, type_int):
    _, _, _, factory, craft = world
    assert factory.create_reader(craft(type_int)) is None


@pytest.mark.parametrize("result", [True, False])
def test_margin_requirements_give_the_factory_bool(world, result):
    sim, _, _, factory, craft = world
    response = craft(int(Type.MARGIN_REQUIREMENTS_RESPONSE),
                     prepare=lambda rid: sim.set_margin_result(rid, result))
    assert factory.create_reader(response) is result


@pytest.mark.parametrize("table_type", TABLE_TYPES, ids=lambda t: t.name)
def test_table_responses_give_the_generic_reader(world, table_type):
    _, _, _, factory, craft = world
    reader = factory.create_reader(craft(int(table_type)))
    assert type(reader) is GENERIC


@pytest.mark.parametrize("type_, creator", [
    (Type.GET_OFFERS, "createOffersTableReader"),
    (Type.GET_MESSAGES, "createMessagesTableReader"),
    (Type.MARKET_DATA_SNAPSHOT, "createMarketDataSnapshotReader"),
    (Type.TABLES_UPDATES, "createTablesUpdatesReader"),
    (Type.CREATE_ORDER_RESPONSE, "createOrderResponseReader"),
    (Type.GET_SYSTEM_PROPERTIES, "createSystemPropertiesReader"),
    (Type.GET_LAST_ORDER_UPDATE, "createLastOrderUpdateResponseReader"),
    (Type.MARKET_DATA, "createMarketDataReader"),
    (Type.LEVEL2_MARKET_DATA, "createLevel2MarketDataReader"),
], ids=lambda v: getattr(v, "name", None))
def test_a_null_reader_from_the_factory_gives_none(world, type_, creator):
    sim, _, _, factory, craft = world
    response = craft(int(type_), prepare=lambda rid: sim.set_response_reader(rid, creator, None))
    assert factory.create_reader(response) is None


# Own-class readers add their own reference and give back the factory's; interface readers keep
# the factory's in their handle. Either way each holds exactly one.
READERS = [(Type.GET_OFFERS, "IK7RGenericTableResponseReader", GENERIC),
           (Type.GET_ACCOUNTS, "IK7RGenericTableResponseReader", GENERIC),
           (Type.MARKET_DATA_SNAPSHOT, "IK7RMarketDataSnapshotResponseReader", SNAPSHOT),
           (Type.TABLES_UPDATES, "IK7RTablesUpdatesReader", dedezi.K7RTablesUpdatesReader),
           (Type.GET_SYSTEM_PROPERTIES, "IK7RSystemPropertiesReader", dedezi.K7RSystemPropertiesReader),
           (Type.LEVEL2_MARKET_DATA, "IK7RLevel2MarketDataUpdatesReader",
            dedezi.K7RLevel2MarketDataUpdatesReader),
           (Type.CREATE_ORDER_RESPONSE, "IK7ROrderResponseReader", dedezi.K7ROrderResponseReader),
           (Type.GET_LAST_ORDER_UPDATE, "IK7RLastOrderUpdateResponseReader",
            dedezi.K7RLastOrderUpdateResponseReader),
           (Type.MARKET_DATA, "IK7RMarketDataResponseReader", dedezi.K7RMarketDataResponseReader)]


@pytest.mark.parametrize("type_, kind, cls", READERS, ids=lambda v: getattr(v, "name", None))
def test_each_reader_holds_one_reference_and_gives_it_back(world, type_, kind, cls):
    sim, _, _, factory, craft = world
    response = craft(int(type_))
    before = sim.objects(kind)
    readers = [factory.create_reader(response) for _ in range(3)]
    assert all(type(reader) is cls for reader in readers)
    made = [obj for obj in sim.objects(kind) if obj not in before]
    assert len(made) == 3 and all(sim.refcount(obj) == 1 for obj in made)
    del readers
    gc.collect()
    assert sim.objects(kind) == before


def test_the_reader_factory_cannot_be_made_from_python():
    with pytest.raises(RuntimeError):
        dedezi.K7RResponseReaderFactory()
