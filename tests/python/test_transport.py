"""tests/python/test_transport.py: the K7RTransport class: plain functions called on the class,
the settings as the library receives them, the two static properties, session creation, the
finalize pair, and what sessions and requests do once the library is finalized (in interpreters
of their own: the library is finalized once per process)."""

import textwrap

import pytest

import dedezi
from helpers import LOGGED_IN_CHILD, run_python

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTransport

FUNCTIONS = ["create_session", "set_proxy", "set_ca_info", "set_number_of_reconnections",
             "finalize", "finalize_wrapper", "set_transport_modules_path"]


class TestShape:
    @pytest.mark.parametrize("name", FUNCTIONS)
    def test_members_are_plain_functions_of_the_class(self, name):
        member = vars(T)[name]
        assert not isinstance(member, (staticmethod, classmethod))
        assert type(member).__name__ == "function"

    def test_called_on_an_instance_the_instance_is_an_argument(self, sim):
        with pytest.raises(TypeError):
            T().create_session()

    @pytest.mark.parametrize("name", ["application_id", "closed_history_size"])
    def test_static_properties(self, name):
        assert type(vars(T)[name]).__name__ == "StaticProperty"


class TestSettings:
    @pytest.mark.parametrize("args, user, password", [
        (("proxy.local", 3128), None, None),
        (("proxy.local", 3128, "bob"), "bob", None),
        (("proxy.local", 3128, "bob", "secret"), "bob", "secret"),
        (("proxy.local", 3128, None, "secret"), None, "secret"),
    ])
    def test_set_proxy_overloads(self, sim, args, user, password):
        T.set_proxy(*args)
        settings = sim.transport_settings()
        assert (settings["proxy_host"], settings["proxy_port"]) == (b"proxy.local", 3128)
        assert (settings["proxy_user"], settings["proxy_password"]) == (
            user and user.encode(), password and password.encode())

    @pytest.mark.parametrize("call, key, value", [
        (lambda: T.set_ca_info("/etc/ca.pem"), "ca_info", b"/etc/ca.pem"),
        (lambda: T.set_ca_info(None), "ca_info", None),
        (lambda: T.set_number_of_reconnections(7), "reconnections", 7),
        (lambda: T.set_transport_modules_path("/opt/mods"), "modules_path", b"/opt/mods"),
    ])
    def test_settings_reach_the_library(self, sim, call, key, value):
        assert call() is None
        assert sim.transport_settings()[key] == value

    def test_closed_history_size(self, sim):
        assert T.closed_history_size == 1000
        T.closed_history_size = 100
        assert sim.transport_settings()["closed_history_size"] == 100
        assert T.closed_history_size == 100
        # Whatever the library reports is what Python reads.
        sim.fault("CK7RTransport::getClosedHistorySize", "value", 55)
        assert T.closed_history_size == 55

    @pytest.mark.parametrize("identifier, reported, expected", [
        (b"my-app", None, "my-app"),
        (b"my-app", 0, ""),
        (b"my-app", 2, "my"),
        (b"app\0", 4, "app\0"),
        (b"", None, ""),
    ])
    def test_application_id_keeps_exactly_the_counted_bytes(self, sim, identifier, reported,
                                                          expected):
        sim.set_application_id(identifier, reported)
        assert T.application_id == expected

    def test_application_id_write(self, sim):
        T.application_id = "written"
        assert sim.transport_settings()["application_id"] == b"written"
        assert T.application_id == "written"


class TestCreateSession:
    def test_session_with_one_reference(self, sim):
        before = set(sim.sessions())
        session = T.create_session()
        assert type(session) is dedezi.K7RSession
        (sid,) = set(sim.sessions()) - before
        assert sim.refcount(sid) == 1
        del session
        assert sid not in sim.sessions()
        assert sim.release_calls("IK7RSession") == 1

    def test_null_session_gives_none(self, sim):
        sim.fault("CK7RTransport::createSession", "null")
        assert T.create_session() is None


FINALIZE = textwrap.dedent("""
    import dedezi, velvix_sim as sim
    sim.reset()
    T = dedezi.K7RTransport
    T.finalize_wrapper()
    print(sim.finialize_calls(), T.create_session() is not None)
    T.finalize_wrapper()
    T.finalize()
    print(sim.finialize_calls(), T.create_session() is None)
    print([op for op, _ in sim.journal() if op.startswith("CK7RTransport::fin")])
""")


def test_finalize_wrapper_then_finalize():
    code, out, err = run_python(FINALIZE, timeout=30)
    assert code == 0, err
    assert out.splitlines() == ["0 True", "1 True", "['CK7RTransport::finialize']"]


