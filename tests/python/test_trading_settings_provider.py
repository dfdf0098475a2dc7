"""tests/python/test_trading_settings_provider.py: the K7RTradingSettingsProvider and K7RMargins
classes: the demo server's limits per instrument and account, the margins and their three-level
policy, the two trailing-step properties, and what an unknown instrument or no account gives."""

import pytest

import dedezi

pytestmark = pytest.mark.timeout(60)

T = dedezi.K7RTableType
Market = dedezi.K7RMarketStatus

# instrument: (base unit size, minimum, maximum) on the demo account.
UNITS = {"EUR/USD": (1000, 1000, 50_000_000), "USD/JPY": (1000, 1000, 50_000_000),
         "XAU/USD": (1, 1, 10_000), "US30": (1, 1, 5_000)}
DISTANCES = ("get_cond_dist_stop_for_trade", "get_cond_dist_limit_for_trade",
             "get_cond_dist_entry_stop", "get_cond_dist_entry_limit")
QUANTITIES = ("get_base_unit_size", "get_min_quantity", "get_max_quantity")


@pytest.fixture
def settings(loaded):
    session, _, manager = loaded
    account = manager.get_table(T.ACCOUNTS).get_row(0)
    return session.login_rules.trading_settings_provider, account


@pytest.mark.parametrize("instrument", list(UNITS))
def test_units_distances_and_market_of_the_demo_instruments(settings, instrument):
    provider, account = settings
    assert tuple(getattr(provider, q)(instrument, account) for q in QUANTITIES) == UNITS[instrument]
    assert all(getattr(provider, d)(instrument) >= 0 for d in DISTANCES)
    # The demo markets trade around the clock.
    assert provider.get_market_status(instrument) is Market.MARKET_STATUS_OPEN


@pytest.mark.parametrize("instrument", list(UNITS))
def test_margins_use_the_three_level_policy(settings, instrument):
    provider, account = settings
    margins = provider.get_margins(instrument, account)
    assert type(margins) is dedezi.K7RMargins
    assert margins.is_3level_margin() is True
    assert min(margins.mmr, margins.emr, margins.lmr) > 0
    assert provider.get_mmr(instrument, account) == margins.mmr


def test_the_account_decides_the_lot_and_caps_the_amount(tables, settings):
    provider, _ = settings
    account = tables.insert(T.ACCOUNTS, {"AccountID": "ACC-LOT", "BaseUnitSize": 10_000,
                                         "AmountLimit": 2_000_000})
    assert type(account) is dedezi.K7RAccountTableRow
    assert [getattr(provider, q)("EUR/USD", account) for q in QUANTITIES] == \
        [10_000, 10_000, 2_000_000]
    # Gold keeps its own unit; the cap holds for it too.
    assert [getattr(provider, q)("XAU/USD", account) for q in QUANTITIES] == [1, 1, 10_000]
    assert provider.get_mmr("EUR/USD", account) == 10 * provider.get_mmr("EUR/USD", settings[1])


def test_a_plain_account_row_is_accepted(loaded, settings):
    session, _, _ = loaded
    provider, _ = settings
    reader = session.response_reader_factory.create_reader(
        session.login_rules.get_table_refresh_response(T.ACCOUNTS))
    plain = reader.get_row(0)
    assert type(plain) is dedezi.K7RAccountRow
    assert provider.get_base_unit_size("EUR/USD", plain) == 1000


def test_an_unknown_instrument_gives_zeros_and_an_undefined_market(settings):
    provider, account = settings
    assert [getattr(provider, d)("ABC/XYZ") for d in DISTANCES] == [0, 0, 0, 0]
    assert [getattr(provider, q)("ABC/XYZ", account) for q in QUANTITIES] == [0, 0, 0]
    assert provider.get_market_status("ABC/XYZ") is Market.MARKET_STATUS_UNDEFINED
    assert provider.get_mmr("ABC/XYZ", account) == 0.0


def test_no_account_reaches_the_library_as_null(sim, settings):
    provider, _ = settings
    assert provider.get_base_unit_size("EUR/USD", None) == 0
    margins = provider.get_margins("EUR/USD", None)
    assert (margins.mmr, margins.emr, margins.lmr, margins.is_3level_margin()) == (0, 0, 0, False)
    assert [args for _, args in sim.journal("IK7RTradingSettingsProvider::getBaseUnitSize")] == \
        [(b"EUR/USD", None)]


