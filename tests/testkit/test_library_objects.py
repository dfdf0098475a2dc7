"""Library objects in Python: a handle releases its one reference exactly once, however its last
copies go, and the generic container over the stand-in's descriptor collection reads, bounds and
iterates it while holding a reference of its own."""
import gc
import threading

import pytest

import dedezi_testkit as kit

SESSION = "IK7RSession"
COLLECTION = "IK7RSessionDescriptorCollection"
DESCRIPTOR = "IK7RSessionDescriptor"
DESCRIPTORS = [("d1", "One", "first", False), ("d2", "Two", "second", True),
               ("d3", "Three", "third", False)]


def only(sim, kind):
    ids = sim.objects(kind)
    assert len(ids) == 1, f"expected one live {kind}, found {ids}"
    return ids[0]


def test_handle_releases_its_reference_once_when_python_drops_it(sim):
    session = kit.create_session()
    assert sim.live(SESSION) == 1
    assert sim.refcount(only(sim, SESSION)) == 1
    released = sim.release_calls(SESSION)
    del session
    gc.collect()
    assert sim.release_calls(SESSION) == released + 1
    assert sim.live(SESSION) == 0


def test_null_pointer_becomes_none():
    assert kit.null_session() is None


def test_two_threads_dropping_the_last_two_handles_release_twice(sim):
    for _ in range(20):
        first = kit.create_session()
        holders = [[first], [kit.another_handle(first)]]
        del first
        released = sim.release_calls(SESSION)
        assert sim.refcount(only(sim, SESSION)) == 2
        start = threading.Barrier(2, timeout=10)

        def drop(box):
            start.wait()
            box.clear()

        threads = [threading.Thread(target=drop, args=(box,)) for box in holders]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(10)
            assert not thread.is_alive()
        assert sim.release_calls(SESSION) == released + 2
        assert sim.live(SESSION) == 0


@pytest.fixture
def session(sim):
    sim.set_session_descriptors(DESCRIPTORS)
    return kit.create_session()


def test_container_reads_every_descriptor(session):
    descriptors = session.descriptors()
    assert descriptors.size == len(descriptors) == 3
    assert [d.id for d in descriptors] == ["d1", "d2", "d3"]
    assert [descriptors.get(i).id for i in range(3)] == ["d1", "d2", "d3"]


@pytest.mark.parametrize("index", [3, 4, 2**31 - 1, 2**31, 4294967295])
def test_index_past_the_end_gives_none(session, index):
    assert session.descriptors().get(index) is None


def test_negative_index_is_refused_before_the_getter(session):
    with pytest.raises(OverflowError):
        session.descriptors().get(-1)


def test_container_over_a_null_collection_is_empty(sim):
    sim.set_session_descriptors(None)
    descriptors = kit.create_session().descriptors()
    assert len(descriptors) == 0 and descriptors.size == 0
    assert list(descriptors) == []
    assert descriptors.get(0) is None


def test_container_and_its_iterator_hold_their_own_references(sim, session):
    descriptors = session.descriptors()
    collection = only(sim, COLLECTION)
    assert sim.refcount(collection) == 1
    items = iter(descriptors)
    assert next(items).id == "d1"
    del descriptors
    gc.collect()
    assert sim.live(COLLECTION) == 1
    assert [d.id for d in items] == ["d2", "d3"]
    del items
    gc.collect()
    assert sim.live(COLLECTION) == 0
    assert sim.live(DESCRIPTOR) == 0


def test_items_outlive_their_container(sim, session):
    items = list(session.descriptors())
    gc.collect()
    assert sim.live(COLLECTION) == 0
    assert [d.id for d in items] == ["d1", "d2", "d3"]
    del items
    gc.collect()
    assert sim.live(DESCRIPTOR) == 0


def test_a_class_offers_only_the_members_it_registers(session):
    ids = session.descriptor_ids()
    assert list(ids) == ["d1", "d2", "d3"]
    for member in ("size", "__len__", "get"):
        assert not hasattr(ids, member)
