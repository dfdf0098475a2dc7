"""tests/python/test_permission_checker.py: the K7RPermissionChecker class: its 35 questions in
the library's order, and the simulated demo account's answers for the offers' instruments and for
an instrument the server does not know, each held against what the server does with the request
that the question is about."""

import pytest

import dedezi
from helpers import send_command
from test_velvix_sim_orders import desk  # noqa: F401 (a fixture)
from test_velvix_sim_stops import LIMIT, STOP, level, trader  # noqa: F401 (trader is a fixture)

pytestmark = pytest.mark.timeout(60)

P = dedezi.K7RPermissionStatus
ENABLED, DISABLED, HIDDEN = P.PERMISSION_ENABLED, P.PERMISSION_DISABLED, P.PERMISSION_HIDDEN
RESERVED = "Reserved for future use."

# (method, docstring) in the order of the library's operations; the first 27 ask about an
# instrument, the last 8 about trailing orders.
INSTRUMENT_QUESTIONS = [
    ("can_create_market_open_order", "Determines whether the user may create open market orders."),
    ("can_change_market_open_order", "Determines whether the user may change open market orders."),
    ("can_delete_market_open_order", "Determines whether the user may delete an open market order."),
    ("can_create_market_close_order", "Determines whether the user may create close market orders."),
    ("can_change_market_close_order", "Determines whether the user may change close market orders."),
    ("can_delete_market_close_order", "Determines whether the user may delete close market orders."),
    ("can_create_entry_order", "Determines whether the user may create entry orders."),
    ("can_change_entry_order", "Determines whether the user may change entry orders."),
    ("can_delete_entry_order", "Determines whether the user may delete entry orders."),
    ("can_create_stop_limit_order", "Determines whether the user may create stop/limit orders."),
    ("can_change_stop_limit_order", "Determines whether the user may change stop/limit orders."),
    ("can_delete_stop_limit_order", "Determines whether the user may delete stop/limit orders."),
    ("can_request_quote", "Determines whether the user may request a quote."),
    ("can_accept_quote", "Determines whether the user may accept a quote provided by the dealer."),
    ("can_delete_quote", "Determines whether the user may delete a quote provided by the dealer."),
    ("can_create_oco", "Determines whether the user may create a new OCO order."),
    ("can_create_oto", "Determines whether the user may create a new OTO order."),
    ("can_join_to_new_contingency_group", RESERVED),
    ("can_join_to_existing_contingency_group", RESERVED),
    ("can_remove_from_contingency_group",
     "Determines whether the user may remove an order from contingency group."),
    ("can_change_offer_subscription", "Determines whether the user may change the offer subscription."),
    ("can_create_net_close_order", "Determines whether the user may create an order to close all "
                                   "positions for an instrument on an account."),
    ("can_change_net_close_order", "Determines whether the user may change an order to close all "
                                   "positions for an instrument on an account."),
    ("can_delete_net_close_order", "Determines whether the user may delete an order to close all "
                                   "positions for an instrument on an account."),
    ("can_create_net_stop_limit_order", "Determines whether the user may create net stop/limit orders."),
    ("can_change_net_stop_limit_order", "Determines whether the user may change net stop/limit orders."),
    ("can_delete_net_stop_limit_order", "Determines whether the user may delete net stop/limit orders."),
]
TRAILING_QUESTIONS = [
    ("can_use_dynamic_trailing_for_stop",
     "Determines whether the user may use trailing stop orders with a dynamic step."),
    ("can_use_dynamic_trailing_for_limit",
     "Determines whether the user may use trailing limit orders with a dynamic step."),
    ("can_use_dynamic_trailing_for_entry_stop",
     "Determines whether the user may use trailing entry stop and net stop orders with a dynamic step."),
    ("can_use_dynamic_trailing_for_entry_limit",
     "Determines whether the user may use trailing entry limit and net limit orders with a dynamic step."),
    ("can_use_fluctuate_trailing_for_stop",
     "Determines whether the user may use trailing stop orders with a fixed step."),
    ("can_use_fluctuate_trailing_for_limit",
     "Determines whether the user may use trailing limit orders with a fixed step."),
    ("can_use_fluctuate_trailing_for_entry_stop",
     "Determines whether the user may use trailing entry stop and net stop orders with a fixed step."),
    ("can_use_fluctuate_trailing_for_entry_limit",
     "Determines whether the user may use trailing entry limit and net limit orders with a fixed step."),
]
QUOTES = {"can_request_quote", "can_accept_quote", "can_delete_quote"}


