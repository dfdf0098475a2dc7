"""tests/stress/cases.py: the stress cases, each run inside an interpreter of its own by
test_stress.py (and looped by soak.py). A case prints "ok" as its last line when everything it
checks held; the parent then also checks how the interpreter ended.

Listener kinds are rows of KINDS and waiting calls rows of WAITS: a new kind or a new waiting call
is one more row, and every case that walks the table covers it."""

import atexit
import collections
import gc
import os
import select
import signal
import sys
import threading
import time
import weakref
import traceback

import dedezi
import velvix_sim as sim

Status = dedezi.AK7RSessionStatus.K7RSessionStatus
YES = dedezi.K7RTableManagerMode.YES
OFFERS = int(dedezi.K7RTableType.OFFERS)
UPDATE = dedezi.K7RTableUpdateType.UPDATE
Params = dedezi.K7RRequestParamsEnum
Orders = dedezi.Constants.Orders
BUY, SELL = dedezi.Constants.BUY, dedezi.Constants.SELL
DEADLINE = 10.0


def daemon(target, *args):
    thread = threading.Thread(target=target, args=args, daemon=True)
    thread.start()
    return thread


def until(predicate, timeout=DEADLINE):
    """Polls a condition the simulated world offers no wait for; false when the time ran out."""
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > end:
            return False
        threading.Event().wait(0.005)
    return True


class Quiet(dedezi.AK7RTableManagerListener):
    def on_status_changed(self, status, manager):
        pass


class Breaker:
    """A queue breaker that never says stop, and remembers the threads that called it."""

    def __init__(self):
        self.threads = set()

    def __call__(self):
        self.threads.add(threading.get_ident())
        return True


class Connect(dedezi.AK7RSessionStatus):
    """A session status listener that tells when its session is connected."""

    def __init__(self):
        super().__init__()
        self.connected = threading.Event()

    def on_session_status_changed(self, status):
        if status == Status.CONNECTED:
            self.connected.set()

    def on_login_failed(self, error):
        pass


class World:
    """A demo session logged in with its tables loaded and a ready history communicator, prices
    held still, the offers table and two queues borrowed: the manager's all-events queue and the
    offers' queue of updates. `counts()` snapshots every live library object of the simulated
    world."""

    def __init__(self):
        sim.reset()
        sim.price_ticks(False)
        self.session = dedezi.K7RTransport.create_session()
        (self.sid,) = sim.sessions()
        self.manager_listener = Quiet()
        self.session.use_table_manager(YES, self.manager_listener)
        status = Connect()
        self.session.subscribe_session_status(status)
        assert self.session.login("demo", "demo", "sim://stress", "Demo")
        assert status.connected.wait(DEADLINE)
        self.session.unsubscribe_session_status(status)
        assert sim.wait_manager_status(self.sid, int(dedezi.K7RTableManagerStatus.TABLES_LOADED))
        self.comm = dedezi.PlentaCommunicatorFactory.create_communicator(self.session, "")
        (self.cid,) = sim.communicators()
        assert until(self.comm.is_ready)
        self.m1 = self.comm.timeframe_factory.create("m1")
        self.response_id = sim.make_response(self.sid, 1)
        self.manager = self.session.table_manager
        self.offers = self.manager.get_table(dedezi.K7RTableType.OFFERS)
        self.all_queue = self.manager.tables_update_event_queue
        self.update_queue = self.offers.get_update_event_queue(UPDATE)
        (self.all_queue_id,) = sim.objects("IK7RAllEventQueue")
        (self.update_queue_id,) = sim.objects("IK7RUpdateEventQueue")
        self.breaker = Breaker()

    def put(self, queue_id):
        """Puts the EUR/USD offer row into a queue of the world's, as an UPDATE, telling its
        listeners."""
        sim.queue_put(queue_id, session_id=self.sid, table_type=OFFERS, key="1", event=int(UPDATE),
                      wait=False)

    def counts(self):
        """{object id: (kind, reference count)} of every live library object, once the world has
        delivered what it had queued and the world's queues were emptied."""
        assert sim.flush(DEADLINE) and sim.zorvat_flush(DEADLINE)
        self.all_queue.delete_all_events()
        self.update_queue.delete_all_events()
        gc.collect()
        out = {}
        for obj in sim.objects():
            try:
                out[obj] = (sim.kind_of(obj), sim.refcount(obj))
            except LookupError:
                pass  # went while being looked at
        return out

    def settle(self, before, kinds=None, timeout=DEADLINE):
        """Waits until the live objects (of the kinds starting with one of `kinds`, if given) are
        those of `before`, with their counts; reports the difference otherwise. Reports end on the
        world's threads, so this may take a moment."""
        if kinds:
            before = {k: v for k, v in before.items() if v[0].startswith(kinds)}
        end = time.monotonic() + timeout
        while True:
            now = self.counts()
            if kinds:
                now = {k: v for k, v in now.items() if v[0].startswith(kinds)}
            if now == before or time.monotonic() > end:
                break
            threading.Event().wait(0.02)
        left = {k: v for k, v in now.items() if before.get(k) != v}
        gone = {k: v for k, v in before.items() if k not in now}
        assert not left and not gone, f"live objects changed: now {left}, gone {gone}"


