"""What the trading server tells a logged-in account, through dedezi's session services.

Logs in as demo/demo with the table manager and prints the account's balance and equity, the
trading settings and margins of EUR/USD, the commission of opening and of closing 10,000 EUR/USD,
its rollover, a few of the server's system properties, and the server time in UTC, New York time
(EST) and local time. Then logs out.
"""
import threading

import dedezi

Status = dedezi.AK7RSessionStatus.K7RSessionStatus
Tables = dedezi.K7RTableType
Zone = dedezi.K7RTimeConverter.TimeZone
Properties = dedezi.Constants.SystemProperties


class Waiter:
    """Remembers what a listener was told and lets the main thread wait for a value."""

    def __init__(self):
        self.changed = threading.Condition()
        self.seen = []

    def tell(self, value):
        with self.changed:
            self.seen.append(value)
            self.changed.notify_all()

    def wait_for(self, value, what, timeout=10.0):
        with self.changed:
            if not self.changed.wait_for(lambda: value in self.seen, timeout):
                raise TimeoutError(f"{what}: no {value} within {timeout} s (saw {self.seen})")


class SessionStatus(dedezi.AK7RSessionStatus):
    def __init__(self):
        super().__init__()
        self.statuses = Waiter()

    def on_session_status_changed(self, status):
        self.statuses.tell(status)

    def on_login_failed(self, error):
        print(f"login failed: {error}")


class TablesStatus(dedezi.AK7RTableManagerListener):
    def __init__(self):
        super().__init__()
        self.statuses = Waiter()

    def on_status_changed(self, status, manager):
        self.statuses.tell(status)


class CommissionsStatus(dedezi.AK7RCommissionProviderListener):
    def __init__(self):
        super().__init__()
        self.statuses = Waiter()

    def on_change_commission_provider_status(self, status):
        self.statuses.tell(status)

    def on_need_update_commissions(self):
        print("commissions changed")


class RolloverStatus(dedezi.AK7RRolloverProviderListener):
    def __init__(self):
        super().__init__()
        self.statuses = Waiter()

    def on_status_changed(self, status):
        self.statuses.tell(status)


def main():
    session = dedezi.K7RTransport.create_session()
    status, tables = SessionStatus(), TablesStatus()
    commissions, rollover = session.commissions_provider, session.rollover_provider
    commissions_status, rollover_status = CommissionsStatus(), RolloverStatus()
    session.subscribe_session_status(status)
    commissions.subscribe(commissions_status)
    rollover.subscribe(rollover_status)
    session.use_table_manager(dedezi.K7RTableManagerMode.YES, tables)

    print("logging in as demo")
    session.login("demo", "demo", "sim://demo", "Demo")
    status.statuses.wait_for(Status.CONNECTED, "login")
    tables.statuses.wait_for(dedezi.K7RTableManagerStatus.TABLES_LOADED, "tables")
    commissions_status.statuses.wait_for(dedezi.K7RCommissionStatus.COMMISSION_STATUS_READY,
                                         "commissions")
    rollover_status.statuses.wait_for(dedezi.K7RRolloverStatus.ROLLOVER_READY, "rollover")

    manager = session.table_manager
    account = manager.get_table(Tables.ACCOUNTS).get_row(0)
    print(f"account {account.account_id}: balance {account.balance:.2f}, equity {account.equity:.2f}")

    rules = session.login_rules
    settings = rules.trading_settings_provider
    instrument = "EUR/USD"
    print(f"{instrument}: market {settings.get_market_status(instrument).name}, "
          f"lot {settings.get_base_unit_size(instrument, account)}, "
          f"amounts {settings.get_min_quantity(instrument, account)}"
          f"..{settings.get_max_quantity(instrument, account)}, "
          f"stop distance {settings.get_cond_dist_stop_for_trade(instrument)}, "
          f"trailing step {settings.min_trailing_step}..{settings.max_trailing_step}")
    margins = settings.get_margins(instrument, account)
    policy = "three-level" if margins.is_3level_margin() else "single-level"
    print(f"  margins ({policy}): maintenance {margins.mmr:.2f}, entry {margins.emr:.2f}, "
          f"limitation {margins.lmr:.2f}")

    offer = next(iter(manager.get_table(Tables.OFFERS).get_rows_by_column_value("instrument",
                                                                              instrument)))
    amount = 10_000
    opening = commissions.calc_open_commission(offer, account, amount, dedezi.Constants.BUY, offer.ask)
    closing = commissions.calc_close_commission(offer, account, amount, dedezi.Constants.SELL, offer.bid)
    print(f"  commission on {amount} {instrument}: {opening:.2f} to open, {closing:.2f} to close")
    print(f"  rollover: {rollover.get_rollover_buy(offer, account):+.2f} a lot bought, "
          f"{rollover.get_rollover_sell(offer, account):+.2f} a lot sold")

    properties = session.response_reader_factory.create_reader(rules.system_properties_response)
    for name in (Properties.BASE_CRNCY, Properties.BASE_TIME_ZONE, Properties.END_TRADING_DAY,
                 Properties.SERVER_TIME_UTC):
        print(f"system property {name}: {properties.find_property(name)}")

    converter = session.time_converter
    now = session.server_time
    for label, zone in (("UTC", Zone.UTC), ("New York", Zone.EST), ("local", Zone.LOCAL)):
        print(f"server time, {label}: {converter.convert(now, Zone.SERVER, zone):%Y-%m-%d %H:%M:%S}")

    print("logging out")
    session.logout()
    status.statuses.wait_for(Status.DISCONNECTED, "logout")
    rollover.unsubscribe(rollover_status)
    commissions.unsubscribe(commissions_status)
    session.unsubscribe_session_status(status)
    dedezi.K7RTransport.finalize()


if __name__ == "__main__":
    main()