@pytest.fixture
def checker(online_session):
    return online_session.login_rules.permission_checker


def test_35_questions_registered_in_the_library_order():
    names = [name for name in vars(dedezi.K7RPermissionChecker) if name.startswith("can_")]
    assert names == [name for name, _ in INSTRUMENT_QUESTIONS + TRAILING_QUESTIONS]


@pytest.mark.parametrize("name, doc", INSTRUMENT_QUESTIONS + TRAILING_QUESTIONS)
def test_docstrings(name, doc):
    assert vars(dedezi.K7RPermissionChecker)[name].__doc__.lstrip("\n") == doc


def test_class_docstring_and_no_constructor():
    assert dedezi.K7RPermissionChecker.__doc__ == "Checks permissions."
    with pytest.raises(RuntimeError):
        dedezi.K7RPermissionChecker()


# What the simulated desk does: market orders that open and close trades (which execute at once,
# so nothing changes or deletes them), entry orders, a trade's stops and limits, and changes of the
# offer subscription.
SERVER_DOES = {"can_create_market_open_order", "can_create_market_close_order",
               "can_create_entry_order", "can_change_entry_order", "can_delete_entry_order",
               "can_create_stop_limit_order", "can_change_stop_limit_order",
               "can_delete_stop_limit_order", "can_change_offer_subscription"}


@pytest.mark.parametrize("instrument", ["EUR/USD", "XAU/USD", "US30"])
def test_what_the_desk_does_is_enabled_and_the_rest_disabled(checker, instrument):
    answers = {name: getattr(checker, name)(instrument) for name, _ in INSTRUMENT_QUESTIONS}
    assert all(type(answer) is P for answer in answers.values())
    assert {name for name, answer in answers.items() if answer == ENABLED} == SERVER_DOES
    assert {name for name, answer in answers.items() if answer == DISABLED} == \
        {name for name, _ in INSTRUMENT_QUESTIONS} - SERVER_DOES


@pytest.mark.parametrize("instrument", ["ABC/XYZ", "eur/usd", ""])
def test_an_unknown_instrument_is_hidden(checker, instrument):
    assert {getattr(checker, name)(instrument) for name, _ in INSTRUMENT_QUESTIONS} == {HIDDEN}


def test_each_question_asks_the_library_operation_named_after_it(sim, checker):
    def lower_camel(name):
        first, *rest = name.split("_")
        return first + "".join(word.capitalize() for word in rest)

    sim.clear_journal()
    for name, _ in INSTRUMENT_QUESTIONS:
        getattr(checker, name)("EUR/USD")
    for name, _ in TRAILING_QUESTIONS:
        getattr(checker, name)()
    asked = [op for op, _ in sim.journal("IK7RPermissionChecker::")]
    assert asked == ["IK7RPermissionChecker::" + lower_camel(name)
                     for name, _ in INSTRUMENT_QUESTIONS + TRAILING_QUESTIONS]


def test_the_instrument_and_the_library_answer_pass_through(sim, checker):
    sim.fault("IK7RPermissionChecker::canCreateOco", "value", int(P.PERMISSION_UNKNOWN))
    assert checker.can_create_oco("EUR/USD") is P.PERMISSION_UNKNOWN
    assert sim.journal("IK7RPermissionChecker::canCreateOco") == \
        [("IK7RPermissionChecker::canCreateOco", (b"EUR/USD",))]


DYNAMIC = [name for name, _ in TRAILING_QUESTIONS if "dynamic" in name]
FIXED = [name for name, _ in TRAILING_QUESTIONS if "fluctuate" in name]


@pytest.mark.parametrize("dynamic, fixed", [("Y", "Y"), ("N", "Y"), ("Y", "N"), (None, None)],
                         ids=["the demo account's", "fixed only", "dynamic only", "not sent"])
