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
