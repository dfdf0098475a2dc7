"""tests/python/test_rollover_provider.py: the K7RRolloverProvider class and its listener against
the simulated server: rollover values against the offers' interest, the status a login and a
profile refresh load, and the listener the library holds by a plain pointer, only while it is
subscribed, even when Python lets go of it without unsubscribing."""

import textwrap

import pytest

import dedezi
from helpers import Recorder, log_in, new_session, run_python

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
Status = dedezi.K7RRolloverStatus


class Recording(dedezi.AK7RRolloverProviderListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_status_changed(self, status):
        self.calls.add(status)


def test_values_are_the_offers_interest(loaded):
    session, _, manager = loaded
    provider = session.rollover_provider
    account = manager.get_table(T.ACCOUNTS).get_row(0)
    offers = list(manager.get_table(T.OFFERS))
    values = [(provider.get_rollover_buy(offer, account), provider.get_rollover_sell(offer, account))
              for offer in offers]
    assert values == [(offer.buy_interest, offer.sell_interest) for offer in offers]
    assert any(buy != 0 for buy, _ in values) and any(sell != 0 for _, sell in values)


def test_plain_rows_and_missing_rows(loaded):
    session, _, manager = loaded
    provider = session.rollover_provider
    reader = session.response_reader_factory.create_reader(
        session.login_rules.get_table_refresh_response(T.OFFERS))
    plain = reader.get_row(0)
    account = manager.get_table(T.ACCOUNTS).get_row(0)
    assert type(plain) is dedezi.K7ROfferRow
    assert provider.get_rollover_buy(plain, account) == plain.buy_interest
    assert provider.get_rollover_sell(None, account) == 0.0
    assert provider.get_rollover_buy(plain, None) == 0.0


def test_a_login_and_each_refresh_load_the_profiles(sim):
    session, _ = new_session(sim)
    provider = session.rollover_provider
    assert provider.status is Status.ROLLOVER_NOT_LOADED
    listener = Recording()
    provider.subscribe(listener)
    log_in(session)
    loading_ready = [Status.ROLLOVER_LOADING, Status.ROLLOVER_READY]
    assert listener.calls.wait_for(2) == loading_ready
    assert all(type(status) is Status for status in listener.calls.items)
    assert provider.status is Status.ROLLOVER_READY
    provider.refresh_rollover_profiles()
    assert listener.calls.wait_for(4)[2:] == loading_ready
    session.logout()
    assert listener.calls.wait_for(5)[4:] == [Status.ROLLOVER_NOT_LOADED]
    provider.unsubscribe(listener)


def test_a_refresh_while_logged_out_loads_nothing(sim):
    session, _ = new_session(sim)
    provider = session.rollover_provider
    listener = Recording()
    provider.subscribe(listener)
    provider.refresh_rollover_profiles()
    assert sim.flush(10)
    assert listener.calls.items == [] and provider.status is Status.ROLLOVER_NOT_LOADED
    provider.unsubscribe(listener)


def test_the_library_holds_the_listener_only_while_subscribed(sim):
    session, sid = new_session(sim)
    provider = session.rollover_provider
    listener = Recording()
    provider.subscribe(listener)
    assert sim.service_subscribers(sid, "rollover") == 1
    assert sim.fire_rollover_status(sid, 2)
    provider.unsubscribe(listener)
    assert sim.service_subscribers(sid, "rollover") == 0
    assert sim.fire_rollover_status(sid, 1)
    assert sim.flush(10)
    assert listener.calls.items == [Status.ROLLOVER_READY]


# The start of a child interpreter's script: the sessions there before, and a listener class
# that keeps each status it hears.
REMEMBERING = textwrap.dedent("""
    import gc, threading, time, weakref
    import dedezi, velvix_sim as sim
    sim.reset()
    ids = set(sim.sessions())
    received = []

    class Remembering(dedezi.AK7RRolloverProviderListener):
        def on_status_changed(self, status):
            received.append(int(status))
""")


def test_an_unsubscribe_through_another_provider_keeps_the_listener_alive_and_heard():
    # The provider holds only a plain pointer to the listener's library-side object: had that
    # unsubscribe given back the subscription's reference, the listener could go while the first
    # provider still calls it (hence a child interpreter).
    code = REMEMBERING + textwrap.dedent("""
        first, second = dedezi.K7RTransport.create_session(), dedezi.K7RTransport.create_session()
        sid, other = sorted(set(sim.sessions()) - ids)
        listener = Remembering()
        first.rollover_provider.subscribe(listener)
        first.rollover_provider.subscribe(listener)
        second.rollover_provider.unsubscribe(listener)
        second.rollover_provider.unsubscribe(listener)
        gone = weakref.ref(listener)
        del listener
        gc.collect()
        print("alive", gone() is not None, "held", sim.service_subscribers(sid, "rollover"))
        print("fired", sim.fire_rollover_status(sid, 2), "received", received)
        first.rollover_provider.unsubscribe(gone())
        first.rollover_provider.unsubscribe(gone())
        gc.collect()
        print("gone", gone() is None, "held", sim.service_subscribers(sid, "rollover"))
        print("fired", sim.fire_rollover_status(sid, 1), "received", received)
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 0, err
    assert out.split() == ["alive", "True", "held", "2", "fired", "True", "received", "[2,", "2]",
                           "gone", "True", "held", "0", "fired", "True", "received", "[2,", "2]"]


def test_a_delivery_begun_before_the_unsubscribe_never_reaches_the_listener():
    # The provider has checked the listener and is about to call it (held there by the stand-in)
    # when the script unsubscribes it and lets it go; its objects are then gone, so a call that
    # still came would touch freed memory (hence a child interpreter).
    code = REMEMBERING + textwrap.dedent("""
        session = dedezi.K7RTransport.create_session()
        (sid,) = set(sim.sessions()) - ids
        listener = Remembering()
        session.rollover_provider.subscribe(listener)
        sim.fault("IK7RRolloverProviderListener::onStatusChanged", "value", 300)
        firing = threading.Thread(target=sim.fire_rollover_status, args=(sid, 2))
        firing.start()
        deadline = time.monotonic() + 10
        while not any(op == "IK7RRolloverProviderListener::onStatusChanged" for op, _ in sim.journal()):
            assert time.monotonic() < deadline, "the delivery never began"
            threading.Event().wait(0.001)
        session.rollover_provider.unsubscribe(listener)
        gone = weakref.ref(listener)
        del listener
        gc.collect()
        firing.join(20)
        print(gone() is None, received, sim.service_subscribers(sid, "rollover"))
    """)
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 0, err
    assert out.split() == ["True", "[]", "0"]


@pytest.mark.parametrize("cls, name, doc", [
    (dedezi.K7RRolloverProvider, None,
     "The class is used for obtaining the information about rollovers."),
    (dedezi.K7RRolloverProvider, "get_rollover_buy",
     "The method is used to get the value of Rollover Buy with specified parameters."),
    (dedezi.K7RRolloverProvider, "get_rollover_sell",
     "The method is used to get the value of Rollover Sell with specified parameters."),
    (dedezi.K7RRolloverProvider, "status",
     "The method is used to get the current status of a rollover."),
    (dedezi.K7RRolloverProvider, "subscribe",
     "The method is used for subscribing to rollover updating."),
    (dedezi.K7RRolloverProvider, "unsubscribe",
     "The method is used for unsubscribing from rollover updating."),
    (dedezi.K7RRolloverProvider, "refresh_rollover_profiles",
     "The method is used to refresh rollover profiles."),
    (dedezi.AK7RRolloverProviderListener, None,
     "The abstract class provides the method signature to process notifications about rollover "
     "updating."),
    (dedezi.AK7RRolloverProviderListener, "on_status_changed",
     "The method processes notifications about rollover status updating."),
])
def test_docstrings(cls, name, doc):
    obj = cls if name is None else vars(cls)[name]
    assert obj.__doc__.lstrip("\n") == doc


def test_no_python_constructor():
    with pytest.raises(RuntimeError):
        dedezi.K7RRolloverProvider()