def test_trailing_is_disabled_whatever_the_system_properties_say(sim, checker, dynamic, fixed):
    """The server trails no order, so no trailing property may enable one."""
    properties = [(name, value) for name, value in sim.system_properties()
                  if name not in ("TRAILING_DYNAMIC", "TRAILING_FLUCTUATE")]
    if dynamic is not None:
        properties.append(("TRAILING_DYNAMIC", dynamic))
    if fixed is not None:
        properties.append(("TRAILING_FLUCTUATE", fixed))
    sim.set_system_properties(properties)
    assert [getattr(checker, name)() for name in DYNAMIC + FIXED] == [DISABLED] * 8


# --- held against the server ---------------------------------------------------------------------
# For each question, the request a script sends to do what it asks, on EUR/USD, in virtual time so
# that a market order is still there to change or delete; each gives whether the server took it.

Params = dedezi.K7RRequestParamsEnum
Orders, Commands = dedezi.Constants.Orders, dedezi.Constants.Commands
BUY, SELL = dedezi.Constants.BUY, dedezi.Constants.SELL


def took(t, request_id):
    return t.answers.outcome(request_id)[0] == "completed"


def market_order(t, **extra):
    return t.send(order_type=Orders.TRUE_MARKET_OPEN, offer_id="1", buy_sell=BUY, amount=1_000,
                  account_id=t.account.account_id, **extra)


def entry_order(t, order_type=Orders.STOP_ENTRY, **extra):
    """A buy entry 50 pips off the market: a stop above it, a limit below."""
    offer = t.offer()
    rate = round(offer.ask + (0.005 if order_type == Orders.STOP_ENTRY else -0.005), 5)
    return t.send(order_type=order_type, offer_id="1", buy_sell=BUY, amount=1_000,
                  account_id=t.account.account_id, rate=rate, **extra)


def filled_trade(t):
    request_id = market_order(t)
    order_id = t.created(request_id)
    t.batch(request_id)  # once its row is in, its fill is due on the clock
    t.sim.advance(200)
    t.batch(request_id, 1)
    (trade,) = [row for row in t.rows(dedezi.K7RTableType.TRADES) if row.open_order_id == order_id]
    return trade


def on_trade(t, kind, **extra):
    """A stop or limit sent for a new trade, 20 pips off."""
    trade = filled_trade(t)
    return t.protect(trade, kind, level(t.offer(), BUY, kind, 20), **extra)


def close_order(t, **extra):
    return t.send(order_type=Orders.TRUE_MARKET_CLOSE, trade_id=filled_trade(t).trade_id, **extra)


def net_close(t):
    return t.send(order_type=Orders.TRUE_MARKET_CLOSE, offer_id="1", buy_sell=SELL,
                  account_id=t.account.account_id, net_quantity="Y")


def net_stop(t, kind=STOP):
    return t.send(order_type=kind, offer_id="1", buy_sell=SELL, account_id=t.account.account_id,
                  rate=level(t.offer(), BUY, kind, 20), net_quantity="Y")


def edit(t, placing, rate=None):
    """Changes the rate of the order that `placing` made, when the server made it."""
    if not took(t, placing):
        return False
    order_id = t.created(placing)
    t.batch(placing)  # its row came in
    rate = rate or t.orders()[order_id].rate + 0.0010
    return took(t, t.command(Commands.EDIT_ORDER, order_id=order_id, rate=rate))


def delete(t, placing):
    if not took(t, placing):
        return False
    return took(t, t.command(Commands.DELETE_ORDER, order_id=t.created(placing)))


def group(t, command, **params):
    """A contingency command over two entry orders: given as child orders to create, or by id."""
    orders = [{Params.COMMAND: Commands.CREATE_ORDER, Params.ORDER_TYPE: Orders.STOP_ENTRY,
               Params.OFFER_ID: "1", Params.ACCOUNT_ID: t.account.account_id,
               Params.BUY_SELL: BUY, Params.AMOUNT: 1_000, Params.RATE: rate}
              for rate in (round(t.offer().ask + 0.005, 5), round(t.offer().ask + 0.006, 5))]
    if command != Commands.CREATE_OCO and command != Commands.CREATE_OTO:
        orders = [{Params.ORDER_ID: t.created(t.send(**{p.name.lower(): v for p, v in o.items()}))}
                  for o in orders]
    top = {Params.COMMAND: command}
    top.update({getattr(Params, name.upper()): value for name, value in params.items()})
    return took(t, send_command(t.session, t.answers, top, orders))