def listener_class(base, methods, on_call):
    """A subclass of the dedezi listener class `base` whose every callback calls on_call(listener,
    method name, arguments)."""
    body = {m: (lambda self, *args, _m=m: on_call(self, _m, args)) for m in methods}
    return type("Stress" + base, (getattr(dedezi, base),), body)


class Kind:
    """One listener kind: its class and callbacks, how it is subscribed, how the world fires it,
    and how many the world holds (None when the world does not say)."""

    def __init__(self, base, methods, subscribe, unsubscribe, fire, held=None):
        self.base, self.methods = base, methods
        self.subscribe, self.unsubscribe, self.fire, self.held = subscribe, unsubscribe, fire, held

    def make(self, on_call):
        return listener_class(self.base, self.methods, on_call)()


def _use_manager(w, listener):
    w.session.use_table_manager(YES, listener)


def _drop_manager(w, listener):
    # The session holds one table manager listener: giving it another lets this one go.
    w.session.use_table_manager(YES, w.manager_listener)


def _send_history(w):
    request = w.comm.create_request("EUR/USD", w.m1, None, None, 3)
    w.comm.send_request(request, None)
    for pending in sim.plenta_pending():  # a case may hold requests
        sim.plenta_complete(pending["index"], wait=False)


KINDS = {
    "session_status": Kind(
        "AK7RSessionStatus", ["on_session_status_changed", "on_login_failed"],
        lambda w, l: w.session.subscribe_session_status(l),
        lambda w, l: w.session.unsubscribe_session_status(l),
        lambda w: sim.fire_session_status(w.sid, int(Status.CONNECTED), wait=False),
        lambda w: sim.subscribers(w.sid, "session_status")),
    "chart_session_status": Kind(
        "AK7RChartSessionStatus", ["on_chart_session_status_changed", "on_chart_session_login_failed"],
        lambda w, l: w.session.subscribe_chart_session_status(l),
        lambda w, l: w.session.unsubscribe_chart_session_status(l),
        lambda w: sim.fire_chart_session_status(w.sid, 3, wait=False),
        lambda w: sim.subscribers(w.sid, "chart_session_status")),
    "response": Kind(
        "AK7RResponseListener", ["on_request_completed", "on_request_failed", "on_tables_updates"],
        lambda w, l: w.session.subscribe_response(l),
        lambda w, l: w.session.unsubscribe_response(l),
        lambda w: sim.deliver_response(w.sid, w.response_id, wait=False),
        lambda w: sim.subscribers(w.sid, "response")),
    "table_manager": Kind(
        "AK7RTableManagerListener", ["on_status_changed"],
        _use_manager, _drop_manager,
        lambda w: sim.set_manager_status(w.sid, int(dedezi.K7RTableManagerStatus.TABLES_LOADED),
                                         wait=False)),
    "history": Kind(
        "APlentaCommunicatorListener",
        ["on_request_completed", "on_request_failed", "on_request_cancelled"],
        lambda w, l: w.comm.add_listener(l),
        lambda w, l: w.comm.remove_listener(l),
        _send_history,
        lambda w: sim.communicator_listeners(w.cid)[0]),
    "history_status": Kind(
        "APlentaCommunicatorStatusListener",
        ["on_communicator_status_changed", "on_communicator_init_failed"],
        lambda w, l: w.comm.add_status_listener(l),
        lambda w, l: w.comm.remove_status_listener(l),
        lambda w: sim.fire_communicator_status(w.cid, True, wait=False),
        lambda w: sim.communicator_listeners(w.cid)[1]),
    # Table subscriptions reach the library later, through the late-call worker.
    "table_update": Kind(
        "AK7RTableListener", ["on_added", "on_changed", "on_deleted", "on_status_changed"],
        lambda w, l: w.offers.subscribe_update(UPDATE, l),
        lambda w, l: w.offers.unsubscribe_update(UPDATE, l),
        lambda w: sim.fire_table_event(w.sid, OFFERS, int(UPDATE), "1", "1", wait=False),
        lambda w: sim.table_subscribers(w.sid, OFFERS, "table_update:UPDATE")),
    "table_status": Kind(
        "AK7RTableListener", ["on_added", "on_changed", "on_deleted", "on_status_changed"],
        lambda w, l: w.offers.subscribe_status(l),
        lambda w, l: w.offers.unsubscribe_status(l),
        lambda w: sim.set_table_status(w.sid, OFFERS, int(dedezi.K7RTableStatus.REFRESHED),
                                       wait=False),
        lambda w: sim.table_subscribers(w.sid, OFFERS, "table_status")),
    "all_event_queue": Kind(
        "AK7RAllEventQueueListener", ["on_put_in_queue"],
        lambda w, l: w.all_queue.subscribe_on_put_in_queue(l),
        lambda w, l: w.all_queue.unsubscribe_on_put_in_queue(l),
        lambda w: w.put(w.all_queue_id),
        lambda w: sim.queue_info(w.all_queue_id)["subscribers"]),
    "update_queue": Kind(
        "AK7RUpdateEventQueueListener", ["on_put_in_queue"],
        lambda w, l: w.update_queue.subscribe_on_put_in_queue(l),
        lambda w, l: w.update_queue.unsubscribe_on_put_in_queue(l),
        lambda w: w.put(w.update_queue_id),
        lambda w: sim.queue_info(w.update_queue_id)["subscribers"]),
    "updates_process": Kind(
        "AK7RUpdatesProcessStatusListener", ["on_updates_process_status_changed"],
        lambda w, l: w.manager.subscribe_updates_process_status(l),
        lambda w, l: w.manager.unsubscribe_updates_process_status(l),
        lambda w: sim.fire_updates_process_status(
            w.sid, int(dedezi.K7RUpdatesProcessStatus.BEGIN_TABLES_UPDATE), wait=False),
        lambda w: sim.table_subscribers(w.sid, OFFERS, "updates_process")),
    "commission_provider": Kind(
        "AK7RCommissionProviderListener",
        ["on_change_commission_provider_status", "on_need_update_commissions"],
        lambda w, l: w.session.commissions_provider.subscribe(l),
        lambda w, l: w.session.commissions_provider.unsubscribe(l),
        lambda w: sim.fire_commission_status(
            w.sid, int(dedezi.K7RCommissionStatus.COMMISSION_STATUS_READY), wait=False),
        lambda w: sim.service_subscribers(w.sid, "commissions")),
    # The stand-in holds a rollover listener by a plain pointer: its hook always waits for the
    # delivery.
    "rollover_provider": Kind(
        "AK7RRolloverProviderListener", ["on_status_changed"],
        lambda w, l: w.session.rollover_provider.subscribe(l),
        lambda w, l: w.session.rollover_provider.unsubscribe(l),
        lambda w: sim.fire_rollover_status(w.sid, int(dedezi.K7RRolloverStatus.ROLLOVER_READY)),
        lambda w: sim.service_subscribers(w.sid, "rollover")),
    # The demo server's own value: the server's properties stay as they were.
    "system_properties": Kind(
        "AK7RSystemPropertiesListener", ["on_change_property"],
        lambda w, l: w.session.subscribe_system_properties_change(l),
        lambda w, l: w.session.unsubscribe_system_properties_change(l),
        lambda w: sim.fire_system_property(w.sid, "BASE_CRNCY", "USD", wait=False),
        lambda w: sim.subscribers(w.sid, "system_properties")),
}


