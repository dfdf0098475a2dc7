"""A first trading session with dedezi, against the simulated server.

Configures the transport, creates a session, follows its status in a listener, logs in as
demo/demo, reads the server time and the token, and logs out.
"""
import threading

import dedezi

Status = dedezi.AK7RSessionStatus.K7RSessionStatus


class StatusPrinter(dedezi.AK7RSessionStatus):
    """Prints each status as it arrives on the library's thread."""

    def __init__(self):
        super().__init__()
        self.changed = threading.Condition()
        self.status = Status.DISCONNECTED
        self.failure = None

    def on_session_status_changed(self, status):
        print(f"  status: {status.name}")
        with self.changed:
            self.status = status
            self.changed.notify_all()

    def on_login_failed(self, error):
        print(f"  login failed: {error}")
        with self.changed:
            self.failure = error
            self.changed.notify_all()

    def wait_for(self, status, timeout=10.0):
        with self.changed:
            if not self.changed.wait_for(lambda: self.status == status or self.failure, timeout):
                raise TimeoutError(f"no {status.name} within {timeout} s")
        if self.failure:
            raise RuntimeError(self.failure)


def main():
    dedezi.K7RTransport.application_id = "quickstart"
    dedezi.K7RTransport.set_number_of_reconnections(3)
    session = dedezi.K7RTransport.create_session()
    listener = StatusPrinter()
    session.subscribe_session_status(listener)

    print("logging in as demo")
    session.login("demo", "demo", "sim://demo", "Demo")
    listener.wait_for(Status.CONNECTED)
    print(f"server time: {session.server_time:%Y-%m-%d %H:%M:%S}")
    print(f"token: {session.token[:12]}...")

    print("logging out")
    session.logout()
    listener.wait_for(Status.DISCONNECTED)
    session.unsubscribe_session_status(listener)
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
