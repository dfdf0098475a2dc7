"""tests/python/test_session.py: the K7RSession class against the simulated server: logging in and
out with a status listener, the two-pass token and report URL reads with their error tables, the
server time, the listener subscriptions' references, and the trading session descriptors."""

import datetime
import gc
import sys
import threading
import weakref

import pytest

import dedezi
from helpers import Recorder, new_session

pytestmark = pytest.mark.timeout(60)

Status = dedezi.AK7RSessionStatus.K7RSessionStatus
URL, CONNECTION = "http://sim.local/Hosts.jsp", "Demo"
OLE_2024_01_02 = 45293.0


class StatusListener(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_session_status_changed(self, status):
        self.calls.add((status, threading.get_native_id()))

    def on_login_failed(self, error):
        self.calls.add(("failed", error))


class ChartListener(dedezi.AK7RChartSessionStatus):
    def on_chart_session_status_changed(self, status):
        pass

    def on_chart_session_login_failed(self, error):
        pass


class PropertiesListener(dedezi.AK7RSystemPropertiesListener):
    def on_change_property(self, name, value):
        pass


@pytest.fixture
def session(sim):
    return new_session(sim)


@pytest.fixture
def online(sim, session):
    """A session logged in as demo/demo, its status listener subscribed."""
    session, sid = session
    listener = StatusListener()
    session.subscribe_session_status(listener)
    assert session.login("demo", "demo", URL, CONNECTION) is True
    calls = listener.calls.wait_for(2)
    assert [status for status, _ in calls] == [Status.CONNECTING, Status.CONNECTED]
    yield session, sid, listener
    session.unsubscribe_session_status(listener)


def calls_of(sim, op):
    return [args for name, args in sim.journal() if name == op]


class TestLogin:
    def test_demo_login_server_time_token_and_logout(self, sim, online):
        session, sid, listener = online
        # Delivered on the library's own thread, not the caller's.
        threads = {thread for _, thread in listener.calls.items}
        assert threads == {sim.thread_ids()["dispatcher"]}
        assert threading.get_native_id() not in threads
        assert session.session_status == Status.CONNECTED

        now = session.server_time
        assert type(now) is datetime.datetime and now.tzinfo is None
        assert now.microsecond == 0
        token = session.token
        assert isinstance(token, str) and token

        session.logout()
        calls = listener.calls.wait_for(4)
        assert [status for status, _ in calls[2:]] == [Status.DISCONNECTING, Status.DISCONNECTED]
        assert session.session_status == Status.DISCONNECTED

    def test_wrong_password_reports_the_failure_then_disconnected(self, sim, session):
        session, sid = session
        listener = StatusListener()
        session.subscribe_session_status(listener)
        assert session.login("demo", "wrong", URL, CONNECTION) is True
        calls = listener.calls.wait_until(lambda c: c and c[-1][0] == Status.DISCONNECTED)
        assert calls and calls[-1][0] == Status.DISCONNECTED
        failures = [call[1] for call in calls if call[0] == "failed"]
        assert len(failures) == 1 and isinstance(failures[0], str) and failures[0]
        assert Status.CONNECTED not in [call[0] for call in calls]
        session.unsubscribe_session_status(listener)

    @pytest.mark.parametrize("call, op, args", [
        (lambda s: s.login_with_token("demo", "tok", URL, CONNECTION), "IK7RSession::loginWithToken",
         (b"demo", b"tok", URL.encode(), b"Demo")),
        (lambda s: s.login("u", None, URL, CONNECTION), "IK7RSession::login",
         (b"u", None, URL.encode(), b"Demo")),
        (lambda s: s.set_trading_session("id", "pin"), "IK7RSession::setTradingSession",
         (b"id", b"pin")),
        (lambda s: s.force_close(), "IK7RSession::forceClose", ()),
    ])
    def test_calls_reach_the_library_with_their_arguments(self, sim, session, call, op, args):
        session, _ = session
        call(session)
        assert calls_of(sim, op) == [args]


TOKEN_ERRORS = {-1: "Token is not supported", -2: "The buffer is too small",
                -3: "Session not logged", -4: "Session is not valid", -5: "Token not received",
                -6: "UnknownError", -7: "UnknownError", -8: "UnknownError", -9: "UnknownError",
                -10: "UnknownError", -12345: "UnknownError"}
REPORT_URL_ERRORS = {-1: "Report URL is not supported", -2: "The buffer is too small",
                     -3: "Session not logged", -4: "Session is not valid", -5: "Not enough memory",
                     -6: "Token not received", -7: "Session doesn't have auth id",
                     -8: "Expected subid, but not given", -9: "Expected account id, but not given",
                     -10: "UnknownError", -12345: "UnknownError"}

DAY_FROM, DAY_TO = datetime.datetime(2024, 1, 2), datetime.datetime(2024, 1, 31)
READS = {
    "getToken": (lambda s: s.token, "IK7RSession::getToken", TOKEN_ERRORS),
    "getReportUrl": (lambda s: s.get_report_url("ACC1", DAY_FROM, DAY_TO, "pdf", "en"),
                     "IK7RSession::getReportUrl", REPORT_URL_ERRORS),
}
ERROR_CASES = [(op, code, text, scripted)
               for op, (_, _, table) in READS.items()
               for code, text in table.items()
               for scripted in ([code], [7, code])]


class TestCountedReads:
    @pytest.mark.parametrize("op, code, text, scripted", ERROR_CASES,
                             ids=[f"{c[0]}{c[1]}-pass{len(c[3])}" for c in ERROR_CASES])
    def test_negative_count_raises_its_message(self, sim, session, op, code, text, scripted):
        session, _ = session
        read, journal_op, _ = READS[op]
        sim.script_counts(op, scripted)
        with pytest.raises(AttributeError) as raised:
            read(session)
        assert str(raised.value) == text
        # Size pass with no buffer, then (when it got that far) the buffer of the counted size.
        passes = [(args[0], args[1]) for args in calls_of(sim, journal_op)]
        assert passes == [(False, 0), (True, 7)][:len(scripted)]

    @pytest.mark.parametrize("op", list(READS))
    def test_empty_size_gives_an_empty_text_after_a_second_call(self, sim, session, op):
        session, _ = session
        read, journal_op, _ = READS[op]
        sim.script_counts(op, [0, 0])
        assert read(session) == ""
        assert [(args[0], args[1]) for args in calls_of(sim, journal_op)] == [(False, 0), (True, 0)]

    @pytest.mark.parametrize("op", list(READS))
    def test_text_keeps_exactly_the_counted_bytes(self, sim, online, op):
        session, _, _ = online
        read, _, _ = READS[op]
        full = read(session)
        assert full
        sim.script_counts(op, [len(full), 3])
        assert read(session) == full[:3]
        # The zero-filled buffer's bytes count as text too.
        sim.script_counts(op, [len(full) + 2, len(full) + 2])
        assert read(session) == full + "\0\0"

    def test_not_logged_in(self, session):
        session, _ = session
        with pytest.raises(AttributeError, match="^Session not logged$"):
            session.token


class TestReportUrlDates:
    def test_dates_reach_the_library_as_ole_dates(self, sim, online):
        session, _, _ = online
        url = session.get_report_url("ACC1", DAY_FROM, datetime.datetime(2024, 1, 2, 12), "pdf",
                                     "en")
        assert "2024-01-02" in url
        (size_pass, buffer_pass) = calls_of(sim, "IK7RSession::getReportUrl")
        assert size_pass[2:] == (b"ACC1", OLE_2024_01_02, OLE_2024_01_02 + 0.5, b"pdf", b"en")
        assert buffer_pass[:2] == (True, len(url))

    @pytest.mark.parametrize("date_from, date_to", [("2024-01-02", DAY_TO), (DAY_FROM, 45293.0),
                                                    (None, DAY_TO)])
    def test_not_a_datetime_is_refused_before_the_library(self, sim, session, date_from, date_to):
        session, _ = session
        with pytest.raises(ValueError, match="^Expected DateTime type$"):
            session.get_report_url("ACC1", date_from, date_to, "pdf", "en")
        assert calls_of(sim, "IK7RSession::getReportUrl") == []

    def test_from_is_converted_before_to_is_looked_at(self, sim, session):
        session, _ = session
        sim.fault("CK7RDateUtils::CTimeToOleTime", "false")
        with pytest.raises(ValueError, match="^Can't convert time$"):
            session.get_report_url("ACC1", DAY_FROM, "not a date", "pdf", "en")
        assert calls_of(sim, "IK7RSession::getReportUrl") == []


class TestServerTime:
    @pytest.mark.parametrize("ole, expected", [
        (OLE_2024_01_02 + 0.5, datetime.datetime(2024, 1, 2, 12)),
        (OLE_2024_01_02 + 0.4 / 86400, datetime.datetime(2024, 1, 2)),
        (OLE_2024_01_02 + 1.6 / 86400, datetime.datetime(2024, 1, 2, 0, 0, 2)),
    ])
    def test_whole_seconds(self, sim, session, ole, expected):
        session, _ = session
        sim.set_server_time(ole)
        assert session.server_time == expected
        assert session.server_time.microsecond == 0

    def test_follows_the_simulated_clock(self, sim, session):
        session, _ = session
        sim.clock_virtual(OLE_2024_01_02)
        sim.advance(90_500)
        assert session.server_time == datetime.datetime(2024, 1, 2, 0, 1, 31)

    def test_failed_conversion_leaves_day_zero(self, sim, session):
        session, _ = session
        sim.fault("CK7RDateUtils::OleTimeToCTime", "false")
        with pytest.raises(IndexError, match="Day of month value is out of range 1..31"):
            session.server_time


SUBSCRIPTIONS = {
    "session_status": (StatusListener, "subscribe_session_status", "unsubscribe_session_status"),
    "chart_session_status": (ChartListener, "subscribe_chart_session_status",
                             "unsubscribe_chart_session_status"),
    "system_properties": (PropertiesListener, "subscribe_system_properties_change",
                          "unsubscribe_system_properties_change"),
}


class TestSubscriptions:
    @pytest.mark.parametrize("point", list(SUBSCRIPTIONS))
    def test_references_follow_subscriptions(self, sim, session, point):
        session, sid = session
        make, subscribe, unsubscribe = SUBSCRIPTIONS[point]
        listener = make()
        own = sys.getrefcount(listener)
        session_refs = sim.refcount(sid)
        steps = [(subscribe, 1, 1), (subscribe, 2, 2), (unsubscribe, 1, 1), (unsubscribe, 0, 0),
                 (unsubscribe, 0, 0)]
        for method, extra, held in steps:
            getattr(session, method)(listener)
            assert sys.getrefcount(listener) - own == extra, method
            assert sim.subscribers(sid, point) == held
        assert sim.refcount(sid) == session_refs
        # Nothing keeps the listener once Python lets go of it.
        gone = weakref.ref(listener)
        del listener
        gc.collect()
        assert gone() is None

    @pytest.mark.parametrize("point", list(SUBSCRIPTIONS))
    def test_never_subscribed_unsubscribe_gives_back_nothing(self, sim, session, point):
        session, sid = session
        make, _, unsubscribe = SUBSCRIPTIONS[point]
        listener = make()
        own = sys.getrefcount(listener)
        getattr(session, unsubscribe)(listener)
        assert sys.getrefcount(listener) == own

    @pytest.mark.parametrize("method", [m for _, s, u in SUBSCRIPTIONS.values() for m in (s, u)])
    def test_none_is_refused_before_the_library(self, sim, session, method):
        session, _ = session
        sim.clear_journal()
        with pytest.raises(ValueError, match="^The listener must not be None$"):
            getattr(session, method)(None)
        assert sim.journal() == []

    def test_a_listener_of_the_other_kind_is_refused(self, session):
        session, _ = session
        with pytest.raises(TypeError):
            session.subscribe_system_properties_change(StatusListener())

    def test_a_status_listener_of_the_wrong_kind_is_refused(self, session):
        session, _ = session
        with pytest.raises(TypeError):
            session.subscribe_session_status(ChartListener())
        with pytest.raises(TypeError):
            session.subscribe_chart_session_status(StatusListener())


class TestProperties:
    @pytest.mark.parametrize("name, default, value", [
        ("requests_timeout", 30000, 1234),
        ("price_update_mode", dedezi.K7RPriceUpdateMode.DEFAULT, dedezi.K7RPriceUpdateMode.NO_PRICE),
        ("price_refresh_rate", 1000, 2000),
        ("chart_session_mode", dedezi.K7RChartSessionMode.NO_CHART_SESSION,
         dedezi.K7RChartSessionMode.ATTACHED),
    ])
    def test_read_write(self, session, name, default, value):
        session, _ = session
        assert getattr(session, name) == default
        setattr(session, name, value)
        assert getattr(session, name) == value
        assert type(getattr(session, name)) is type(value)

    def test_read_only_values_before_login(self, session):
        session, _ = session
        assert session.session_status is Status.DISCONNECTED
        assert session.chart_session_status is \
            dedezi.AK7RChartSessionStatus.K7RChartSessionStatus.DISCONNECTED
        assert (session.min_price_refresh_rate, session.max_price_refresh_rate) == (100, 5000)
        assert session.session_sub_id is None and session.user_name is None
        assert session.user_kind == dedezi.K7RUserKind.UNDEFINED

    def test_texts_after_login(self, online):
        session, _, _ = online
        assert session.user_name == "demo"
        assert isinstance(session.session_sub_id, str) and session.session_sub_id
        assert session.user_kind != dedezi.K7RUserKind.UNDEFINED


# The services a session hands out, by property: the library object's kind.
SERVICES = {"login_rules": "IK7RLoginRules", "time_converter": "IK7RTimeConverter",
            "commissions_provider": "IK7RCommissionsProvider",
            "rollover_provider": "IK7RRolloverProvider"}


class TestServices:
    def test_login_rules_only_while_logged_in(self, sim, session):
        session, _ = session
        assert session.login_rules is None
        listener = StatusListener()
        session.subscribe_session_status(listener)
        session.login("demo", "demo", URL, CONNECTION)
        listener.calls.wait_until(lambda calls: calls[-1:] and calls[-1][0] == Status.CONNECTED)
        assert type(session.login_rules) is dedezi.K7RLoginRules
        session.logout()
        listener.calls.wait_until(lambda calls: calls[-1][0] == Status.DISCONNECTED)
        assert session.login_rules is None
        session.unsubscribe_session_status(listener)

    @pytest.mark.parametrize("name", ["time_converter", "commissions_provider", "rollover_provider"])
    def test_services_before_login(self, session, name):
        session, _ = session
        assert type(getattr(session, name)).__name__ == "K7R" + name.title().replace("_", "")

    @pytest.mark.parametrize("name, kind", [("commissions_provider", "IK7RCommissionsProvider"),
                                            ("rollover_provider", "IK7RRolloverProvider")])
    def test_one_provider_of_each_kind_per_session(self, sim, session, name, kind):
        session, _ = session
        before = set(sim.objects(kind))
        first, second = getattr(session, name), getattr(session, name)
        assert first is not second
        assert len(set(sim.objects(kind)) - before) == 1

    @pytest.mark.parametrize("name", list(SERVICES))
    def test_null_service_gives_none(self, sim, online, name):
        session, _, _ = online
        op = "IK7RSession::get" + name.title().replace("_", "")
        sim.fault(op, "null")
        assert getattr(session, name) is None

    @pytest.mark.parametrize("name, kind", list(SERVICES.items()))
    def test_each_read_holds_one_reference_and_gives_it_back(self, sim, online, name, kind):
        session, _, _ = online
        service = getattr(session, name)
        released = sim.release_calls(kind)
        del service
        gc.collect()
        assert sim.release_calls(kind) == released + 1


class TestTradingSessionDescriptors:
    def test_collection(self, sim, session):
        session, _ = session
        sim.set_session_descriptors([("s1", "One", "first", True), ("s2", "Two", None, False),
                                     ("s3", "Three", "third", False)])
        descriptors = session.trading_session_descriptors
        assert type(descriptors) is dedezi.K7RSessionDescriptorCollection
        assert descriptors.size == len(descriptors) == 3
        assert descriptors.get(3) is None
        rows = [(d.id, d.name, d.description, d.requires_pin) for d in descriptors]
        assert rows == [("s1", "One", "first", True), ("s2", "Two", None, False),
                        ("s3", "Three", "third", False)]
        assert type(descriptors.get(0)) is dedezi.K7RSessionDescriptor

    def test_collection_holds_one_reference_and_releases_it(self, sim, session):
        session, _ = session
        descriptors = session.trading_session_descriptors
        (collection_id,) = sim.objects("IK7RSessionDescriptorCollection")
        assert sim.refcount(collection_id) == 1
        del descriptors
        gc.collect()
        assert sim.live("IK7RSessionDescriptorCollection") == 0

    def test_no_collection_gives_none(self, sim, session):
        session, _ = session
        sim.set_session_descriptors(None)
        assert session.trading_session_descriptors is None


SESSION_DOCS = {
    None: "A session object.",
    "trading_session_descriptors": "Gets the list of trading session descriptors.",
    "login": "Starts the connection with the specified trade server.",
    "login_with_token": "Starts the connection with the specified trade server using SSO token",
    "logout": "Starts to close the existing connection with the trade server.",
    "set_trading_session": "Sets the trading session if a trading session is requested.",
    "requests_timeout": "Gets or sets timeout in milliseconds for all requests.",
    "price_update_mode": "Gets or sets the current price update mode.",
    "server_time": "Gets the current server time.",
    "session_status": "Gets current session status.",
    "price_refresh_rate": "Gets or sets the price refresh rate.",
    "min_price_refresh_rate": "Reserved for future use.",
    "max_price_refresh_rate": "Reserved for future use.",
    "session_sub_id": "Gets the sub ID of the current session.",
    "chart_session_mode": "Gets or sets the chart session mode.",
    "chart_session_status": "Gets or sets the current chart session status.",
    "user_kind": "Gets the user kind.",
    "user_name": "Reserved for future use.",
    "force_close": "Reserved for future use.",
    "get_report_url": "Gets a Combined Account Statement (CAS) report URL.",
    "token": "Gets the token.",
    "subscribe_session_status": "Subscribes a session status listener.",
    "unsubscribe_session_status": "Unsubscribes a session status listener.",
    "subscribe_chart_session_status": "Subscribes a chart session status listener.",
    "unsubscribe_chart_session_status": "Unsubscribes a chart session status listener.",
    "login_rules": "Gets the rules used for the currently established session.",
    "time_converter": "Gets an instance of the date/time converter.",
    "commissions_provider": "Returns an instance of K7RCommissionsProvider, which is used to get "
                            "commissions data.",
    "rollover_provider": "Returns an instance of K7RRolloverProvider, which is used to get "
                         "rollover data.",
    "subscribe_system_properties_change": "Reserved for future use.",
    "unsubscribe_system_properties_change": "Reserved for future use.",
}


@pytest.mark.parametrize("name, doc", list(SESSION_DOCS.items()))
def test_docstrings(name, doc):
    obj = dedezi.K7RSession if name is None else vars(dedezi.K7RSession)[name]
    # The binding library opens a function's docstring with a newline.
    assert obj.__doc__.lstrip("\n") == doc


def test_members_in_registration_order():
    assert [name for name in vars(dedezi.K7RSession) if not name.startswith("_")] == [
        "login_rules", "trading_session_descriptors", "request_factory", "response_reader_factory",
        "time_converter", "table_manager", "get_table_manager_by_account", "commissions_provider",
        "rollover_provider", "login", "login_with_token", "logout", "set_trading_session",
        "send_request", "requests_timeout", "price_update_mode", "server_time", "session_status",
        "price_refresh_rate", "min_price_refresh_rate", "max_price_refresh_rate", "session_sub_id",
        "chart_session_mode", "chart_session_status", "user_kind", "user_name", "force_close",
        "get_report_url", "token", "subscribe_session_status", "unsubscribe_session_status",
        "subscribe_response", "unsubscribe_response", "subscribe_system_properties_change",
        "unsubscribe_system_properties_change", "use_table_manager",
        "subscribe_chart_session_status", "unsubscribe_chart_session_status"]


@pytest.mark.parametrize("cls, name, doc", [
    (dedezi.K7RSessionDescriptor, None, "A trading session descriptor."),
    (dedezi.K7RSessionDescriptor, "id", "Gets the unique identifier of the trading session."),
    (dedezi.K7RSessionDescriptor, "name", "Gets the user-friendly name of the trading session."),
    (dedezi.K7RSessionDescriptor, "description",
     "Gets the detailed description of the trading session."),
    (dedezi.K7RSessionDescriptor, "requires_pin",
     "Gets the flag indicating whether a PIN code is required for this trading session."),
    (dedezi.K7RSessionDescriptorCollection, None,
     "A collection of the trading session descriptors."),
    (dedezi.K7RSessionDescriptorCollection, "size",
     "Gets the number of trading session descriptors."),
    (dedezi.K7RSessionDescriptorCollection, "__len__", "Reserved for future use."),
    (dedezi.K7RSessionDescriptorCollection, "get", "Gets a trading session descriptor by its index."),
])
def test_descriptor_docstrings(cls, name, doc):
    obj = cls if name is None else vars(cls)[name]
    assert obj.__doc__.lstrip("\n") == doc


def test_no_python_constructor():
    with pytest.raises(RuntimeError):
        dedezi.K7RSession()