class Wait:
    """One call that waits for a library thread: how to hold what it waits for, make the call,
    see that n callers wait, and let them go; the endings a never-answered call has (each with
    the line wait_ended prints), and the kinds of its objects that a logout leaves as they were."""

    def __init__(self, hold, call, await_waiting, release, endings, objects, wake=None):
        self.hold, self.call, self.await_waiting, self.release = hold, call, await_waiting, release
        self.endings, self.objects, self.wake = endings, objects, wake


def _hold_history(w, on):
    sim.plenta_hold(on)


def _release_history(w):
    for pending in sim.plenta_pending():
        sim.plenta_complete(pending["index"], wait=False)


def _instruments(w):
    sim.zorvat_loaded(False)  # so that the call runs the update task and waits for it
    return w.comm.timeframe_collection("EUR/USD")


HISTORY_OBJECTS = ("plenta::", "zorvat::", "IK7RTimeframe", "IK7RMarketData")


def _queue_wait(queue, call):
    """A wait on one of the world's queues (attribute `queue`), which nothing fills unless
    released. The library wakes such a waiter with None; Ctrl-C ends it with KeyboardInterrupt."""
    return Wait(
        lambda w, on: None,
        lambda w: call(getattr(w, queue)),
        lambda w, n: until(lambda: sim.queue_info(getattr(w, queue + "_id"))["waiters"] >= n),
        lambda w: w.put(getattr(w, queue + "_id")),
        {"logout": "returned None", "finalize": "returned None",
         "delete_all_events": "returned None", "interrupt": "KeyboardInterrupt"},
        ("IK7RAllEventQueue", "IK7RUpdateEventQueue"),
        lambda w: getattr(w, queue).delete_all_events())


