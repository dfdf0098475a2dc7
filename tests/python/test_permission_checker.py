"""tests/python/test_permission_checker.py: the K7RPermissionChecker class: its 35 questions in
the library's order, and the simulated demo account's answers for the offers' instruments and for
an instrument the server does not know."""

import pytest

import dedezi

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


@pytest.mark.parametrize("instrument", ["EUR/USD", "XAU/USD", "US30"])
def test_a_no_dealer_account_may_trade_but_not_ask_for_quotes(checker, instrument):
    answers = {name: getattr(checker, name)(instrument) for name, _ in INSTRUMENT_QUESTIONS}
    assert all(type(answer) is P for answer in answers.values())
    assert {name for name, answer in answers.items() if answer == DISABLED} == QUOTES
    assert {name for name, answer in answers.items() if answer == ENABLED} == \
        {name for name, _ in INSTRUMENT_QUESTIONS} - QUOTES


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


@pytest.mark.parametrize("dynamic, fixed, expected_dynamic, expected_fixed", [
    ("Y", "Y", ENABLED, ENABLED),          # the demo account's
    ("N", "Y", DISABLED, ENABLED),
    ("Y", "N", ENABLED, DISABLED),
    (None, None, HIDDEN, HIDDEN),          # properties the server does not send
])
def test_trailing_questions_follow_the_system_properties(sim, checker, dynamic, fixed,
                                                         expected_dynamic, expected_fixed):
    properties = [(name, value) for name, value in sim.system_properties()
                  if name not in ("TRAILING_DYNAMIC", "TRAILING_FLUCTUATE")]
    if dynamic is not None:
        properties.append(("TRAILING_DYNAMIC", dynamic))
    if fixed is not None:
        properties.append(("TRAILING_FLUCTUATE", fixed))
    sim.set_system_properties(properties)
    assert [getattr(checker, name)() for name in DYNAMIC] == [expected_dynamic] * 4
    assert [getattr(checker, name)() for name in FIXED] == [expected_fixed] * 4
