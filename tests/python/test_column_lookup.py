"""tests/python/test_column_lookup.py: what reading a row's cells by name keeps of the library: one
reference to each column collection it has learnt, for a bounded number of collections, the least
recently read going first; given back at finalize, and at exit before the interpreter goes. (That
the lookup answers exactly as the column walk does is the native test_column_lookup.)"""

import gc
import textwrap

import pytest

import dedezi
from helpers import run_python

pytestmark = pytest.mark.timeout(120)

T = dedezi.K7RTableType
STRING, DOUBLE = 2, 1
COLLECTION = "IK7RTableColumnCollection"


def insert_with_own_columns(sim, tables, key):
    """(the new offer row, the id of the column collection made for it alone)."""
    before = set(sim.objects(COLLECTION))
    row = tables.insert(T.OFFERS, {"OfferID": key, "Bid": 1.5},
                        columns=[("OfferID", STRING, True), ("Bid", DOUBLE, False)])
    (collection,) = set(sim.objects(COLLECTION)) - before
    return row, collection


def test_a_learnt_collection_is_held_once_and_outlives_its_row_objects(sim, tables):
    row, collection = insert_with_own_columns(sim, tables, "K1")
    held = sim.refcount(collection)
    for _ in range(3):
        assert (row.bid, row.offer_id, row["Bid"]) == (1.5, "K1", 1.5)
        assert not hasattr(row, "ask")
        assert sim.refcount(collection) == held + 1
    del row
    gc.collect()
    # Its table's row keeps one, the lookup the other.
    assert sim.refcount(collection) == 2


def test_a_bounded_number_is_kept_the_least_recently_read_going_first(sim, tables):
    first, first_collection = insert_with_own_columns(sim, tables, "B0")
    read = [first_collection]
    for i in range(1, 100):
        row, collection = insert_with_own_columns(sim, tables, f"B{i}")
        assert row.bid == 1.5 and first.bid == 1.5
        read.append(collection)
    del row, first
    gc.collect()
    # Each collection is held by its table's row, and by the lookup while it is kept.
    counts = [sim.refcount(collection) for collection in read]
    assert set(counts) == {1, 2}
    kept = [collection for collection, count in zip(read, counts) if count == 2]
    assert kept[0] == first_collection, "read at every step, it stays"
    assert kept[1:] == read[len(read) - len(kept) + 1:], "the rest kept are the latest read"


PROLOGUE = textwrap.dedent("""
    import atexit, threading
    import velvix_sim as sim
    {before_import}
    import dedezi

    class Loaded(dedezi.AK7RTableManagerListener):
        def __init__(self):
            super().__init__()
            self.event = threading.Event()

        def on_status_changed(self, status, manager):
            if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
                self.event.set()

    sim.reset()
    session = dedezi.K7RTransport.create_session()
    (sid,) = sim.sessions()
    loaded = Loaded()
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, loaded)
    assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo")
    assert loaded.event.wait(10)
    before = set(sim.objects("IK7RTableColumnCollection"))
    sim.insert_row(sid, 0, {{"OfferID": "F1", "Bid": 1.5}},
                   columns=[("OfferID", 2, True), ("Bid", 1, False)])
    (collection,) = set(sim.objects("IK7RTableColumnCollection")) - before
    table = session.table_manager.get_table(dedezi.K7RTableType.OFFERS)
    row = table.get_row(table.size - 1)
    held = sim.refcount(collection)
    assert row.bid == 1.5
    print("learnt", sim.refcount(collection) - held)
""")


def test_finalize_gives_the_collections_back_and_nothing_is_kept_after_it():
    code = PROLOGUE.format(before_import="") + textwrap.dedent("""
        dedezi.K7RTransport.finalize()
        print("finalized", sim.refcount(collection) - held)
        assert (row.bid, row.offer_id) == (1.5, "F1")
        print("read after", sim.refcount(collection) - held)
    """)
    returncode, out, err = run_python(code, timeout=60)
    assert returncode == 0, err
    assert out.splitlines() == ["learnt 1", "finalized 0", "read after 0"]


def test_exit_gives_the_collections_back_before_the_interpreter_goes():
    # Exit handlers run last registered first: this one, registered before the module is
    # imported, runs after the module's own.
    at_exit = textwrap.dedent("""
        def after_the_module():
            print("at exit", sim.refcount(collection) - held)
        atexit.register(after_the_module)
    """)
    returncode, out, err = run_python(PROLOGUE.format(before_import=at_exit), timeout=60)
    assert returncode == 0, err
    assert out.splitlines() == ["learnt 1", "at exit 0"]
