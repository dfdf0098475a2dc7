"""tests/python/test_login_rules.py: the K7RLoginRules class against the simulated server: the
tables a login loads, the login's table refresh responses read through the reader factory, the
permission checker and the trading settings provider it hands out, and None for whatever the
library gives none of."""

import gc

import pytest

import dedezi

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
# What a login of the demo account refreshes, by table: the response type and the rows.
REFRESHED = {T.OFFERS: dedezi.K7RResponseType.GET_OFFERS,
             T.ACCOUNTS: dedezi.K7RResponseType.GET_ACCOUNTS,
             T.ORDERS: dedezi.K7RResponseType.GET_ORDERS,
             T.TRADES: dedezi.K7RResponseType.GET_TRADES,
             T.CLOSED_TRADES: dedezi.K7RResponseType.GET_CLOSED_TRADES,
             T.MESSAGES: dedezi.K7RResponseType.GET_MESSAGES}
TABLES = [T.OFFERS, T.ACCOUNTS, T.ORDERS, T.TRADES, T.CLOSED_TRADES, T.MESSAGES, T.SUMMARY]
KEYS = {T.OFFERS: "offer_id", T.ACCOUNTS: "account_id", T.ORDERS: "order_id",
        T.TRADES: "trade_id", T.CLOSED_TRADES: "trade_id", T.MESSAGES: "msg_id"}


@pytest.fixture
def rules(loaded):
    session, _, _ = loaded
    return session.login_rules


def test_every_table_is_loaded_by_default(rules):
    assert [rules.is_table_loaded_by_default(t) for t in TABLES] == [True] * 7
    assert rules.is_table_loaded_by_default(T.TABLE_UNKNOWN) is False


@pytest.mark.parametrize("table", list(REFRESHED))
def test_refresh_response_holds_the_rows_of_the_login(loaded, rules, table):
    session, _, manager = loaded
    response = rules.get_table_refresh_response(table)
    assert response.type == REFRESHED[table]
    reader = session.response_reader_factory.create_reader(response)
    key = KEYS[table]
    live = manager.get_table(table)
    assert [getattr(row, key) for row in reader] == [getattr(row, key) for row in live]
    assert all(type(row).__name__.endswith("Row") and "TableRow" not in type(row).__name__
               for row in reader)


def test_demo_login_refreshes_offers_account_and_welcome_message(loaded, rules):
    session, _, _ = loaded
    sizes = {t: len(session.response_reader_factory.create_reader(
        rules.get_table_refresh_response(t))) for t in REFRESHED}
    assert sizes == {T.OFFERS: 9, T.ACCOUNTS: 1, T.ORDERS: 0, T.TRADES: 0, T.CLOSED_TRADES: 0,
                     T.MESSAGES: 1}


def test_summary_and_unknown_tables_have_no_refresh_response(rules):
    assert rules.get_table_refresh_response(T.SUMMARY) is None
    assert rules.get_table_refresh_response(T.TABLE_UNKNOWN) is None


def test_tables_not_loaded_at_login_have_no_refresh_response(sim):
    from helpers import log_in, new_session
    sim.set_login_tables([int(T.OFFERS), int(T.SUMMARY)])
    session, _ = new_session(sim)
    log_in(session)
    rules = session.login_rules
    assert [rules.is_table_loaded_by_default(t) for t in TABLES] == \
        [True, False, False, False, False, False, True]
    assert rules.get_table_refresh_response(T.OFFERS) is not None
    assert rules.get_table_refresh_response(T.ACCOUNTS) is None
    session.logout()


def test_system_properties_response_carries_the_servers_set_at_login(sim, loaded, rules):
    session, session_id, _ = loaded
    response = rules.system_properties_response
    assert response.type == dedezi.K7RResponseType.GET_SYSTEM_PROPERTIES
    sent = sim.login_properties(session_id)
    assert sent == sim.system_properties()
    assert ("BASE_CRNCY", "USD") in sent and ("TRAILING_DYNAMIC", "N") in sent
    reader = session.response_reader_factory.create_reader(response)
    assert [(p.name, p.value) for p in reader] == sent


def test_a_changed_property_reaches_later_logins_only(sim):
    from helpers import log_in, new_session
    first, first_id = new_session(sim)
    log_in(first)
    assert sim.fire_system_property(first_id, "BASE_CRNCY", "EUR")
    assert ("BASE_CRNCY", "EUR") in sim.system_properties()
    assert ("BASE_CRNCY", "USD") in sim.login_properties(first_id)
    later, later_id = new_session(sim)
    log_in(later)
    assert ("BASE_CRNCY", "EUR") in sim.login_properties(later_id)
    first.logout()
    later.logout()


def test_the_services_it_hands_out(rules):
    assert type(rules.permission_checker) is dedezi.K7RPermissionChecker
    assert type(rules.trading_settings_provider) is dedezi.K7RTradingSettingsProvider


@pytest.mark.parametrize("read, op", [
    (lambda r: r.get_table_refresh_response(T.OFFERS), "getTableRefreshResponse"),
    (lambda r: r.system_properties_response, "getSystemPropertiesResponse"),
    (lambda r: r.permission_checker, "getPermissionChecker"),
    (lambda r: r.trading_settings_provider, "getTradingSettingsProvider"),
])
def test_nothing_from_the_library_gives_none(sim, rules, read, op):
    sim.fault("IK7RLoginRules::" + op, "null")
    assert read(rules) is None


def test_responses_and_services_give_back_their_references(sim, rules):
    kinds = ("IK7RPermissionChecker", "IK7RTradingSettingsProvider")
    held = (rules.get_table_refresh_response(T.OFFERS), rules.permission_checker,
            rules.trading_settings_provider)
    responses = sim.release_calls("IK7RResponse")
    del held
    gc.collect()
    assert sim.release_calls("IK7RResponse") == responses + 1
    assert [sim.live(kind) for kind in kinds] == [0, 0]


@pytest.mark.parametrize("name, doc", [
    (None, "Information about the rules used during the login in the currently established "
           "session."),
    ("is_table_loaded_by_default", "Checks whether the table was loaded during the login."),
    ("get_table_refresh_response", "Gets a response for the table refresh command automatically "
                                   "executed during the login."),
    ("system_properties_response", "Gets a response for the system properties received during "
                                   "the login."),
    ("permission_checker", "Gets an instance of the permission checker."),
    ("trading_settings_provider", "Gets an instance of the trading settings provider."),
])
def test_docstrings(name, doc):
    obj = dedezi.K7RLoginRules if name is None else vars(dedezi.K7RLoginRules)[name]
    assert obj.__doc__.lstrip("\n") == doc


def test_no_python_constructor():
    with pytest.raises(RuntimeError):
        dedezi.K7RLoginRules()
