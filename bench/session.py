"""A logged-in demo session with its tables loaded, shared by the benchmarks."""
import threading

import dedezi
import velvix_sim

Status = dedezi.AK7RSessionStatus.K7RSessionStatus


class _Status(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.connected = threading.Event()

    def on_session_status_changed(self, status):
        if status == Status.CONNECTED:
            self.connected.set()

    def on_login_failed(self, error):
        pass


class _Manager(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


def open_session():
    """(session, session id in velvix_sim, table manager), logged in with the tables loaded."""
    velvix_sim.reset()
    session = dedezi.K7RTransport.create_session()
    session_id = velvix_sim.sessions()[-1]
    status, manager = _Status(), _Manager()
    session.subscribe_session_status(status)
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, manager)
    session.login("demo", "demo", "sim://bench", "Demo")
    if not status.connected.wait(10) or not manager.loaded.wait(10):
        raise RuntimeError("the demo session did not come up")
    session.unsubscribe_session_status(status)
    velvix_sim.price_ticks(False)
    return session, session_id, session.table_manager
