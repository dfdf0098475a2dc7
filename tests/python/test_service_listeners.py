"""tests/python/test_service_listeners.py: the listeners of the session's services on the callback
bridge (the commission provider listener, the rollover provider listener and the system
properties listener): the reports of a missing override and of an override that raised, the
references their subscriptions hold, the refusal of None, and an unsubscribe that waits for a
running callback after which nothing more arrives."""

import gc
import re
import sys
import textwrap
import weakref

import pytest

import dedezi
from helpers import new_session, run_python

pytestmark = pytest.mark.timeout(60)

REPORT = re.compile(r"Exception (?P<text>.*?) in function '(?P<function>\w+)' in file "
                    r"'(?P<file>[^']*)' line (?P<line>\d+)\n", re.DOTALL)


class Kind:
    """One callback of one listener class: where it subscribes, how the library fires it, and
    where its reports point."""

    def __init__(self, base, target, subscribe, unsubscribe, fire, method, arity, report, file,
                 line, point):
        self.base, self.target, self.fire = base, target, fire
        self.subscribe, self.unsubscribe = subscribe, unsubscribe
        self.method, self.arity, self.report, self.file, self.line = method, arity, report, file, line
        self.point = point  # (velvix_sim counter, its point)


KINDS = {
    "commission_status": Kind(
        "AK7RCommissionProviderListener", "session.commissions_provider", "subscribe", "unsubscribe",
        "sim.fire_commission_status(sid, 1)", "on_change_commission_provider_status", 1,
        "onChangeCommissionProviderStatus", "source\\K7R\\K7RCommissionProviderListener", 15,
        ("service_subscribers", "commissions")),
    "need_update": Kind(
        "AK7RCommissionProviderListener", "session.commissions_provider", "subscribe", "unsubscribe",
        "sim.fire_need_update_commissions(sid)", "on_need_update_commissions", 0,
        "onNeedUpdateCommissions", "source\\K7R\\K7RCommissionProviderListener", 29,
        ("service_subscribers", "commissions")),
    "rollover_status": Kind(
        "AK7RRolloverProviderListener", "session.rollover_provider", "subscribe", "unsubscribe",
        "sim.fire_rollover_status(sid, 2)", "on_status_changed", 1, "onStatusChanged",
        "source\\K7R\\K7RRolloverProviderListener", 14, ("service_subscribers", "rollover")),
    "property_change": Kind(
        "AK7RSystemPropertiesListener", "session", "subscribe_system_properties_change",
        "unsubscribe_system_properties_change", "sim.fire_system_property(sid, 'BASE_CRNCY', 'EUR')",
        "on_change_property", 2, "onChangeProperty", "source\\K7R\\K7RSystemPropertiesListener", 14,
        ("subscribers", "system_properties")),
}
# One kind per listener class, for what does not depend on the callback.
CLASSES = ["commission_status", "rollover_status", "property_change"]


def fire(kind, sim, sid):
    eval(kind.fire, {"sim": sim, "sid": sid})


def target(kind, session):
    return eval(kind.target, {"session": session})


def held(kind, sim, sid):
    counter, point = kind.point
    return getattr(sim, counter)(sid, point)


def listener_class(kind, override=None):
    """A subclass of the kind's base with `override` as its method, or none at all."""
    members = {} if override is None else {kind.method: override}
    return type("Listener", (getattr(dedezi, kind.base),), members)


@pytest.mark.parametrize("name", list(KINDS))
def test_missing_override_is_reported_with_its_line(sim, capfd, name):
    kind = KINDS[name]
    session, sid = new_session(sim)
    listener = listener_class(kind)()
    getattr(target(kind, session), kind.subscribe)(listener)
    capfd.readouterr()
    fire(kind, sim, sid)
    assert sim.flush(10)
    reports = [(m["text"].strip(), m["function"], m["file"], int(m["line"]))
               for m in REPORT.finditer(capfd.readouterr().err)]
    assert reports == [(f"Exception: Pure virtual method called: '{kind.base}::{kind.method}'",
                        kind.report, kind.file, kind.line)]
    getattr(target(kind, session), kind.unsubscribe)(listener)


