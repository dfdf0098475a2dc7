"""tests/python/test_velvix_sim.py: the test-control face of the simulated platform. The stand-in
trading library is reached directly through ctypes here (dedezi is not needed), so that what the
face reports can be checked against real calls into the same process-wide world."""

import ctypes
import os
import sys
import threading
import time

import pytest

sys.path.insert(0, os.environ["DEDEZI_BUILD_DIR"])

pytestmark = pytest.mark.timeout(60)

OLE_UNIX_EPOCH = 25569.0


class Velvix:
    """The stand-in's transport statics by their C++ symbols, and release through the table."""

    def __init__(self):
        lib = ctypes.CDLL(os.path.join(os.environ["DEDEZI_BUILD_DIR"], "libvelvix.so"))
        self.set_proxy = lib._ZN13CK7RTransport8setProxyEPKciS1_S1_
        self.set_proxy.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
        self.set_proxy.restype = None
        self.get_application_id = lib._ZN13CK7RTransport16getApplicationIDEPcRm
        self.get_application_id.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_size_t)]
        self.get_application_id.restype = None
        self.create_session = lib._ZN13CK7RTransport13createSessionEv
        self.create_session.argtypes = []
        self.create_session.restype = ctypes.c_void_p
        self.finialize = lib._ZN13CK7RTransport9finializeEv
        self.finialize.restype = None

    def read_application_id(self):
        size = ctypes.c_size_t(0)
        self.get_application_id(None, ctypes.byref(size))
        buffer = ctypes.create_string_buffer(size.value)
        self.get_application_id(buffer, ctypes.byref(size))
        return buffer.raw[: size.value]

    @staticmethod
    def release(obj):
        # Table of IAddRef: two destructor entries, addRef, release.
        table = ctypes.cast(ctypes.c_void_p(obj), ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
        return ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)(table[3])(obj)


@pytest.fixture
def velvix(sim):
    return Velvix()


DEFAULT_SETTINGS = {
    "proxy_host": None, "proxy_port": None, "proxy_user": None, "proxy_password": None,
    "ca_info": None, "reconnections": None, "modules_path": None,
    "application_id": b"", "closed_history_size": 1000,
}


def test_reset_restores_the_default_scenario(sim, velvix):
    velvix.set_proxy(b"h", 1, b"u", b"p")
    sim.set_application_id(b"abc", 4)
    sim.fault("CK7RTransport::createSession", "null", times=-1)
    sim.clock_virtual(0.0)
    velvix.finialize()

    sim.reset()

    assert sim.transport_settings() == DEFAULT_SETTINGS
    assert sim.journal() == []
    assert sim.finialize_calls() == 0
    real_now = OLE_UNIX_EPOCH + time.time() / 86400.0
    assert abs(sim.now() - real_now) < 60 / 86400.0
    session = velvix.create_session()
    assert session
    velvix.release(session)


@pytest.mark.parametrize("user,password", [(None, None), (b"u", None), (b"", b"")])
def test_setters_are_journaled_with_null_texts_kept(sim, velvix, user, password):
    velvix.set_proxy(b"proxy.local", 8080, user, password)
    assert sim.journal("CK7RTransport::setProxy") == [
        ("CK7RTransport::setProxy", (b"proxy.local", 8080, user, password))]
    settings = sim.transport_settings()
    assert (settings["proxy_host"], settings["proxy_port"]) == (b"proxy.local", 8080)
    assert (settings["proxy_user"], settings["proxy_password"]) == (user, password)


@pytest.mark.parametrize("script,reported,expected", [
    (b"app-7", None, b"app-7"),
    ("text", None, b"text"),
    (b"abc", 4, b"abc\x00"),
    (b"a\x00b", None, b"a\x00b"),
    (b"abc", 0, b""),
    (b"abcdef", 2, b"ab"),
])
def test_application_id_script_drives_the_two_pass_read(sim, velvix, script, reported, expected):
    sim.set_application_id(script, reported)
    assert velvix.read_application_id() == expected
    passes = sim.journal("CK7RTransport::getApplicationID")
    assert [args[0] for _, args in passes] == [False, True]