AFTER_FINALIZE = LOGGED_IN_CHILD + textwrap.dedent("""
    Status = dedezi.AK7RSessionStatus.K7RSessionStatus
    OFFERS = dedezi.K7RTableType.OFFERS
    idle = dedezi.K7RTransport.create_session()  # never logged in
    answers, arrived = {}, threading.Condition()


    class Answers(dedezi.AK7RResponseListener):
        def _keep(self, request_id, outcome):
            with arrived:
                answers[request_id] = (outcome, threading.get_ident() == threading.main_thread().ident)
                arrived.notify_all()

        def on_request_completed(self, request_id, response):
            self._keep(request_id, "completed")

        def on_request_failed(self, request_id, error):
            self._keep(request_id, error)

        def on_tables_updates(self, response):
            pass


    def send(session):
        request = session.request_factory.create_refresh_table_request(OFFERS)
        session.send_request(request)
        return request.request_id


    def outcomes(*ids):
        with arrived:
            arrived.wait_for(lambda: all(i in answers for i in ids), 10)
            return [answers.get(i) for i in ids]


    listener = Answers()
    for s in (session, idle):
        s.subscribe_response(listener)
    sim.hold_requests(True)
    held = send(session)
    dedezi.K7RTransport.finalize()
    print([s.session_status == Status.DISCONNECTED for s in (session, idle)],
          dedezi.K7RTransport.create_session() is None)
    # Each fails at once, on a thread that is not the caller's.
    print(outcomes(held, send(session), send(idle)))

    sim.reset()
    print(session.session_status == Status.DISCONNECTED)
    assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
    for _ in range(200):
        if session.session_status == Status.CONNECTED:
            break
        threading.Event().wait(0.05)
    print(outcomes(send(session)))
    for s in (session, idle):
        s.unsubscribe_response(listener)
    session.logout()
""")


def test_a_finalized_library_fails_requests_and_reads_disconnected():
    code, out, err = run_python(AFTER_FINALIZE, timeout=30)
    assert code == 0, err
    failed = ("The library was finalized", False)
    assert out.splitlines() == [
        "[True, True] True",
        str([failed, failed, failed]),
        "True",
        str([("completed", False)]),
    ]


# A delivery in progress as finalize is called: one waiting for the interpreter lock (this thread
# keeps it, the switch interval being far away) or one inside a callback that runs on for a while.
# Either ends before finalize returns, and no callback runs after that.
FINALIZE_WHILE_DELIVERING = textwrap.dedent("""
    import sys, threading, time
    import dedezi, velvix_sim as sim
    sim.reset()
    T = dedezi.K7RTransport
    before = set(sim.sessions())
    session = T.create_session()
    (sid,) = set(sim.sessions()) - before
    entered, ended, late = threading.Event(), [], threading.Event()
    finalized = []

    class Slow(dedezi.AK7RSessionStatus):
        def on_session_status_changed(self, status):
            entered.set()
            if finalized:
                late.set()
            if CASE == "inside a callback":
                time.sleep(1.2)
            ended.append(time.monotonic())

        def on_login_failed(self, error):
            pass

    listener = Slow()
    session.subscribe_session_status(listener)
    T.finalize_wrapper()  # the worker stopped: finalize goes straight on to the library
    if CASE == "waiting for the lock":
        sys.setswitchinterval(1000)
        sim.fire_session_status(sid, 3, wait=False)
        spin = time.monotonic() + 0.2  # the delivery reaches the lock and waits for it
        while time.monotonic() < spin:
            pass
    else:
        sim.fire_session_status(sid, 3, wait=False)
        assert entered.wait(10)
    sim.fire_session_status(sid, 3, wait=False)  # still queued: dropped
    start = time.monotonic()
    T.finalize()
    returned = time.monotonic()
    finalized.append(returned)
    sys.setswitchinterval(0.005)
    print(len(ended), all(end <= returned for end in ended), returned - start < DURATION)
    print(late.wait(1.5), sim.finialize_calls())
""")


@pytest.mark.parametrize("case, duration", [("waiting for the lock", 0.5),
                                            ("inside a callback", 2.0)])
def test_a_delivery_in_progress_ends_before_finalize_returns(case, duration):
    code, out, err = run_python(f"CASE, DURATION = {case!r}, {duration}\n"
                                + FINALIZE_WHILE_DELIVERING, timeout=30)
    assert code == 0, err
    assert out.splitlines() == ["1 True True", "False 1"]


@pytest.mark.parametrize("name, doc", [
    (None, "The class is used to create sessions and to configure the transport parameters."),
    ("create_session", "Creates a transport session."),
    ("set_ca_info", "Sets the certificate authority to check the server certificate which Velvix "
                    "connects to (for non-Windows operating systems only)."),
    ("set_number_of_reconnections", "Sets the number of attempts to reconnect."),
    ("finalize", "Reserved for future use."),
    ("finalize_wrapper", "Reserved for future use."),
    ("set_transport_modules_path", "Reserved for future use."),
])
def test_docstrings(name, doc):
    obj = T if name is None else vars(T)[name]
    # The binding library opens a function's docstring with a newline.
    assert obj.__doc__.lstrip("\n") == doc


def test_each_set_proxy_overload_carries_the_docstring():
    docs = [line for line in T.set_proxy.__doc__.split("\n") if line]
    assert docs == ["Configures the proxy server settings."] * 3