WAITS = {
    "get_history": Wait(
        _hold_history,
        lambda w: w.comm.get_history("EUR/USD", w.m1, None, None, 3),
        lambda w, n: len(sim.plenta_wait_pending(n, DEADLINE)) >= n,
        _release_history,
        {"logout": "Plenta error: The session was logged out code: NotReady",
         "finalize": "Plenta error: The library was finalized code: NotReady",
         "interrupt": "KeyboardInterrupt"},
        HISTORY_OBJECTS),
    "timeframe_collection": Wait(
        lambda w, on: sim.zorvat_hold(on),
        _instruments,
        lambda w, n: sim.zorvat_wait_held(n, DEADLINE) >= n,
        lambda w: sim.zorvat_run_held(),
        {"logout": "Zorvat error: The session was logged out code: QuotesServerConnectionError "
                   "subcode: 0",
         "finalize": "Zorvat error: The library was finalized code: QuotesServerConnectionError "
                     "subcode: 0",
         "interrupt": "KeyboardInterrupt"},
        HISTORY_OBJECTS),
    "all_events_wait_get": _queue_wait("all_queue", lambda q: q.wait_get()),
    "update_wait_get": _queue_wait("update_queue", lambda q: q.wait_get()),
    "all_events_timed_wait_get": _queue_wait("all_queue", lambda q: q.timed_wait_get(600_000)),
    # A busy poll of the module's own: only its breaker ends it, and the breaker is where Ctrl-C
    # arrives.
    "update_breakable_wait_get": Wait(
        lambda w, on: None,
        lambda w: w.update_queue.breakable_wait_get(w.breaker),
        lambda w, n: until(lambda: len(w.breaker.threads) >= n),
        lambda w: w.put(w.update_queue_id),
        {"interrupt": "KeyboardInterrupt"},
        ("IK7RAllEventQueue", "IK7RUpdateEventQueue")),
}


def ok():
    print("ok", flush=True)


# --- subscribe and unsubscribe churn during callback bursts ------------------------------------

class Churn:
    """Threads that subscribe and unsubscribe listeners of one kind, some dropping them while
    subscribed, while another fires that kind's callbacks without pause, in a World of their own,
    from construction until end(); end() then checks that nothing is held and every count is
    back."""

    def __init__(self, kind_name, threads=4):
        self.kind = kind = KINDS[kind_name]
        self.w = w = World()
        self.before = w.counts()
        self.calls = collections.Counter()
        self.stop = stop = threading.Event()
        self.failures = []
        lock = threading.Lock()

        def on_call(listener, method, args):
            with lock:
                self.calls[method] += 1

        def fire():
            while not stop.is_set():
                kind.fire(w)
                threading.Event().wait(0.0005)

        def subscriber(seed):
            try:
                keep = []
                i = seed
                while not stop.is_set():
                    listener = kind.make(on_call)
                    kind.subscribe(w, listener)
                    if i % 3 == 0:
                        keep.append(listener)  # unsubscribed at the end
                    else:
                        kind.unsubscribe(w, listener)
                    del listener  # some go while subscribed and firing
                    i += 1
                for listener in keep:
                    kind.unsubscribe(w, listener)
            except BaseException as error:  # reported by the main thread
                self.failures.append(repr(error))

        self.workers = [daemon(fire)] + [daemon(subscriber, n) for n in range(threads)]

    def end(self):
        self.stop.set()
        for worker in self.workers:
            worker.join(DEADLINE)
            assert not worker.is_alive(), "a churning thread did not end"
        assert not self.failures, self.failures
        assert sum(self.calls.values()) > 0, "no callback ran"
        if self.kind.held:
            assert until(lambda: self.kind.held(self.w) == 0), self.kind.held(self.w)
        self.w.settle(self.before)