@pytest.mark.parametrize("name", list(KINDS))
def test_raising_override_is_reported_and_the_next_callback_runs(sim, capfd, name):
    kind = KINDS[name]
    session, sid = new_session(sim)
    calls = []

    def raising(self, *args):
        assert len(args) == kind.arity
        calls.append(args)
        if len(calls) == 1:
            raise ValueError("boom in the override")

    listener = listener_class(kind, raising)()
    getattr(target(kind, session), kind.subscribe)(listener)
    capfd.readouterr()
    fire(kind, sim, sid)
    fire(kind, sim, sid)
    assert sim.flush(10)
    assert len(calls) == 2
    (report,) = REPORT.finditer(capfd.readouterr().err)
    assert "ValueError: boom in the override" in report["text"]
    assert (report["function"], report["file"], int(report["line"])) == \
        (kind.report, kind.file, kind.line + 4)
    getattr(target(kind, session), kind.unsubscribe)(listener)


@pytest.mark.parametrize("name", CLASSES)
def test_references_follow_subscriptions(sim, name):
    kind = KINDS[name]
    session, sid = new_session(sim)
    listener = listener_class(kind, lambda self, *args: None)()
    own = sys.getrefcount(listener)
    steps = [(kind.subscribe, 1), (kind.subscribe, 2), (kind.unsubscribe, 1),
             (kind.unsubscribe, 0), (kind.unsubscribe, 0)]
    for method, count in steps:
        getattr(target(kind, session), method)(listener)
        assert (sys.getrefcount(listener) - own, held(kind, sim, sid)) == (count, count), method
    gone = weakref.ref(listener)
    del listener
    gc.collect()
    assert gone() is None


@pytest.mark.parametrize("name", CLASSES)
@pytest.mark.parametrize("which", ["subscribe", "unsubscribe"])
def test_none_is_refused_before_the_library(sim, name, which):
    kind = KINDS[name]
    session, _ = new_session(sim)
    method = getattr(target(kind, session), getattr(kind, which))
    sim.clear_journal()
    with pytest.raises(ValueError, match="^The listener must not be None$"):
        method(None)
    assert [op for op, _ in sim.journal() if "ubscribe" in op] == []


@pytest.mark.parametrize("name", CLASSES)
def test_a_listener_of_another_kind_is_refused(sim, name):
    kind = KINDS[name]
    session, _ = new_session(sim)
    other = KINDS[CLASSES[(CLASSES.index(name) + 1) % len(CLASSES)]]
    with pytest.raises(TypeError):
        getattr(target(kind, session), kind.subscribe)(listener_class(other)())


# A callback blocked in its override: the unsubscribe, from another thread, returns only once the
# callback ended, and the library calls the listener no more. In a child interpreter: a wrong
# wait deadlocks.
UNSUBSCRIBE_WHILE_RUNNING = """
    import threading
    import dedezi, velvix_sim as sim
    sim.reset()
    before = set(sim.sessions())
    session = dedezi.K7RTransport.create_session()
    (sid,) = set(sim.sessions()) - before
    entered, release, unsubscribed = threading.Event(), threading.Event(), threading.Event()
    order = []

    class Blocking(dedezi.{base}):
        def {method}(self, *args):
            order.append("start")
            if len(order) == 1:
                entered.set()
                release.wait(10)
                order.append("end")

    listener = Blocking()
    {target}.{subscribe}(listener)
    firing = threading.Thread(target=lambda: {fire})
    firing.start()
    assert entered.wait(10)

    def unsubscribe():
        {target}.{unsubscribe}(listener)
        order.append("unsubscribed")
        unsubscribed.set()

    worker = threading.Thread(target=unsubscribe)
    worker.start()
    print("early", unsubscribed.wait(0.5))
    release.set()
    assert unsubscribed.wait(10)
    worker.join(10)
    firing.join(10)
    {fire}
    assert sim.flush(10)
    print("order", order == ["start", "end", "unsubscribed"])
"""


@pytest.mark.parametrize("name", CLASSES)
def test_unsubscribe_waits_for_the_running_callback_then_nothing_more_arrives(name):
    kind = KINDS[name]
    code = UNSUBSCRIBE_WHILE_RUNNING.format(
        base=kind.base, method=kind.method, target=kind.target, subscribe=kind.subscribe,
        unsubscribe=kind.unsubscribe, fire=kind.fire)
    returncode, out, err = run_python(textwrap.dedent(code), timeout=30)
    assert returncode == 0, err
    assert out.split() == ["early", "False", "order", "True"]
