"""tests/python/test_system_properties_listener.py: the AK7RSystemPropertiesListener class: the
session's property changes reach its override as two texts, on the library's thread."""

import threading

import pytest

import dedezi
from helpers import Recorder, new_session

pytestmark = pytest.mark.timeout(60)


class Recording(dedezi.AK7RSystemPropertiesListener):
    def __init__(self):
        super().__init__()
        self.calls = Recorder()

    def on_change_property(self, name, value):
        self.calls.add((name, value, threading.get_native_id()))


def test_name_and_value_arrive_as_two_texts_in_order(sim):
    session, sid = new_session(sim)
    listener = Recording()
    session.subscribe_system_properties_change(listener)
    assert sim.fire_system_property(sid, "BASE_CRNCY", "EUR")
    assert sim.fire_system_property(sid, "END_TRADING_DAY", None)
    calls = listener.calls.wait_for(2)
    assert [call[:2] for call in calls] == [("BASE_CRNCY", "EUR"), ("END_TRADING_DAY", None)]
    assert {call[2] for call in calls} == {sim.thread_ids()["dispatcher"]}
    session.unsubscribe_system_properties_change(listener)


def test_a_change_is_the_servers_own_for_later_responses(sim):
    session, sid = new_session(sim)
    listener = Recording()
    session.subscribe_system_properties_change(listener)
    assert sim.fire_system_property(sid, "END_TRADING_DAY", "16:00:00")
    assert listener.calls.wait_for(1)[0][:2] == ("END_TRADING_DAY", "16:00:00")
    assert ("END_TRADING_DAY", "16:00:00") in sim.system_properties()
    session.unsubscribe_system_properties_change(listener)


@pytest.mark.parametrize("obj, doc", [
    (dedezi.AK7RSystemPropertiesListener, "The abstract class..."),
    (dedezi.AK7RSystemPropertiesListener.on_change_property, "Reserved for future use."),
])
def test_docstrings(obj, doc):
    assert obj.__doc__.lstrip("\n") == doc