def test_live_counts_refcount_and_release_calls_follow_a_session(sim, velvix):
    before = set(sim.objects("IK7RSession"))
    session = velvix.create_session()
    (obj_id,) = set(sim.objects("IK7RSession")) - before
    assert sim.kind_of(obj_id) == "IK7RSession"
    assert sim.refcount(obj_id) == 1
    assert sim.live("IK7RSession") == len(before) + 1

    assert velvix.release(session) == 0
    assert sim.release_calls("IK7RSession") == 1
    assert sim.live("IK7RSession") == len(before)
    with pytest.raises(LookupError):
        sim.refcount(obj_id)


def test_faults_fire_once_or_persistently(sim, velvix):
    sim.fault("CK7RTransport::createSession", "null")
    assert velvix.create_session() is None
    session = velvix.create_session()
    assert session
    velvix.release(session)

    sim.fault("CK7RTransport::createSession", "null", times=-1)
    assert [velvix.create_session() for _ in range(3)] == [None, None, None]
    sim.clear_faults()
    session = velvix.create_session()
    assert session
    velvix.release(session)


@pytest.mark.parametrize("args,error", [
    (("Op", "explode"), ValueError),
    (("Op", "null", None, 0), ValueError),
    (("Op", "null", None, -2), ValueError),
    (("Op", "value", object()), TypeError),
])
def test_fault_rejects_bad_arguments(sim, args, error):
    with pytest.raises(error):
        sim.fault(*args)


def test_finialize_is_counted_and_ends_sessions_until_reset(sim, velvix):
    velvix.finialize()
    assert sim.finialize_calls() == 1
    assert velvix.create_session() is None
    assert sim.flush(1.0)
    assert [op for op, _ in sim.journal("CK7RTransport::")] == [
        "CK7RTransport::finialize", "CK7RTransport::createSession"]
    assert sim.thread_ids() == {}


def test_flush_and_thread_ids_name_the_dispatcher(sim):
    assert sim.flush()
    ids = sim.thread_ids()
    assert isinstance(ids["dispatcher"], int)
    assert ids["dispatcher"] != threading.get_native_id()


def test_flush_lets_other_python_threads_run(sim):
    # A flush from one thread must not stall another Python thread while it waits.
    done = threading.Event()
    worker = threading.Thread(target=lambda: (sim.flush(5.0), done.set()))
    worker.start()
    assert done.wait(10)
    worker.join(10)


def test_virtual_clock_stands_still_until_advanced(sim):
    sim.clock_virtual(44398.4375)
    assert sim.now() == 44398.4375
    sim.advance(6 * 3600 * 1000)
    assert sim.now() == pytest.approx(44398.6875, abs=1e-9)
    with pytest.raises(ValueError):
        sim.advance(-1)
    sim.clock_virtual()  # keeps the current virtual time
    assert sim.now() == pytest.approx(44398.6875, abs=1e-9)
    sim.clock_real()
    with pytest.raises(RuntimeError):
        sim.advance(1)


@pytest.mark.parametrize("descriptors,error", [
    ([("S1", "Main", "d")], ValueError),
    ([(1, "Main", "d", False)], TypeError),
])
def test_session_descriptors_reject_malformed_tuples(sim, descriptors, error):
    with pytest.raises(error):
        sim.set_session_descriptors(descriptors)


def test_strings_missing_takes_ids_all_or_none(sim):
    sim.strings_missing([1003, 1034])
    sim.strings_missing("all")
    sim.strings_missing(None)
    with pytest.raises(ValueError):
        sim.strings_missing("some")


# --- sessions --------------------------------------------------------------------------------

