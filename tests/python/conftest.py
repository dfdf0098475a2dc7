"""tests/python/conftest.py: puts the build folder first on the import path, so that `dedezi` and
`velvix_sim` are the ones just built, and offers the simulated world as a fixture."""

import os
import sys

import pytest

BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR")
if not BUILD_DIR:
    raise pytest.UsageError("DEDEZI_BUILD_DIR must name the build folder (ctest sets it)")
sys.path.insert(0, BUILD_DIR)


@pytest.fixture
def sim():
    """The test-control extension, its world freshly reset."""
    velvix_sim = pytest.importorskip("velvix_sim")
    velvix_sim.reset()
    return velvix_sim


@pytest.fixture
def loaded(sim):
    """(session, session id, table manager) of a demo session logged in with its tables loaded;
    prices held still."""
    import dedezi
    from helpers import manager_listener, new_session

    session, session_id = new_session(sim)
    listener = manager_listener()
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, listener)
    assert session.login("demo", "demo", "http://sim.local/Hosts.jsp", "Demo") is True
    Status = dedezi.K7RTableManagerStatus
    assert listener.statuses.wait_for(2) == [Status.TABLES_LOADING, Status.TABLES_LOADED]
    sim.price_ticks(False)
    yield session, session_id, session.table_manager
    sim.price_ticks(True)
    session.logout()


@pytest.fixture
def tables(sim, loaded):
    """The loaded session's tables, with a way to put rows into them."""
    from helpers import Tables

    _, session_id, manager = loaded
    return Tables(sim, session_id, manager)


@pytest.fixture
def online_session(sim):
    """A session logged in as demo/demo."""
    from helpers import log_in, new_session

    session, _ = new_session(sim)
    log_in(session)
    yield session
    session.logout()


@pytest.fixture
def communicator(sim, online_session):
    """(history communicator, its id in the simulated world), ready, over `online_session`."""
    import gc
    from helpers import ready_communicator

    before = set(sim.communicators())
    comm = ready_communicator(online_session)
    (comm_id,) = set(sim.communicators()) - before
    yield comm, comm_id
    del comm
    gc.collect()


@pytest.fixture
def m1(communicator):
    """The communicator's one-minute timeframe."""
    return communicator[0].timeframe_factory.create("m1")


@pytest.fixture
def crafted_reader(sim):
    """crafted_reader(type, prepare=None): what create_reader gives for a response of that type,
    made by the simulated server, scripted by prepare(response_id) and delivered to a response
    listener."""
    from helpers import new_session
    from test_response_listener import ResponseListener, crafted

    session, sid = new_session(sim)
    listener = ResponseListener()
    session.subscribe_response(listener)
    factory = session.response_reader_factory
    counter = iter(range(10**6))

    def make(type_, prepare=None):
        response = crafted(sim, sid, listener, int(type_), f"RQ-{next(counter)}", prepare)
        return factory.create_reader(response)

    yield make
    session.unsubscribe_response(listener)
