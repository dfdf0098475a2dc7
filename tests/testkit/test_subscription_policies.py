"""The subscribe and unsubscribe call policies keep a listener alive exactly while it holds
subscription references, one per subscription (the object subscribed to, the update type, the
listener), and use_table_manager keeps only its latest listener."""
import gc
import sys
import weakref

import pytest

import dedezi_testkit as kit


class Listener:
    pass


# (subscribe, unsubscribe, arguments before the listener): listener first, then listener second.
FORMS = [
    pytest.param("subscribe", "unsubscribe", (), id="listener-at-1"),
    pytest.param("subscribe_update", "unsubscribe_update", (3,), id="listener-at-2"),
]


@pytest.fixture
def subscriber():
    return kit.Subscriber()


def call(subscriber, name, lead, listener):
    return getattr(subscriber, name)(*lead, listener)


@pytest.mark.parametrize("sub, unsub, lead", FORMS)
def test_each_subscribe_holds_one_reference_until_its_unsubscribe(subscriber, sub, unsub, lead):
    listener = Listener()
    base = sys.getrefcount(listener)
    call(subscriber, sub, lead, listener)
    call(subscriber, sub, lead, listener)
    assert sys.getrefcount(listener) == base + 2
    assert kit.subscription_references(listener) == 2
    call(subscriber, unsub, lead, listener)
    assert sys.getrefcount(listener) == base + 1
    call(subscriber, unsub, lead, listener)
    assert sys.getrefcount(listener) == base
    assert kit.subscription_references(listener) == 0


@pytest.mark.parametrize("sub, unsub, lead", FORMS)
def test_refused_calls_change_nothing(subscriber, sub, unsub, lead):
    listener = Listener()
    base = sys.getrefcount(listener)
    with pytest.raises(ValueError, match="^refused$"):
        call(subscriber, sub + "_refused", lead, listener)
    assert sys.getrefcount(listener) == base
    call(subscriber, sub, lead, listener)
    with pytest.raises(ValueError, match="^refused$"):
        call(subscriber, unsub + "_refused", lead, listener)
    assert sys.getrefcount(listener) == base + 1
    call(subscriber, unsub, lead, listener)
    assert sys.getrefcount(listener) == base


@pytest.mark.parametrize("sub, unsub, lead", FORMS)
@pytest.mark.parametrize("history", ["never subscribed", "already unsubscribed"])
def test_unmatched_unsubscribe_gives_nothing_back(subscriber, sub, unsub, lead, history):
    listener = Listener()
    base = sys.getrefcount(listener)
    if history == "already unsubscribed":
        call(subscriber, sub, lead, listener)
        call(subscriber, unsub, lead, listener)
    call(subscriber, unsub, lead, listener)
    call(subscriber, unsub, lead, listener)
    assert sys.getrefcount(listener) == base
    # The listener still works as an object: nothing was freed under it.
    listener.mark = "alive"
    assert listener.mark == "alive"


@pytest.mark.parametrize("sub, unsub, lead", FORMS)
@pytest.mark.parametrize("through, matched", [
    pytest.param(lambda subscriber: subscriber, True, id="the-same-wrapper"),
    pytest.param(lambda subscriber: subscriber.sharing(), True, id="another-wrapper-of-it"),
    pytest.param(lambda subscriber: kit.Subscriber(), False, id="another-object"),
])
def test_an_unsubscribe_matches_only_the_object_subscribed_to(subscriber, sub, unsub, lead,
                                                              through, matched):
    listener = Listener()
    base = sys.getrefcount(listener)
    call(subscriber, sub, lead, listener)
    call(through(subscriber), unsub, lead, listener)
    assert sys.getrefcount(listener) == base + (0 if matched else 1)
    assert kit.subscription_references(listener) == (0 if matched else 1)
    call(subscriber, unsub, lead, listener)
    assert sys.getrefcount(listener) == base


def test_an_unsubscribe_matches_only_the_update_type_subscribed_to(subscriber):
    listener = Listener()
    base = sys.getrefcount(listener)
    subscriber.subscribe_update(3, listener)
    subscriber.subscribe_update(4, listener)
    # Another type, or none at all, is another subscription.
    subscriber.unsubscribe_update(5, listener)
    subscriber.unsubscribe(listener)
    assert sys.getrefcount(listener) == base + 2
    subscriber.unsubscribe_update(3, listener)
    subscriber.unsubscribe_update(3, listener)
    assert sys.getrefcount(listener) == base + 1
    subscriber.unsubscribe_update(4, listener)
    assert sys.getrefcount(listener) == base
    assert kit.subscription_references(listener) == 0


@pytest.mark.parametrize("sub, unsub, lead", FORMS)
def test_subscribed_listener_outlives_its_last_python_reference(subscriber, sub, unsub, lead):
    listener = Listener()
    watch = weakref.ref(listener)
    call(subscriber, sub, lead, listener)
    del listener
    gc.collect()
    assert watch() is not None
    call(subscriber, unsub, lead, watch())
    gc.collect()
    assert watch() is None


def test_use_table_manager_keeps_only_the_latest_listener(subscriber):
    first, second = Listener(), Listener()
    first_watch = weakref.ref(first)
    subscriber.use_table_manager(1, first)
    assert getattr(subscriber, "__previos_table_listener") is first
    base = sys.getrefcount(second)
    subscriber.use_table_manager(2, second)
    assert getattr(subscriber, "__previos_table_listener") is second
    assert sys.getrefcount(second) == base + 1
    del first
    gc.collect()
    assert first_watch() is None