SCENARIOS = {
    "can_create_market_open_order": lambda t: took(t, market_order(t)),
    "can_change_market_open_order": lambda t: edit(t, market_order(t), 1.2),
    "can_delete_market_open_order": lambda t: delete(t, market_order(t)),
    "can_create_market_close_order": lambda t: took(t, close_order(t)),
    "can_change_market_close_order": lambda t: edit(t, close_order(t), 1.2),
    "can_delete_market_close_order": lambda t: delete(t, close_order(t)),
    "can_create_entry_order": lambda t: took(t, entry_order(t)),
    "can_change_entry_order": lambda t: edit(t, entry_order(t)),
    "can_delete_entry_order": lambda t: delete(t, entry_order(t)),
    "can_create_stop_limit_order": lambda t: took(t, on_trade(t, STOP)),
    "can_change_stop_limit_order": lambda t: edit(t, on_trade(t, LIMIT)),
    "can_delete_stop_limit_order": lambda t: delete(t, on_trade(t, STOP)),
    # No request asks the dealer for a quote or deletes one.
    "can_request_quote": None,
    "can_accept_quote": lambda t: took(t, t.command(Commands.ACCEPT_ORDER, order_id="1")),
    "can_delete_quote": None,
    "can_create_oco": lambda t: group(t, Commands.CREATE_OCO),
    "can_create_oto": lambda t: group(t, Commands.CREATE_OTO),
    "can_join_to_new_contingency_group":
        lambda t: group(t, Commands.JOIN_TO_NEW_CONTINGENCY_GROUP, contingency_group_type=1),
    "can_join_to_existing_contingency_group":
        lambda t: group(t, Commands.JOIN_TO_EXISTING_CONTINGENCY_GROUP, contingency_id="G1"),
    "can_remove_from_contingency_group":
        lambda t: group(t, Commands.REMOVE_FROM_CONTINGENCY_GROUP),
    "can_change_offer_subscription": lambda t: took(t, t.command(
        Commands.SET_SUBSCRIPTION_STATUS, offer_id="1", subscription_status="T")),
    "can_create_net_close_order": lambda t: took(t, net_close(t)),
    "can_change_net_close_order": lambda t: edit(t, net_close(t), 1.2),
    "can_delete_net_close_order": lambda t: delete(t, net_close(t)),
    "can_create_net_stop_limit_order": lambda t: took(t, net_stop(t)),
    "can_change_net_stop_limit_order": lambda t: edit(t, net_stop(t, LIMIT)),
    "can_delete_net_stop_limit_order": lambda t: delete(t, net_stop(t)),
}

# A trailing order of each kind: a step of 1 follows the market (dynamic), a larger one moves in
# fixed steps.
TRAILING = {"stop": lambda t, step: on_trade(t, STOP, trail_step=step),
            "limit": lambda t, step: on_trade(t, LIMIT, trail_step=step),
            "entry_stop": lambda t, step: entry_order(t, trail_step=step),
            "entry_limit": lambda t, step: entry_order(t, Orders.LIMIT_ENTRY, trail_step=step)}
for trailing, step in (("dynamic", 1), ("fluctuate", 10)):
    for order, make in TRAILING.items():
        SCENARIOS[f"can_use_{trailing}_trailing_for_{order}"] = \
            lambda t, make=make, step=step: took(t, make(t, step))


def test_every_question_has_its_request():
    assert list(SCENARIOS) == [name for name, _ in INSTRUMENT_QUESTIONS + TRAILING_QUESTIONS]


@pytest.mark.parametrize("question", list(SCENARIOS))
def test_what_the_checker_enables_the_server_accepts(sim, trader, question):
    ask = getattr(trader.session.login_rules.permission_checker, question)
    answer = ask() if question in DYNAMIC + FIXED else ask("EUR/USD")
    assert answer in (ENABLED, DISABLED)
    sim.clock_virtual()
    scenario = SCENARIOS[question]
    if scenario is None:
        assert answer == DISABLED, "the checker enables what no request can do"
    else:
        assert scenario(trader) == (answer == ENABLED)
