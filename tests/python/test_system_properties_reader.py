"""tests/python/test_system_properties_reader.py: K7RSystemPropertiesReader and K7RSystemProperty:
reading by index, by name, by subscript and as attributes, the errors of each, and the server's
own properties, which follow the changes made to them."""

import copy
import gc
import pickle

import pytest

import dedezi
from helpers import members, new_session
from test_response_listener import ResponseListener

pytestmark = pytest.mark.timeout(60)

Type = dedezi.K7RResponseType
RESERVED = "Reserved for future use."
NOT_FOUND = "System property {} not found"


@pytest.fixture
def properties(sim, crafted_reader):
    """properties(pairs): a reader over a crafted response with those (name, value) pairs."""
    def make(pairs):
        return crafted_reader(Type.GET_SYSTEM_PROPERTIES, lambda rid: sim.set_response_properties(rid, pairs))
    return make


def test_classes_members_and_docstrings():
    assert members(dedezi.K7RSystemPropertiesReader) == [
        ("find_property", "Finds a property by name."),
        ("get_by_name", RESERVED),
        ("size", "Gets the number of properties in the system."),
        ("__len__", RESERVED),
        ("get", "Gets a property by index."),
        ("__iter__", None), ("__getitem__", None), ("__getattr__", None)]
    assert dedezi.K7RSystemPropertiesReader.__doc__ == "A reader of the system properties."
    assert dedezi.K7RSystemPropertiesReader.__bases__ == (dedezi._K7RSystemPropertiesReader,)
    assert members(dedezi._K7RSystemPropertiesReader) == []
    assert members(dedezi.K7RSystemProperty) == [("name", "Gets the name of a system property."),
                                                 ("value", "Gets the value of a system property.")]
    assert dedezi.K7RSystemProperty.__doc__ == "The class represents a system property."
    for cls in (dedezi.K7RSystemPropertiesReader, dedezi.K7RSystemProperty):
        with pytest.raises(RuntimeError):
            cls()


def test_two_properties_read_every_way(properties):
    reader = properties([("A", "1"), ("B", "2")])
    assert type(reader) is dedezi.K7RSystemPropertiesReader
    assert len(reader) == reader.size == 2
    first = reader[0]
    assert type(first) is dedezi.K7RSystemProperty and (first.name, first.value) == ("A", "1")
    assert reader[True].name == "B"
    assert reader["B"] == reader.B == reader.find_property("B") == "2"
    assert reader.find_property("C") is None
    assert [(p.name, p.value) for p in reader] == [("A", "1"), ("B", "2")]
    assert (reader.get(1).name, reader.get_by_name(0).name) == ("B", "A")
    assert reader.get_by_name(5) is None and reader.get_by_name(-1) is None


@pytest.mark.parametrize("read, error, text", [
    (lambda r: r["C"], ValueError, NOT_FOUND.format("C")),
    (lambda r: r.C, ValueError, NOT_FOUND.format("C")),
    (lambda r: r[2], IndexError, "Index out of bounds"),
    (lambda r: r[-1], IndexError, "Index out of bounds"),
    (lambda r: r[2**70], IndexError, "Index out of bounds"),
    (lambda r: r.get(2), IndexError, "Index out of bounds"),
    (lambda r: r[1.5], ValueError, "Strings and integer only support as value"),
    (lambda r: r[None], ValueError, "Strings and integer only support as value"),
    # Cut at the NUL, the name would be "A", which is there.
    (lambda r: r["A\0B"], ValueError, NOT_FOUND.format("A\\x00B")),
    (lambda r: getattr(r, "A\0B"), ValueError, NOT_FOUND.format("A\\x00B")),
    (lambda r: r._A_, ValueError, NOT_FOUND.format("_A_")),
    (lambda r: r.__A, ValueError, NOT_FOUND.format("__A")),
    (lambda r: r.__A__, AttributeError,
     "'K7RSystemPropertiesReader' object has no attribute '__A__'"),
], ids=["missing name", "missing attribute", "index past the end", "negative index", "huge index",
        "get past the end", "float", "None", "name with a NUL", "attribute with a NUL",
        "single underscores", "leading underscores only", "dunder attribute"])
def test_errors_and_the_reader_stays_usable(properties, read, error, text):
    reader = properties([("A", "1"), ("B", "2")])
    with pytest.raises(error) as raised:
        read(reader)
    assert str(raised.value) == text
    assert reader["A"] == "1"


def test_pythons_protocols_find_no_property_behind_a_dunder_name(properties):
    reader = properties([("A", "1"), ("__reduce_ex__", "2")])
    assert not hasattr(reader, "__getinitargs__")
    assert getattr(reader, "__deepcopy__", None) is None
    # The binding library's own refusal, as for every class of the module, not 1036.
    for protocol in (copy.copy, copy.deepcopy, pickle.dumps):
        with pytest.raises(RuntimeError, match="^Pickling of .* is not enabled"):
            protocol(reader)
    assert reader["__reduce_ex__"] == "2"  # a subscript still reads any name
    with pytest.raises(ValueError, match=NOT_FOUND.format("x")):
        hasattr(reader, "x")


def test_get_refuses_a_negative_index_before_reading(properties):
    with pytest.raises(OverflowError):
        properties([("A", "1")]).get(-1)


def test_null_texts_read_as_empty_and_members_win_over_properties(properties):
    reader = properties([("A", None), (None, "x"), ("size", "99")])
    assert (reader[0].name, reader[0].value) == ("A", "")
    assert (reader[1].name, reader[1].value) == ("", "x")
    assert reader.find_property("A") is None
    with pytest.raises(ValueError, match=NOT_FOUND.format("A")):
        reader["A"]
    assert reader.size == 3 and reader["size"] == "99"


def test_a_property_outlives_its_reader(sim, properties):
    reader = properties([("A", "1")])
    kept = reader.get(0)
    del reader
    gc.collect()
    assert sim.live("IK7RSystemPropertiesReader") == 0
    assert (kept.name, kept.value) == ("A", "1")


def test_the_servers_properties_and_their_changes(sim):
    session, sid = new_session(sim)
    listener = ResponseListener()
    session.subscribe_response(listener)
    factory = session.response_reader_factory

    def server_properties(request_id):
        assert sim.deliver_system_properties(sid, request_id)
        _, (_, response) = listener.wait_request(request_id)
        assert response.type == Type.GET_SYSTEM_PROPERTIES and response.request_id == request_id
        return factory.create_reader(response)

    names = dedezi.Constants.SystemProperties
    before = server_properties("SP-1")
    assert before[names.BASE_CRNCY] == "USD" and before.BASE_UNIT_SIZE == "1000"
    assert before[names.SUPPORT_TICK_VOLUME] == "Y"
    assert {p.name for p in before} <= {v for k, v in vars(names).items() if not k.startswith("_")}
    sim.set_system_property(names.BASE_CRNCY, "EUR")
    after = server_properties("SP-2")
    assert (before.BASE_CRNCY, after.BASE_CRNCY) == ("USD", "EUR")
    session.unsubscribe_response(listener)