ADDREF = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)
DTOR = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
ON_INT = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int)
ON_TEXT = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
ON_TWO_TEXTS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p)
_KEPT_LISTENERS = []  # the library may still hold one after a failed test: never freed


class Listener:
    """A listener object built from ctypes callbacks, laid out as the library's listener
    interfaces are (two destructor entries, addRef, release, then the callbacks). It counts its
    references and records what it receives, in order."""

    def __init__(self, kind="status"):
        self.refs = 1
        self.events = []
        self.cond = threading.Condition()
        self.on_call = None

        def add_ref(this):
            self.refs += 1
            return self.refs

        def release(this):
            self.refs -= 1
            return self.refs

        callbacks = {
            "status": [ON_INT(lambda this, v: self._record(v)), ON_TEXT(lambda this, t: self._record(("failed", t)))],
            "properties": [ON_TWO_TEXTS(lambda this, n, v: self._record((n, v)))],
        }[kind]
        self._functions = [DTOR(lambda this: None), DTOR(lambda this: None), ADDREF(add_ref), ADDREF(release)]
        self._functions += callbacks
        self._table = (ctypes.c_void_p * len(self._functions))(
            *[ctypes.cast(f, ctypes.c_void_p) for f in self._functions])
        self._object = ctypes.c_void_p(ctypes.addressof(self._table))
        self.ptr = ctypes.addressof(self._object)
        _KEPT_LISTENERS.append(self)

    def _record(self, event):
        if self.on_call:
            self.on_call()
        with self.cond:
            self.events.append(event)
            self.cond.notify_all()

    def wait_events(self, n, timeout=10):
        with self.cond:
            return self.cond.wait_for(lambda: len(self.events) >= n, timeout)