def churn(kind_name, seconds=1.0, threads=4):
    """The churn of one kind, a while; afterwards nothing is held and every count is back."""
    running = Churn(kind_name, threads)
    threading.Event().wait(seconds)
    running.end()
    ok()


# --- forks while callbacks and subscriptions churn ---------------------------------------------

def _child_hears_a_login():
    """In a forked child: the exit status of a new session's login, 0 once its callback is
    heard."""
    signal.alarm(int(DEADLINE))  # a child that hangs is ended, and lets go of the case's output
    try:
        session = dedezi.K7RTransport.create_session()
        listener = Connect()
        session.subscribe_session_status(listener)
        assert session.login("demo", "demo", "sim://stress", "Demo")
        return 0 if listener.connected.wait(DEADLINE) else 2
    except BaseException:
        traceback.print_exc()
        return 1


def fork_during_churn(kind_name, forks=5, threads=4):
    """A thread forks again and again while the churn runs, so that each fork finds the module's
    and the world's locks held, or not, wherever the churn's threads happen to be. Each child, a
    copy of that moment, logs a new session in, hears its callback and ends at once; the parent's
    churn ends as without forks."""
    running = Churn(kind_name, threads)
    statuses = []

    def fork():
        pid = os.fork()
        if pid == 0:
            # The child goes on in this thread alone, which sys.exit would end alone.
            os._exit(_child_hears_a_login())
        statuses.append(_ended(pid, DEADLINE))

    while len(statuses) < forks and statuses.count(0) == len(statuses):
        forker = daemon(fork)
        forker.join(2 * DEADLINE)
        assert not forker.is_alive(), "a fork did not return"
    assert statuses == [0] * forks, statuses
    running.end()
    ok()


class Trader(dedezi.AK7RResponseListener):
    """A new demo session with its tables loaded, which sends orders to the desk and counts the
    TABLES_UPDATES batches that each of its requests caused."""

    def __init__(self):
        super().__init__()
        self.batches = collections.Counter()
        self.changed = threading.Condition()
        self.session = dedezi.K7RTransport.create_session()
        self.manager_listener = Loaded()
        self.session.use_table_manager(YES, self.manager_listener)
        self.session.subscribe_response(self)
        status = Connect()
        self.session.subscribe_session_status(status)
        assert self.session.login("demo", "demo", "sim://stress", "Demo")
        assert status.connected.wait(DEADLINE), "no login"
        self.session.unsubscribe_session_status(status)
        assert self.manager_listener.loaded.wait(DEADLINE), "no tables"
        self.manager = self.session.table_manager
        self.account = self.manager.get_table(dedezi.K7RTableType.ACCOUNTS).get_row(0).account_id

    def on_request_completed(self, request_id, response):
        pass

    def on_request_failed(self, request_id, error):
        pass

    def on_tables_updates(self, response):
        with self.changed:
            self.batches[response.request_id] += 1
            self.changed.notify_all()

    def wait_batches(self, request_id, n):
        with self.changed:
            return self.changed.wait_for(lambda: self.batches[request_id] >= n, DEADLINE)

    def rows(self, table):
        return list(self.manager.get_table(table))

    def send(self, command=dedezi.Constants.Commands.CREATE_ORDER, **params):
        """Sends a command to the desk, with {parameter name: str, int or float}; gives its
        request id."""
        factory = self.session.request_factory
        values = factory.create_value_map()
        values.set_string(Params.COMMAND, command)
        for name, value in params.items():
            setter = {str: values.set_string, float: values.set_double}.get(type(value), values.set_int)
            setter(getattr(Params, name.upper()), value)
        request = factory.create_order_request(values)
        self.session.send_request(request)
        return request.request_id

    def open(self, side, offer_id="1"):
        return self.send(order_type=Orders.TRUE_MARKET_OPEN, offer_id=offer_id, account_id=self.account,
                         buy_sell=side, amount=1000)


