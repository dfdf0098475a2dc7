"""Callback dispatch from a library thread to a Python override that does nothing: a session
status, a table event and a completed response, each against its floor in the same run: a
foreign thread that keeps its interpreter state for its life, taking the lock and calling a
Python function with as many arguments, made once."""
from common import against_floor
from session import open_session

import dedezi
import dedezi_bench
import velvix_sim

CALLS = 20_000
ROUNDS = 5


class QuietStatus(dedezi.AK7RSessionStatus):
    def on_session_status_changed(self, status):
        pass

    def on_login_failed(self, error):
        pass


class QuietTable(dedezi.AK7RTableListener):
    def on_added(self, row_id, row):
        pass

    def on_changed(self, row_id, row):
        pass

    def on_deleted(self, row_id, row):
        pass

    def on_status_changed(self, status):
        pass


class QuietResponse(dedezi.AK7RResponseListener):
    def on_request_completed(self, request_id, response):
        pass

    def on_request_failed(self, request_id, error):
        pass

    def on_tables_updates(self, response):
        pass


def one(value):
    pass


def two(first, second):
    pass


def measure(name, fire, floor_target, floor_args):
    """The best of ROUNDS rounds of CALLS callbacks, each round beside a round of the floor."""
    times, floors = [], []
    for _ in range(ROUNDS):
        times.append(fire(CALLS))
        floors.append(dedezi_bench.kept_thread_calls(floor_target, floor_args, CALLS))
    against_floor(name, min(times), min(floors), CALLS, "call")


def main():
    session, session_id, manager = open_session()

    status = QuietStatus()
    session.subscribe_session_status(status)
    connected = int(dedezi.AK7RSessionStatus.CONNECTED)
    measure("session status to on_session_status_changed",
            lambda n: velvix_sim.fire_session_status_burst(session_id, connected, n),
            one, (dedezi.AK7RSessionStatus.CONNECTED,))
    session.unsubscribe_session_status(status)

    offers = manager.get_table(dedezi.K7RTableType.OFFERS)
    table = QuietTable()
    offers.subscribe_update(dedezi.K7RTableUpdateType.UPDATE, table)
    velvix_sim.wait_table_subscribers(session_id, 0, "table_update:UPDATE", 1)
    measure("table event to on_changed",
            lambda n: velvix_sim.fire_table_event_burst(session_id, 0, 1, "1", n),
            two, ("1", offers.get_row(0)))
    offers.unsubscribe_update(dedezi.K7RTableUpdateType.UPDATE, table)

    response = QuietResponse()
    session.subscribe_response(response)
    response_id = velvix_sim.make_response(session_id, int(dedezi.K7RResponseType.GET_ACCOUNTS),
                                           "bench")
    measure("response to on_request_completed",
            lambda n: velvix_sim.deliver_response_burst(session_id, response_id, n),
            two, ("bench", object()))
    session.unsubscribe_response(response)
    session.logout()


if __name__ == "__main__":
    main()