class Session:
    """A stand-in session reached through its table: the slot of each operation is 4 (after the
    IAddRef entries) plus its place in IK7RSession."""

    SLOTS = {"login": 5, "loginWithToken": 6, "logout": 7, "subscribeSessionStatus": 8,
             "unsubscribeSessionStatus": 9, "subscribeSystemPropertiesChange": 14, "getServerTime": 24,
             "getToken": 26, "getSessionStatus": 30, "subscribeChartSessionStatus": 38,
             "unsubscribeChartSessionStatus": 39, "getChartSessionStatus": 40}
    TYPES = {
        "login": (ctypes.c_bool, [ctypes.c_char_p] * 4),
        "loginWithToken": (ctypes.c_bool, [ctypes.c_char_p] * 4),
        "logout": (None, []),
        "getServerTime": (ctypes.c_double, []),
        "getToken": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int]),
        "getSessionStatus": (ctypes.c_int, []),
        "getChartSessionStatus": (ctypes.c_int, []),
    }

    def __init__(self, velvix, sim):
        self.ptr = velvix.create_session()
        self.id = sim.sessions()[-1]
        self.velvix = velvix

    def call(self, op, *args):
        restype, argtypes = self.TYPES.get(op, (None, [ctypes.c_void_p]))
        table = ctypes.cast(ctypes.c_void_p(self.ptr), ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
        fn = ctypes.CFUNCTYPE(restype, ctypes.c_void_p, *argtypes)(table[self.SLOTS[op]])
        return fn(self.ptr, *args)

    def token(self):
        n = self.call("getToken", None, 0)
        if n < 0:
            return n
        buffer = ctypes.create_string_buffer(n)
        m = self.call("getToken", buffer, n)
        return m if m < 0 else buffer.raw[:m]

    def release(self):
        self.velvix.release(self.ptr)


@pytest.fixture
def session(sim, velvix):
    s = Session(velvix, sim)
    yield s
    s.release()


def login_events(sim, session, listener, user=b"demo", password=b"demo", steps=4):
    """Logs in on the virtual clock and lets `steps` login delays pass."""
    assert session.call("login", user, password, b"https://any.example/", b"Demo")
    assert sim.flush()
    for _ in range(steps):
        sim.advance(50)
        assert sim.flush()
    return listener.events


def test_sessions_lists_the_live_sessions_in_creation_order(sim, velvix):
    before = sim.sessions()
    a, b = Session(velvix, sim), Session(velvix, sim)
    assert sim.sessions() == before + [a.id, b.id]
    a.release()
    assert sim.sessions() == before + [b.id]
    b.release()
    with pytest.raises(LookupError):
        sim.subscribers(b.id, "session_status")


@pytest.mark.parametrize("kind,subscribe,fire,args,expected", [
    ("status", "subscribeSessionStatus", "fire_session_status", (42,), 42),
    ("status", "subscribeSessionStatus", "fire_login_failed", (None,), ("failed", None)),
    ("status", "subscribeSessionStatus", "fire_login_failed", ("bad",), ("failed", b"bad")),
    ("status", "subscribeChartSessionStatus", "fire_chart_session_status", (2,), 2),
    ("status", "subscribeChartSessionStatus", "fire_chart_session_login_failed", (b"x",), ("failed", b"x")),
    ("properties", "subscribeSystemPropertiesChange", "fire_system_property", ("BASE_CRNCY", None),
     (b"BASE_CRNCY", None)),
])
def test_fire_hooks_deliver_any_value_before_returning(sim, session, kind, subscribe, fire, args, expected):
    listener = Listener(kind)
    session.call(subscribe, listener.ptr)
    assert getattr(sim, fire)(session.id, *args) is True
    assert listener.events == [expected]  # delivered before the hook returned


def test_fire_without_wait_returns_while_the_call_is_still_to_come(sim, session):
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    gate = threading.Event()
    listener.on_call = lambda: gate.wait(10)
    assert sim.fire_session_status(session.id, 0, wait=False) is True  # held at the gate
    assert sim.fire_session_status(session.id, 3, wait=False) is True
    assert sim.fire_session_status(session.id, 4, timeout=0.05) is False
    gate.set()
    assert listener.wait_events(3)
    listener.on_call = None
    assert sim.flush()
    assert listener.events == [0, 3, 4]
    session.call("unsubscribeSessionStatus", listener.ptr)


def test_hooks_on_threads_deliver_beside_each_other_until_reset(sim, session, velvix):
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    both, threads = threading.Barrier(2, timeout=10), set()

    def meet():
        threads.add(threading.get_native_id())
        both.wait()

    listener.on_call = meet
    sim.hooks_on_threads(True)
    assert sim.fire_session_status(session.id, 1, wait=False) is True
    assert sim.fire_session_status(session.id, 2) is True  # its own delivery, beside the first
    assert listener.wait_events(2) and sorted(listener.events) == [1, 2]
    dispatcher = sim.thread_ids()["dispatcher"]
    assert len(threads) == 2 and dispatcher not in threads
    velvix.finialize()
    assert sim.fire_session_status(session.id, 3) is False
    sim.reset()
    threads.clear()
    listener.on_call = lambda: threads.add(threading.get_native_id())
    assert sim.fire_session_status(session.id, 4) is True
    assert threads == {sim.thread_ids()["dispatcher"]}
    session.call("unsubscribeSessionStatus", listener.ptr)


def test_subscribers_count_each_subscription_and_wait_for_one_from_another_thread(sim, session):
    listener = Listener()
    assert sim.subscribers(session.id, "response") == 0
    worker = threading.Thread(target=session.call, args=("subscribeSessionStatus", listener.ptr))
    worker.start()
    assert sim.wait_subscribers(session.id, "session_status", 1)
    worker.join(10)
    session.call("subscribeSessionStatus", listener.ptr)
    assert sim.subscribers(session.id, "session_status") == 2
    assert listener.refs == 3
    session.call("unsubscribeSessionStatus", listener.ptr)
    session.call("unsubscribeSessionStatus", listener.ptr)
    assert sim.wait_subscribers(session.id, "session_status", 0, timeout=0)
    assert listener.refs == 1
    assert sim.wait_subscribers(session.id, "chart_session_status", 1, timeout=0.01) is False
    with pytest.raises(ValueError):
        sim.subscribers(session.id, "nowhere")


def test_users_and_login_delay_shape_the_login(sim, session):
    sim.clock_virtual()
    sim.set_users({"alice": "pw"})
    sim.set_login_delay(200)
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    assert session.call("login", b"alice", b"pw", b"u", b"Demo")
    assert sim.flush()
    sim.advance(199)
    assert sim.flush()
    assert listener.events == [1]
    sim.advance(1)
    assert sim.flush()
    assert listener.events == [1, 3]
    assert session.call("getSessionStatus") == 3
    assert sim.journal("IK7RSession::login") == [("IK7RSession::login", (b"alice", b"pw", b"u", b"Demo"))]
    session.call("unsubscribeSessionStatus", listener.ptr)


@pytest.mark.parametrize("outcome,text,expected", [
    ("CONNECTED", None, [1, 3]),
    ("rejected", "Closed for the weekend", [1, ("failed", b"Closed for the weekend"), 0]),
    ("REJECTED", None, [1, ("failed", b"Login rejected by the server"), 0]),
    ("TRADING_SESSION_REQUESTED", None, [1, 2]),
    ("CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD", None, [1, 8]),
])
def test_login_outcome_scripts_accepted_logins(sim, session, outcome, text, expected):
    sim.clock_virtual()
    sim.set_login_outcome(outcome, text)
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    assert login_events(sim, session, listener) == expected
    session.call("unsubscribeSessionStatus", listener.ptr)


def test_login_outcome_rejects_unknown_names(sim):
    with pytest.raises(ValueError):
        sim.set_login_outcome("MAYBE")


def test_reset_brings_back_the_demo_server(sim, session):
    sim.set_users({})
    sim.set_login_outcome("REJECTED")
    sim.script_counts("getToken", [-1])
    sim.reset()
    sim.clock_virtual()
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    assert login_events(sim, session, listener) == [1, 3]
    assert session.token().startswith(b"VXT1.")
    session.call("unsubscribeSessionStatus", listener.ptr)


def test_script_counts_serve_one_pass_each_then_the_token_resumes(sim, session):
    sim.clock_virtual()
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    login_events(sim, session, listener)
    natural = session.token()
    sim.script_counts("getToken", [-2, 5])
    assert session.call("getToken", None, 0) == -2
    assert session.call("getToken", None, 0) == 5
    assert session.token() == natural
    with pytest.raises(ValueError):
        sim.script_counts("getServerTime", [1])
    session.call("unsubscribeSessionStatus", listener.ptr)


def test_server_time_is_fixed_or_follows_the_clock(sim, session):
    sim.clock_virtual(45000.5)
    sim.set_server_time(float("nan"))
    assert session.call("getServerTime") != session.call("getServerTime")  # NaN: fails conversion
    sim.set_server_time(40000.25)
    assert session.call("getServerTime") == 40000.25
    sim.set_server_time(None)
    assert session.call("getServerTime") == 45000.5


def test_ghosts_are_reached_after_unsubscribe_until_cleared(sim, session):
    listener = Listener()
    session.call("subscribeSessionStatus", listener.ptr)
    sim.ghost(session.id, "session_status")
    session.call("unsubscribeSessionStatus", listener.ptr)
    assert sim.subscribers(session.id, "session_status") == 0
    assert listener.refs == 2
    assert sim.fire_session_status(session.id, 3)
    assert sim.fire_ghost_session_status(session.id, 9)
    assert listener.events == [9]
    sim.clear_ghosts()
    assert listener.refs == 1
    assert sim.fire_ghost_session_status(session.id, 9)
    assert listener.events == [9]