class Loaded(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.loaded = threading.Event()

    def on_status_changed(self, status, manager):
        if status == dedezi.K7RTableManagerStatus.TABLES_LOADED:
            self.loaded.set()


class Ticked(dedezi.AK7RTableListener):
    def __init__(self):
        super().__init__()
        self.ticked = threading.Event()

    def on_changed(self, row_id, row):
        self.ticked.set()


def _child_trades():
    """In a forked child: the exit status of a new session of the parent's user that logs in,
    sends a market order and hears it filled, and hears a price tick; 0 once it has."""
    signal.alarm(int(DEADLINE))
    try:
        trader = Trader()
        ticks = Ticked()
        trader.manager.get_table(dedezi.K7RTableType.OFFERS).subscribe_update(UPDATE, ticks)
        if not trader.wait_batches(trader.open(BUY), 2):  # placed, then filled
            return 2
        return 0 if ticks.ticked.wait(DEADLINE) else 3
    except BaseException:
        traceback.print_exc()
        return 1


def _keep_trading(trader, offer_id, stop, failures):
    """Until `stop`: opens at the market and closes what it opened before, places an entry order
    that waits and takes out the one placed before, and one that the market is through already,
    each time waiting for the desk's batches, so that a few trades stay open and are marked at
    every price."""
    T = dedezi.K7RTableType
    side = BUY
    try:
        while not stop.is_set():
            assert trader.wait_batches(trader.open(side, offer_id), 2), "not filled"
            side = SELL if side == BUY else BUY
            for trade in [t for t in trader.rows(T.TRADES) if t.offer_id == offer_id][:-3]:
                closing = trader.send(order_type=Orders.TRUE_MARKET_CLOSE, trade_id=trade.trade_id,
                                      buy_sell=SELL if trade.buy_sell == BUY else BUY)
                assert trader.wait_batches(closing, 2), "not closed"
            (offer,) = [o for o in trader.rows(T.OFFERS) if o.offer_id == offer_id]
            waiting = [o.order_id for o in trader.rows(T.ORDERS)
                       if o.offer_id == offer_id and o.type == Orders.STOP_ENTRY]
            for away, batches in ((100, 1), (-5, 2)):  # pips above the ask: it waits; below: it fills
                entry = trader.send(order_type=Orders.STOP_ENTRY, offer_id=offer_id, account_id=trader.account,
                                    buy_sell=BUY, amount=1000,
                                    rate=round(offer.ask + away * offer.point_size, offer.digits))
                assert trader.wait_batches(entry, batches), "not placed"
            for order_id in waiting:
                deleting = trader.send(dedezi.Constants.Commands.DELETE_ORDER, order_id=order_id)
                assert trader.wait_batches(deleting, 1), "not taken out"
    except BaseException as error:  # reported by the main thread
        failures.append(repr(error))


def _keep_logging_in(stop, failures):
    """Another session of the same user logs in and out, with its tables, until `stop`."""
    session = dedezi.K7RTransport.create_session()
    session.use_table_manager(YES, Quiet())
    try:
        while not stop.is_set():
            status = Connect()
            session.subscribe_session_status(status)
            assert session.login("demo", "demo", "sim://stress", "Demo")
            assert status.connected.wait(DEADLINE), "no login"
            session.unsubscribe_session_status(status)
            session.logout()
            assert until(lambda: session.session_status == Status.DISCONNECTED), "no logout"
    except BaseException as error:  # reported by the main thread
        failures.append(repr(error))


def fork_during_trading(forks=12, traders=2):
    """A thread forks again and again while the desk is busy: prices tick, orders fill and close,
    entry orders wait, and another session of the user logs in and out. Each child, a copy of
    that moment, logs a new session of the same user in, hears its market order filled and a
    price tick, and ends at once."""
    sim.reset()
    sim.price_ticks(True, 1)
    stop = threading.Event()
    failures = []
    workers = [daemon(_keep_trading, Trader(), str(n + 1), stop, failures) for n in range(traders)]
    workers.append(daemon(_keep_logging_in, stop, failures))
    statuses, took = [], []

    def fork():
        start = time.monotonic()
        pid = os.fork()
        if pid == 0:
            os._exit(_child_trades())
        statuses.append(_ended(pid, DEADLINE))
        took.append(time.monotonic() - start)

    while len(statuses) < forks and statuses.count(0) == len(statuses):
        forker = daemon(fork)
        forker.join(2 * DEADLINE)
        assert not forker.is_alive(), "a fork did not return"
    stop.set()
    for worker in workers:
        worker.join(DEADLINE)
        assert not worker.is_alive(), "a trading thread did not end"
    assert not failures, failures
    assert statuses == [0] * forks, statuses
    assert max(took) < 3.0, took
    ok()


def _ended(pid, timeout):
    """The exit status of child `pid`, or "running" (and it is killed) after `timeout` seconds."""
    handle = os.pidfd_open(pid)
    ready, _, _ = select.select([handle], [], [], timeout)
    os.close(handle)
    if not ready:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return "running"
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])


# --- from inside callbacks -------------------------------------------------------------------

