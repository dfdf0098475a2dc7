"""tests/python/test_text_arguments.py: a text argument with an embedded NUL would reach a library
cut at the NUL, so it is refused with ValueError before any library call, whichever way the
binding takes it; names the module compares itself are not such texts and keep their behaviour,
an error naming them whole.
A bytes text that is not UTF-8 is refused too: it could not be read back as a str."""

import pytest

import dedezi
from helpers import CONNECTION, URL, journal_calls, new_session

pytestmark = pytest.mark.timeout(60)


@pytest.fixture
def session(sim):
    return new_session(sim)[0]


def snapshot_request(session, text):
    factory = session.request_factory
    factory.create_market_data_snapshot_request_instrument(
        text, factory.timeframe_collection.get_by_id("H1"))


# (a call that passes the text on, what the library has seen so far)
CALLS = {
    "property, char const*": (
        lambda session, text: setattr(dedezi.K7RTransport, "application_id", text),
        lambda sim: sim.transport_settings()["application_id"]),
    "method, char const*": (
        lambda session, text: session.login(text, "demo", URL, CONNECTION),
        lambda sim: journal_calls(sim, "login")),
    "method, std::string": (
        snapshot_request,
        lambda sim: sim.requests_created()),
    "static method, std::string": (
        lambda session, text: dedezi.PlentaCommunicatorFactory.set_proxy(text, 8080, "u", "p"),
        lambda sim: sim.plenta_proxy()),
}


@pytest.mark.parametrize("text, message", [
    ("EUR/USD\x00junk", "embedded null character"),
    ("\x00", "embedded null character"),
    (b"EUR/USD\x00junk", "embedded null byte"),
])
@pytest.mark.parametrize("call", CALLS)
def test_an_embedded_nul_is_refused_before_the_library(sim, session, call, text, message):
    make, seen = CALLS[call]
    make(session, "EUR/USD")
    before = seen(sim)
    if isinstance(text, bytes) and "char const*" in call:
        message = "did not match C\\+\\+ signature"  # bytes never were a C string argument
    with pytest.raises((ValueError, TypeError), match=message):
        make(session, text)
    assert seen(sim) == before


def test_a_compared_name_is_no_library_text(sim, communicator, tables):
    # The row compares names itself: a NUL makes an unknown name, not a refusal.
    row = tables.insert(dedezi.K7RTableType.OFFERS, {"OfferID": "N1"})
    # The message names it whole: cut at the NUL it would name offer_id, which is there.
    for read in (lambda: row["offer_id\x00x"], lambda: row[b"offer_id\x00x"],
                 lambda: getattr(row, "offer_id\x00x")):
        with pytest.raises(AttributeError) as raised:
            read()
        assert str(raised.value) == "Attribute not found 'offer_id\\x00x'"
    # The instrument name is compared byte for byte with the cache's: no such instrument.
    sim.zorvat_loaded(True)
    assert len(communicator[0].timeframe_collection("EUR/USD\x00junk")) == 0
    assert len(communicator[0].timeframe_collection("EUR/USD")) > 0


@pytest.mark.parametrize("call", [name for name in CALLS if "std::string" in name])
@pytest.mark.parametrize("text", [b"\xff\xfe", b"EUR/USD\xc3", b"\xed\xa0\x80"],
                         ids=["not UTF-8", "cut inside a character", "surrogate"])
def test_bytes_that_are_not_utf8_are_refused_before_the_library(sim, session, call, text):
    make, seen = CALLS[call]
    make(session, b"EUR/USD")  # UTF-8 bytes stay a text
    before = seen(sim)
    with pytest.raises(UnicodeDecodeError):
        make(session, text)
    assert seen(sim) == before


def test_a_request_keeps_only_texts_it_can_give_back(communicator, m1):
    comm = communicator[0]
    with pytest.raises(UnicodeDecodeError):
        comm.create_request(b"\xff\xfe", m1)
    assert comm.create_request("EUR/USD".encode(), m1).instrument == "EUR/USD"
