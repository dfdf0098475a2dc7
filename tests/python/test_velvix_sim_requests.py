"""tests/python/test_velvix_sim_requests.py: the requests and responses face of the test-control
extension. The stand-in session, request factory and value maps are reached through their tables
with ctypes, as in test_velvix_sim.py, so that what the face reports is checked against real
calls into the same world."""

import ctypes
import threading

import pytest

from test_velvix_sim import ADDREF, DTOR, Session, Velvix

pytestmark = pytest.mark.timeout(60)

ON_COMPLETED = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p)
ON_FAILED = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p)
ON_UPDATES = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
_KEPT = []  # the library may still hold a listener after a failed test: never freed

COMMAND, ACCOUNT_ID, OFFER_ID, AMOUNT, ORDER_TYPE = 1, 2, 3, 6, 22


def vcall(ptr, slot, restype, argtypes, *args):
    """Calls slot `slot` of an object's table (4 is the first after IAddRef)."""
    table = ctypes.cast(ctypes.c_void_p(ptr), ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return ctypes.CFUNCTYPE(restype, ctypes.c_void_p, *argtypes)(table[slot])(ptr, *args)


def release(ptr):
    return vcall(ptr, 3, ctypes.c_int, [])


class ResponseListener:
    """An IK7RResponseListener of ctypes callbacks; records (how, request_id, type or error)."""

    def __init__(self):
        self.refs = 1
        self.events = []
        self.cond = threading.Condition()

        def add_ref(this):
            self.refs += 1
            return self.refs

        def rel(this):
            self.refs -= 1
            return self.refs

        def response_type(response):
            return vcall(response, 4, ctypes.c_int, [])

        self._functions = [DTOR(lambda this: None), DTOR(lambda this: None), ADDREF(add_ref), ADDREF(rel),
                           ON_COMPLETED(lambda this, rid, r: self._record(("completed", rid, response_type(r)))),
                           ON_FAILED(lambda this, rid, error: self._record(("failed", rid, error))),
                           ON_UPDATES(lambda this, r: self._record(("tables_updates", response_type(r))))]
        self._table = (ctypes.c_void_p * len(self._functions))(
            *[ctypes.cast(f, ctypes.c_void_p) for f in self._functions])
        self._object = ctypes.c_void_p(ctypes.addressof(self._table))
        self.ptr = ctypes.addressof(self._object)
        _KEPT.append(self)

    def _record(self, event):
        with self.cond:
            self.events.append(event)
            self.cond.notify_all()


class Desk:
    """A session with a response listener, its request factory and the calls the tests make."""

    def __init__(self, sim):
        self.sim = sim
        self.session = Session(Velvix(), sim)
        self.listener = ResponseListener()
        vcall(self.session.ptr, 12, None, [ctypes.c_void_p], self.listener.ptr)  # subscribeResponse
        self.factory = vcall(self.session.ptr, 16, ctypes.c_void_p, [])         # getRequestFactory

    def login(self):
        assert self.session.call("login", b"demo", b"demo", b"https://any.example/", b"Demo")
        for _ in range(3):
            self.sim.advance(50)
            assert self.sim.flush()

    def value_map(self, texts=(), ints=()):
        vm = vcall(self.factory, 11, ctypes.c_void_p, [])
        for param, value in texts:
            vcall(vm, 4, None, [ctypes.c_int, ctypes.c_char_p], param, value)
        for param, value in ints:
            vcall(vm, 6, None, [ctypes.c_int, ctypes.c_int], param, value)
        return vm

    def order_request(self, vm):
        return vcall(self.factory, 10, ctypes.c_void_p, [ctypes.c_void_p], vm)

    def refresh_request(self, table):
        return vcall(self.factory, 8, ctypes.c_void_p, [ctypes.c_int], table)

    def last_error(self):
        return vcall(self.factory, 12, ctypes.c_char_p, [])

    @staticmethod
    def request_id(request):
        return vcall(request, 4, ctypes.c_char_p, []).decode()

    def send(self, request):
        vcall(self.session.ptr, 18, None, [ctypes.c_void_p], request)

    def close(self):
        vcall(self.session.ptr, 13, None, [ctypes.c_void_p], self.listener.ptr)  # unsubscribeResponse
        release(self.factory)
        self.session.release()


@pytest.fixture
def desk(sim):
    sim.clock_virtual()
    d = Desk(sim)
    yield d
    d.close()
    sim.reset()


@pytest.mark.parametrize("how,type_int,request_id,error,expected", [
    ("completed", 8, "77", None, ("completed", b"77", 8)),
    ("completed", -1, None, None, ("completed", None, -1)),
    ("completed", 15, "5", None, ("completed", b"5", 15)),
    ("failed", 8, "9", None, ("failed", b"9", None)),
    ("failed", 8, "9", "no liquidity", ("failed", b"9", b"no liquidity")),
    ("tables_updates", 0, None, None, ("tables_updates", 0)),
])
def test_crafted_responses_reach_the_listeners_before_the_hook_returns(sim, desk, how, type_int, request_id,
                                                                       error, expected):
    response_id = sim.make_response(desk.session.id, type_int, request_id)
    assert sim.kind_of(response_id) == "IK7RResponse"
    assert sim.deliver_response(desk.session.id, response_id, how, error=error) is True
    assert desk.listener.events == [expected]
    assert sim.refcount(response_id) == 1, "the listener's call lent the response"


def test_crafted_response_hooks_reject_what_they_cannot_do(sim, desk):
    response_id = sim.make_response(desk.session.id, 1)
    with pytest.raises(ValueError):
        sim.deliver_response(desk.session.id, response_id, "sideways")
    with pytest.raises(ValueError):
        sim.set_response_reader(response_id, "createNothing", None)
    with pytest.raises(ValueError):
        sim.set_snapshot(response_id, [(45000.0, 1.0, 2.0)])
    with pytest.raises(ValueError):
        sim.set_response_properties(response_id, [("A",)])
    with pytest.raises(LookupError):
        sim.make_response(999999, 1)
    sim.reset()
    with pytest.raises(LookupError):
        sim.set_margin_result(response_id, True)  # crafted responses go with reset()


def test_held_requests_wait_for_complete_or_fail(sim, desk):
    desk.login()
    sim.hold_requests(True)
    offers, trades = desk.refresh_request(0), desk.refresh_request(3)
    ids = [desk.request_id(offers), desk.request_id(trades)]
    desk.send(offers)
    desk.send(trades)
    release(offers)
    release(trades)
    assert sim.flush()
    assert desk.listener.events == []
    assert [p[0] for p in sim.pending_requests()] == ids
    assert sim.pending_requests()[1][1] == {"table": 3, "account": None}

    assert sim.fail_request(ids[1], "try later") is True
    assert sim.complete_request(ids[0]) is True
    assert desk.listener.events == [("failed", ids[1].encode(), b"try later"), ("completed", ids[0].encode(), 3)]
    assert sim.pending_requests() == []
    assert sim.live("IK7RRequest") == 0, "the desk gave back its references"
    with pytest.raises(LookupError):
        sim.complete_request(ids[0])


def test_created_and_sent_requests_are_booked_with_their_parameters(sim, desk):
    desk.login()
    vm = desk.value_map(texts=[(COMMAND, b"CreateOrder"), (ORDER_TYPE, b"OM"), (OFFER_ID, None)],
                        ints=[(AMOUNT, 1000)])
    (vm_id,) = sim.objects("IK7RValueMap")
    assert sim.value_map_contents(vm_id) == {COMMAND: "CreateOrder", ORDER_TYPE: "OM", OFFER_ID: None, AMOUNT: 1000}
    request = desk.order_request(vm)
    request_id = desk.request_id(request)
    assert sim.requests_created() == [(request_id, "order", sim.value_map_contents(vm_id))]
    assert sim.requests_sent() == []
    sim.hold_requests(True)
    desk.send(request)
    assert [r[0] for r in sim.requests_sent()] == [request_id]
    release(request)
    release(vm)
    sim.reset()
    assert sim.requests_created() == [] and sim.pending_requests() == []
    assert sim.live("IK7RRequest") == 0


def test_scripted_factory_nulls_carry_the_scripted_last_error(sim, desk):
    vm = desk.value_map(texts=[(ORDER_TYPE, b"OM")])
    assert desk.order_request(vm) is None
    assert b"COMMAND" in desk.last_error()
    release(vm)
    sim.set_last_error("factory offline")
    sim.fault("IK7RRequestFactory::createRefreshTableRequest", "null")
    assert desk.refresh_request(0) is None
    assert desk.last_error() == b"factory offline"
    request = desk.refresh_request(0)
    assert request is not None and desk.last_error() == b""
    release(request)


def test_crafted_table_responses_take_rows_a_reader_type_and_null_readers(sim, desk):
    readers = vcall(desk.session.ptr, 17, ctypes.c_void_p, [])  # getResponseReaderFactory
    response_id = sim.make_response(desk.session.id, 3, "1")    # GET_OFFERS
    sim.set_table_rows(response_id, desk.session.id, 0)
    sim.set_table_reader_type(response_id, 3)

    def offers_reader():
        # Python holds no pointer to the response: read it where a listener is lent it.
        got = {}

        def on_completed(this, rid, r):
            reader = vcall(readers, 8, ctypes.c_void_p, [ctypes.c_void_p], r)  # createOffersTableReader
            got["reader"] = None if not reader else (vcall(reader, 4, ctypes.c_int, []),
                                                     vcall(reader, 7, ctypes.c_int, []))
            if reader:
                release(reader)
        listener = ResponseListener()
        listener._functions[4] = ON_COMPLETED(on_completed)
        listener._table[4] = ctypes.cast(listener._functions[4], ctypes.c_void_p)
        vcall(desk.session.ptr, 12, None, [ctypes.c_void_p], listener.ptr)
        assert sim.deliver_response(desk.session.id, response_id, "completed")
        vcall(desk.session.ptr, 13, None, [ctypes.c_void_p], listener.ptr)
        return got["reader"]

    assert offers_reader() == (9, 3), "the demo offers, reported as the scripted type"
    sim.set_response_reader(response_id, "createOffersTableReader", None)
    assert offers_reader() is None
    sim.set_response_reader(response_id, "createOffersTableReader", True)
    assert offers_reader() is not None
    with pytest.raises(LookupError):
        sim.set_table_rows(response_id, desk.session.id, 9)
    release(readers)
    assert sim.live("IK7RGenericTableResponseReader") == 0


def test_the_servers_system_properties_are_kept_in_the_world_and_sent_on_demand(sim, desk):
    properties = sim.system_properties()
    assert properties[0] == ("BASE_CRNCY", "USD")
    assert dict(properties)["SupportTickVolume"] == "Y"

    sim.set_system_property("BASE_CRNCY", "EUR")
    sim.set_system_property("X_NEW", None)
    assert sim.system_properties() == [("BASE_CRNCY", "EUR")] + properties[1:] + [("X_NEW", None)]
    with pytest.raises(ValueError):
        sim.set_system_property(None, "1")
    sim.set_system_properties([("A", "1"), ("B", None)])
    assert sim.system_properties() == [("A", "1"), ("B", None)]
    sim.set_system_properties(None)
    assert sim.system_properties() == properties

    assert sim.deliver_system_properties(desk.session.id, "SP-1") is True
    assert desk.listener.events == [("completed", b"SP-1", 9)]
    assert sim.live("IK7RResponse") == 0, "nobody kept the response"
    sim.set_system_property("BASE_CRNCY", "EUR")
    sim.reset()
    assert sim.system_properties() == properties