def _inside(w, kind_name, action):
    """Subscribes one listener of the kind whose first callback runs action(w, kind, listener) on
    the library's thread, firing the kind until that has happened; gives (kind, listener, what
    the action gave or raised)."""
    kind = KINDS[kind_name]
    done = threading.Event()
    outcome = []

    def on_call(listener, method, args):
        if done.is_set():
            return
        try:
            outcome.append(action(w, kind, listener))
        except BaseException as error:  # the case looks at it
            outcome.append(error)
        done.set()

    listener = kind.make(on_call)
    kind.subscribe(w, listener)
    start = time.monotonic()
    while not done.wait(0.05):
        assert time.monotonic() - start < DEADLINE, "the callback never ran, or never returned"
        kind.fire(w)
    return kind, listener, outcome[0]


def unsubscribe_inside(kind_name):
    """A listener unsubscribes itself from inside its own callback, while more of its callbacks
    are fired: no deadlock, nothing held, the Python reference back."""
    w = World()
    kind, listener, result = _inside(w, kind_name, lambda w, kind, l: kind.unsubscribe(w, l))
    assert result is None, result
    for _ in range(20):
        kind.fire(w)
    assert sim.flush(DEADLINE)
    if kind.held:
        assert until(lambda: kind.held(w) == 0), kind.held(w)
    # A subscription job that had not run yet holds the listener until it has.
    assert until(lambda: sys.getrefcount(listener) == 2), sys.getrefcount(listener)
    ok()


def unsubscribe_on_threads(kind_name, rounds=10, deliveries=4):
    """The world's hooks deliver on threads of their own, and every callback of a listener removes
    it once another one is inside too (when the kind's deliveries can overlap), so that several
    threads remove one listener at once, its last reference going with them: no thread waits for
    another for good, each listener goes, and every count is back."""
    kind = KINDS[kind_name]
    w = World()
    before = w.counts()
    held = kind.held or (lambda w: 0)
    sim.hooks_on_threads(True)
    for _ in range(rounds):
        # A table's subscriptions reach the library later: the last round's unsubscription first.
        assert until(lambda: held(w) == 0), held(w)
        meet = threading.Barrier(2, timeout=0.2)

        def on_call(listener, method, args):
            try:
                meet.wait()
            except threading.BrokenBarrierError:
                pass  # the kind delivers one at a time, or the others found it stopped
            kind.unsubscribe(w, listener)

        listener = kind.make(on_call)
        kind.subscribe(w, listener)
        freed = threading.Event()
        weakref.finalize(listener, freed.set)
        del listener
        # Until a delivery reached it (a table's subscription may not have yet); one still on its
        # way from an earlier round may be the one.
        start = time.monotonic()
        while not freed.is_set():
            assert time.monotonic() - start < DEADLINE, "a listener removed on several threads never went"
            for _ in range(deliveries):
                kind.fire(w)
            freed.wait(0.05)
    sim.hooks_on_threads(False)
    assert until(lambda: held(w) == 0), held(w)
    w.settle(before)
    ok()


def logout_inside(kind_name):
    """A callback logs the session out: the logout runs its course, and everything is released
    once the listener is unsubscribed."""
    w = World()
    kind, listener, result = _inside(w, kind_name, lambda w, kind, l: w.session.logout())
    assert result is None, result
    assert until(lambda: w.session.session_status == Status.DISCONNECTED)
    kind.unsubscribe(w, listener)
    ok()


def finalize_inside(kind_name):
    """A callback finalizes the library; the script then ends normally."""
    w = World()
    kind, listener, result = _inside(w, kind_name, lambda w, kind, l: dedezi.K7RTransport.finalize())
    # On the late-call worker the worker cannot stop itself: the module says so.
    assert (result is None and sim.finialize_calls() == 1) or isinstance(result, RuntimeError), result
    ok()


def wait_inside(kind_name, wait_name):
    """A callback makes a call that waits for a library thread: it is refused at once with
    RuntimeError, and nothing is left subscribed or referenced."""
    wait = WAITS[wait_name]
    w = World()
    wait.hold(w, True)
    listeners_before = sim.communicator_listeners(w.cid)
    before = w.counts()
    start = time.monotonic()
    kind, listener, result = _inside(w, kind_name, lambda w, kind, l: wait.call(w))
    elapsed = time.monotonic() - start
    assert isinstance(result, RuntimeError), repr(result)
    assert "listener callback" in str(result), str(result)
    assert elapsed < 5, elapsed
    kind.unsubscribe(w, listener)
    del listener, result
    assert sim.plenta_pending() == [] and sim.zorvat_held() == 0
    assert sim.communicator_listeners(w.cid) == listeners_before
    w.settle(before)
    ok()


