"""Callback dispatch: a library thread fires status callbacks into a Python override that does
nothing, against a bare native thread calling a Python no-op through PyGILState_Ensure."""
from common import report

import dedezi
import dedezi_bench
import velvix_sim

CALLS = 200_000


class Quiet(dedezi.AK7RSessionStatus):
    def on_session_status_changed(self, status):
        pass

    def on_login_failed(self, error):
        pass


def noop():
    pass


def main():
    velvix_sim.reset()
    session = dedezi.K7RTransport.create_session()
    session_id = velvix_sim.sessions()[-1]
    listener = Quiet()
    session.subscribe_session_status(listener)
    status = int(dedezi.AK7RSessionStatus.CONNECTED)

    times = []
    baselines = []
    for _ in range(5):
        times.append(velvix_sim.fire_session_status_burst(session_id, status, CALLS))
        baselines.append(dedezi_bench.thread_calls(noop, CALLS))
    seconds, baseline = min(times), min(baselines)
    report("status callback dispatch", seconds, baseline, CALLS, "call")
    print(f"{'':<44} {CALLS / seconds:,.0f} callbacks/s   baseline {CALLS / baseline:,.0f} calls/s")
    session.unsubscribe_session_status(listener)


if __name__ == "__main__":
    main()