def test_margins_the_library_leaves_unwritten_stay_zero(sim, settings):
    provider, account = settings
    sim.fault("IK7RTradingSettingsProvider::getMargins", "false")
    margins = provider.get_margins("EUR/USD", account)
    assert (margins.mmr, margins.emr, margins.lmr, margins.is_3level_margin()) == \
        (0.0, 0.0, 0.0, False)


def test_trailing_steps_are_properties_and_everything_else_methods(settings):
    provider, _ = settings
    members = vars(dedezi.K7RTradingSettingsProvider)
    properties = {n for n, m in members.items() if isinstance(m, property)}
    assert properties == {"min_trailing_step", "max_trailing_step"}
    assert 0 < provider.min_trailing_step < provider.max_trailing_step
    with pytest.raises(AttributeError):
        provider.min_trailing_step = 5


def test_trailing_steps_are_the_servers_properties(sim, settings):
    provider, _ = settings
    assert (provider.min_trailing_step, provider.max_trailing_step) == (10, 300)
    sim.set_system_property("TRAILING_FLUCTUATE_PTS_MIN", "5")
    sim.set_system_property("TRAILING_FLUCTUATE_PTS_MAX", "not a number")
    assert (provider.min_trailing_step, provider.max_trailing_step) == (5, 300)


def test_margins_have_no_constructor_and_read_only_levels(settings):
    provider, account = settings
    with pytest.raises(RuntimeError):
        dedezi.K7RMargins()
    margins = provider.get_margins("EUR/USD", account)
    with pytest.raises(AttributeError):
        margins.mmr = 1.0


PROVIDER_DOCS = {
    None: "Checks trading settings.",
    "get_cond_dist_stop_for_trade": "Gets the minimal distance between the rates of the stop "
                                    "order for the position and the current market rate.",
    "get_cond_dist_limit_for_trade": "Gets the minimal distance between the rates of the limit "
                                     "order for the position and the current market rate.",
    "get_cond_dist_entry_stop": "Gets the minimal distance between the rates of the entry stop "
                                "order and the current market rate.",
    "get_cond_dist_entry_limit": "Gets the minimal distance between the rates of the entry limit "
                                 "order and the current market rate.",
    "get_min_quantity": "Gets the minimum size of a trade or of a market order.",
    "get_max_quantity": "Gets the maximum size of a trade or of a market order.",
    "get_base_unit_size": "Gets the size of one lot, i.e. the minimum amount per trade that is "
                          "allowed on the instrument on the account.",
    "get_market_status": "Checks whether the trading in the instrument is allowed (whether the "
                         "market is opened or closed).",
    "min_trailing_step": "Gets the minimum size of the market movement after which an order must "
                         "be moved following the market.",
    "max_trailing_step": "Gets the maximum size of the market movement after which an order must "
                         "be moved following the market.",
    "get_mmr": "Gets the minimum margin requirement.",
    "get_margins": "Gets the margin policy used and the three margin levels.",
}
MARGINS_DOCS = {
    None: "Checks whether the three level margin policy is used and specifies the three margin "
          "levels.",
    "mmr": "Gets the maintenance margin level.",
    "emr": "Gets the entry margin level.",
    "lmr": "Gets the limitation margin level.",
    "is_3level_margin": "Checks whether the three level margin policy is used.",
}
DOCS = [(dedezi.K7RTradingSettingsProvider, n, d) for n, d in PROVIDER_DOCS.items()] + \
       [(dedezi.K7RMargins, n, d) for n, d in MARGINS_DOCS.items()]


@pytest.mark.parametrize("cls, name, doc", DOCS)
def test_docstrings(cls, name, doc):
    obj = cls if name is None else vars(cls)[name]
    assert obj.__doc__.lstrip("\n") == doc


def test_members_in_registration_order():
    names = [n for n in vars(dedezi.K7RTradingSettingsProvider) if not n.startswith("_")]
    assert names == [n for n in PROVIDER_DOCS if n]