# --- waits that end ----------------------------------------------------------------------------

def wait_ended(wait_name, ending):
    """The main thread waits on a call its library never answers; a logout, finalize, the
    deletion of a queue's events or Ctrl-C ends the wait with the library's error, None or
    KeyboardInterrupt, everything released."""
    wait = WAITS[wait_name]
    w = World()
    wait.hold(w, True)
    listeners_before = sim.communicator_listeners(w.cid)
    before = w.counts()
    ended_at = []

    def end():
        assert wait.await_waiting(w, 1)
        ended_at.append(time.monotonic())
        if ending == "logout":
            w.session.logout()
        elif ending == "finalize":
            dedezi.K7RTransport.finalize()
        elif ending == "delete_all_events":
            wait.wake(w)
        else:
            signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    ender = daemon(end)
    try:
        result = wait.call(w)
    except KeyboardInterrupt:
        outcome = "KeyboardInterrupt"
    except Exception as error:
        outcome = str(error)
    else:
        outcome = f"returned {result!r}"
    elapsed = time.monotonic() - ended_at[0]
    ender.join(DEADLINE)
    print(outcome, flush=True)
    assert elapsed < 0.5, f"the wait ended {elapsed:.3f}s after it was told to"
    if ending != "finalize":
        assert sim.communicator_listeners(w.cid) == listeners_before
        # A logout lets go of the session's tables too: only the wait's own objects are compared.
        w.settle(before, wait.objects if ending == "logout" else None)
    ok()


# --- exit and finalize with threads waiting and callbacks running -------------------------------

def exit_while_waiting(wait_name, ending, threads=4):
    """Daemon threads wait in a waiting call, again and again, as the script exits: plainly, while
    their calls are answered, after finalize, or with finalize in an exit handler (so the waits end
    as the interpreter finalizes). The process must end normally."""
    wait = WAITS[wait_name]
    w = World()
    wait.hold(w, ending != "answered")

    def loop():
        while True:
            try:
                if ending == "answered":
                    wait.release(w)  # before the call: a queue has nothing until it is put
                wait.call(w)
            except Exception:
                pass

    for _ in range(threads):
        daemon(loop)
    if ending != "answered":
        assert wait.await_waiting(w, threads)
    else:
        threading.Event().wait(0.2)
    if ending == "finalize":
        dedezi.K7RTransport.finalize()
    elif ending == "finalize_at_exit":
        atexit.register(dedezi.K7RTransport.finalize)  # runs before the modules' own exit handlers
    ok()


def exit_while_callback_runs(seconds, style, kind_name="session_status"):
    """Library threads are inside Python callbacks that go on for `seconds` as the script exits:
    within the exit's wait for them, or past it. The process must end normally. A table event
    hands its override a row made for the call, which the ended thread must leave alone."""
    w = World()
    entered = threading.Event()
    # Only the callback the kind's fire() calls is busy; the kind's others return at once.
    busy_method = {"session_status": "on_session_status_changed",
                   "table_update": "on_changed"}[kind_name]

    def on_call(listener, method, args):
        if method != busy_method:
            return
        entered.set()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if style == "sleep":
                time.sleep(0.01)
            elif style == "print":
                print("busy", file=sys.stderr, flush=True)
                time.sleep(0.005)
            else:
                pass

    kind = KINDS[kind_name]
    listener = kind.make(on_call)
    held = kind.held(w)
    kind.subscribe(w, listener)  # a table's subscription reaches the library later
    assert until(lambda: kind.held(w) == held + 1)
    kind.fire(w)
    assert entered.wait(DEADLINE)
    ok()


def finalize_in_flight(seconds=0.3):
    """finalize while callbacks run, a history fetch waits and control hooks wait for the world's
    thread; then the script exits. The process must end normally."""
    w = World()

    class Slow(dedezi.AK7RSessionStatus):
        def on_session_status_changed(self, status):
            time.sleep(0.001)

        def on_login_failed(self, error):
            pass

    listener = Slow()
    w.session.subscribe_session_status(listener)

    def hooks():
        while True:
            sim.fire_session_status(w.sid, int(Status.CONNECTED), wait=True, timeout=1.0)

    def fetches():
        while True:
            try:
                w.comm.get_history("EUR/USD", w.m1, None, None, 3)
            except Exception:
                pass

    def flushes():
        while True:
            sim.flush(1.0)

    for target in (hooks, hooks, fetches, fetches, flushes):
        daemon(target)
    threading.Event().wait(seconds)
    dedezi.K7RTransport.finalize()
    ok()
