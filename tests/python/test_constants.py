"""tests/python/test_constants.py: the module-wide enums and the string constant classes, checked
name by name, value by value and in registration order against the tables below."""

import pytest

import dedezi

# (Python name, docstring, [(value name, int value)] in registration order), in registration order.
REQUEST_PARAMS = (
    [("UNKNOWN_PARAM", -1)]
    + list(zip(["MSG_TYPE", "MSG_SUBJECT", "MSG_TEXT", "MSG_TO", "MSG_FEATURE", "MSG_DELETE",
                "MSG_DELIVER", "MSG_ID"], range(-100, -108, -1)))
    + list(zip(["COMMAND", "ACCOUNT_ID", "OFFER_ID", "TRADE_ID", "BUY_SELL", "AMOUNT", "RATE",
                "RATE_STOP", "RATE_LIMIT", "TRAIL_STEP_STOP", "TRAIL_STEP", "TIME_IN_FORCE",
                "CUSTOM_ID", "ORDER_ID", "PEG_OFFSET_STOP", "PEG_OFFSET_LIMIT", "PEG_TYPE_STOP",
                "PEG_TYPE_LIMIT", "PEG_OFFSET", "PEG_TYPE", "NET_QUANTITY", "ORDER_TYPE",
                "RATE_MIN", "RATE_MAX", "CONTINGENCY_ID", "SUBSCRIPTION_STATUS", "CLIENT_RATE",
                "CONTINGENCY_GROUP_TYPE", "PRIMARY_QID", "ACCOUNT_NAME", "KEY", "ID", "BID", "ASK",
                "LOGIN_ID", "REPORT_ID", "LIFETIME", "SYMBOL", "PSW", "INTR_BUY", "INTR_SEL",
                "INTR_MULT", "STATUS", "INTR_FLAG", "MSG", "DEALER_INT_FLG", "AUTO_LIMIT",
                "MRGN_REQ", "ENTRY_MRGN_REQ", "RATE_VARIAT", "RFQ_LIFETIME", "ORDR_LIFETIME",
                "SELL_INTR", "BUY_INTR", "FEED", "FEED_PRICE", "FEED_ASK", "FEED_BID",
                "PERCENT_COST", "ACCT_ID", "INTR_SIGN", "MRGN_REQ_ENTRY", "ORDER_PRICE_FLG",
                "MRGN_ENABLED_FLG", "MRGN_REQ_AWARE", "LOGIN", "ORDER_PRICE", "SEAT_BELT",
                "AUTO_MRGN", "COND_DISTANCE", "COND_DISTANCE_E", "MAX_QUANTITY", "PANIC_FLG",
                "GONE_TO_PEE_FLG", "MANUAL_PRICES", "CROSS_CURRENCY", "PANIC_LEVEL",
                "INTR_MULT_NONE", "EQTY_ENABLED_FLG", "EQTY_STOP", "EQTY_LIMIT",
                "EXPIRE_DATE_TIME", "PEG_OFFSET_MIN", "PEG_OFFSET_MAX"], range(1, 85)))
)

ENUMS = [
    ("K7RTableType", "The enum specifies a set of values representing the trading tables.",
     [("TABLE_UNKNOWN", -1), ("OFFERS", 0), ("ACCOUNTS", 1), ("ORDERS", 2), ("TRADES", 3),
      ("CLOSED_TRADES", 4), ("MESSAGES", 5), ("SUMMARY", 6)]),
    ("K7RResponseType",
     "The enum specifies a set of values representing the types of the trading server responses.",
     [("RESPONSE_UNKNOWN", -1), ("TABLES_UPDATES", 0), ("MARKET_DATA_SNAPSHOT", 1),
      ("GET_ACCOUNTS", 2), ("GET_OFFERS", 3), ("GET_ORDERS", 4), ("GET_TRADES", 5),
      ("GET_CLOSED_TRADES", 6), ("GET_MESSAGES", 7), ("CREATE_ORDER_RESPONSE", 8),
      ("GET_SYSTEM_PROPERTIES", 9), ("COMMAND_RESPONSE", 10), ("MARGIN_REQUIREMENTS_RESPONSE", 11),
      ("GET_LAST_ORDER_UPDATE", 12), ("MARKET_DATA", 13), ("LEVEL2_MARKET_DATA", 14)]),
    ("K7RTableUpdateType",
     "The enum specifies a set of values representing the type of the trading table update.",
     [("UPDATE_UNKNOWN", -1), ("INSERT", 0), ("UPDATE", 1), ("DELETE", 2)]),
    ("K7RPermissionStatus",
     "The enum specifies a set of values specifying the status of permissions.",
     [("PERMISSION_DISABLED", 0), ("PERMISSION_ENABLED", 1), ("PERMISSION_UNKNOWN", 2),
      ("PERMISSION_HIDDEN", -2)]),
    ("K7RMarketStatus", "The enum specifies a set of values representing the market status.",
     [("MARKET_STATUS_OPEN", 0), ("MARKET_STATUS_CLOSED", 1), ("MARKET_STATUS_UNDEFINED", 2)]),
    ("K7RPriceUpdateMode",
     "The enum specifies a set of values representing the price update mode that indicates if a "
     "session receives prices or not.",
     [("DEFAULT", 0), ("NO_PRICE", 1)]),
    ("K7RTableManagerMode",
     "The enum specifies a set of values representing the table manager mode that indicates if a "
     "session uses a table manager or not.",
     [("NO", 0), ("YES", 1)]),
    ("K7RTableStatus",
     "The enum specifies a set of values representing the trading table load status.",
     [("INITIAL", 0), ("REFRESHING", 1), ("REFRESHED", 2), ("FAILED", 3)]),
    ("K7RTableManagerStatus",
     "The enum specifies a set of values representing the table manager status.",
     [("TABLES_LOADING", 0), ("TABLES_LOADED", 1), ("TABLES_LOAD_FAILED", 2)]),
    ("K7RChartSessionMode",
     "The enum specifies a set of values representing the chart session modes.",
     [("NO_CHART_SESSION", 0), ("ATTACHED", 1), ("DETACHED", 2)]),
    ("K7RRelationalOperators", "The enum specifies a set of relational operators.",
     [("BETWEEN", -1), ("EQUAL_TO", 0), ("NOT_EQUAL_TO", 1), ("GREATER_THAN", 2),
      ("LESS_THAN", 3), ("GREATER_THAN_OR_EQUAL_TO", 4), ("LESS_THAN_OR_EQUAL_TO", 5)]),
    ("K7RLogicOperators", "The enum specifies a set of values representing the logic operators.",
     [("OPERATOR_AND", 0), ("OPERATOR_OR", 1)]),
    ("K7RUpdatesProcessStatus",
     "The enum specifies a set of values representing the update process status.",
     [("UNKNOWN_PROCESS_STATUS", -1), ("BEGIN_TABLES_UPDATE", 0), ("END_TABLES_UPDATE", 1)]),
    ("K7RTableEventsFilter",
     "The enum specifies a set of values representing the type of events filtering.",
     [("ALL_EVENTS", 0), ("SERVER_ONLY", 1)]),
    ("K7RCandleOpenPriceMode",
     "The enum specifies a set of values representing the candles open price mode that indicates "
     "how the open price is determined.",
     [("PREVIOUS_CLOSE", 0), ("FIRST_TICK", 1)]),
    ("K7RCommissionStage",
     "The enum specifies a set of values representing stages when commission is incurred.",
     [("COMMISSION_STAGE_UNKNOWN", -1), ("OPEN_COMMISSION", 0), ("CLOSE_COMMISSION", 1),
      ("ANY_DEAL_COMMISSION", 2)]),
    ("K7RCommissionUnitType",
     "The enum specifies a set of values representing the commission unit type.",
     [("COMMISSION_TYPE_UNKNOWN", -1), ("COMMISSION_PER_LOT", 0), ("COMMISSION_PER_LOT_CONV", 1),
      ("COMMISSION_PER_TRADE", 2), ("COMMISSION_PER_ORDER", 3), ("COMMISSION_PER_ORDER_CONV", 4),
      ("COMMISSION_PER_BASIS_POINTS", 5)]),
    ("K7RCommissionStatus",
     "The enum specifies a set of values representing the commission status.",
     [("COMMISSION_STATUS_DISABLED", 0), ("COMMISSION_STATUS_LOADING", 1),
      ("COMMISSION_STATUS_READY", 2), ("COMMISSION_STATUS_FAIL_TO_LOAD", 3)]),
    ("K7RUserKind", "The enum specifies a set of values representing the user kind.",
     [("UNDEFINED", 0), ("TRADER", 20), ("CUSTOMER", 22), ("DEALER", 24), ("ADMIN", 26)]),
    ("K7RRolloverStatus",
     "The enum specifies a set of values representing the status of rollovers.",
     [("ROLLOVER_NOT_LOADED", 0), ("ROLLOVER_LOADING", 1), ("ROLLOVER_READY", 2),
      ("FAIL_TO_LOAD", 3)]),
    ("K7RReportUrlError", "The errors returned by K7RSession.get_report_url.",
     [("REPORT_URL_NOT_SUPPORTED", -1), ("REPORT_URL_TOO_SMALL_BUFFER", -2),
      ("REPORT_URL_NOT_LOGGED", -3), ("REPORT_URL_NO_SESSION", -4), ("REPORT_URL_NO_MEMORY", -5),
      ("REPORT_URL_SSO_ERROR", -6), ("REPORT_URL_NO_AUTH_ID", -7), ("REPORT_URL_NO_SUB_ID", -8),
      ("REPORT_URL_NO_ACC_ID", -9)]),
    ("K7RTokenError", "The errors returned by K7RSession.token.",
     [("TOKEN_NOT_SUPPORTED", -1), ("TOKEN_TOO_SMALL_BUFFER", -2), ("TOKEN_NOT_LOGGED", -3),
      ("TOKEN_NO_SESSION", -4), ("TOKEN_SSO_ERROR", -5)]),
    ("K7RRequestParamsEnum",
     "The enum specifies a set of values representing the request parameters.", REQUEST_PARAMS),
]

CONSTANTS_DOC = "This class contains constants used in Velvix API."

SYSTEM_PROPERTIES = [
    "BASE_CRNCY", "BASE_UNIT_SIZE", "BASE_CRNCY_PRECISION", "BASE_CRNCY_SYMBOL", "BASE_TIME_ZONE",
    "COND_DIST", "COND_DIST_ENTRY", "END_TRADING_DAY", "FORCE_PASSWORD_CHANGE", "MARKET_OPEN",
    "QUERYDEPTH_0", "QUERYDEPTH_1", "QUERYDEPTH_2", "QUERYDEPTH_3", "QUERYDEPTH_4",
    "QUERYDEPTH_5", "QUERYDEPTH_6", "QUERYDEPTH_7", "QUERYDEPTH_8", "QUERYDEPTH_h2",
    "QUERYDEPTH_h3", "QUERYDEPTH_h4", "QUERYDEPTH_h6", "QUERYDEPTH_h8", "SERVER_TIME_UTC",
    "SUPPORT_TICK_VOLUME", "TP_170", "TP_171", "TP_172", "TP_86", "TP_88", "TP_89", "TP_94",
    "CP_170", "CP_171", "CP_172", "CP_86", "CP_88", "CP_89", "CP_94", "TRAILING_DYNAMIC",
    "TRAILING_FLUCTUATE", "TRAILING_FLUCTUATE_PTS_MAX", "TRAILING_FLUCTUATE_PTS_MIN",
    "PEGGED_STOP_LIMIT_DISABLED", "FIRST_TICK_OPEN_PRICE_ENABLED",
]

# The classes nested in Constants, in registration order, each with its (name, value) pairs.
NESTED = [
    ("Commands", [
        ("CREATE_ORDER", "CreateOrder"), ("CREATE_OCO", "CreateOCO"), ("CREATE_OTO", "CreateOTO"),
        ("CREATE_OTOCO", "CreateOTOCO"),
        ("JOIN_TO_NEW_CONTINGENCY_GROUP", "JoinToNewContingencyGroup"),
        ("JOIN_TO_EXISTING_CONTINGENCY_GROUP", "JoinToExistingContingencyGroup"),
        ("REMOVE_FROM_CONTINGENCY_GROUP", "RemoveFromContingencyGroup"),
        ("EDIT_ORDER", "EditOrder"), ("DELETE_ORDER", "DeleteOrder"),
        ("SET_SUBSCRIPTION_STATUS", "SetSubscriptionStatus"),
        ("UPDATE_MARGIN_REQUIREMENTS", "UpdateMarginRequirements"),
        ("GET_LAST_ORDER_UPDATE", "GetLastOrderUpdate"), ("ACCEPT_ORDER", "AcceptOrder"),
        ("CHANGE_PASSWORD", "ChangePassword"), ("SEND_MAIL", "SendMail"),
        ("UPDATE_COMMISSIONS", "UpdateCommissions"), ("UPDATE_ROLLOVER", "UpdateRollover")]),
    ("Orders", [
        ("TRUE_MARKET_OPEN", "OM"), ("MARKET_OPEN", "O"), ("MARKET_OPEN_RANGE", "OR"),
        ("OPEN_LIMIT", "OL"), ("TRUE_MARKET_CLOSE", "CM"), ("MARKET_CLOSE", "C"),
        ("MARKET_CLOSE_RANGE", "CR"), ("CLOSE_LIMIT", "CL"), ("STOP_ENTRY", "SE"),
        ("LIMIT_ENTRY", "LE"), ("RANGE_ENTRY", "RE"), ("ENTRY", "E"), ("STOP", "S"),
        ("LIMIT", "L"), ("STOP_TRAILING_ENTRY", "STE"), ("LIMIT_TRAILING_ENTRY", "LTE"),
        ("RANGE_TRAILING_ENTRY", "RTE")]),
    ("KeyType", [("ORDER_ID", "OrderID"), ("REQUEST_ID", "OrderQID"),
                 ("REQUEST_TXT", "OrderQTXT")]),
    ("TIF", [("GTC", "GTC"), ("IOC", "IOC"), ("DAY", "DAY"), ("FOK", "FOK"), ("GTD", "GTD")]),
    ("Peg", [("FROM_OPEN", "O"), ("FROM_CLOSE", "M")]),
    ("SubscriptionStatuses", [("TRADABLE", "T"), ("DISABLE", "D"), ("VIEW_ONLY", "V")]),
    ("SystemProperties", [(name, "SupportTickVolume" if name == "SUPPORT_TICK_VOLUME" else name)
                          for name in SYSTEM_PROPERTIES]),
    ("MessageType", [("REGULAR", "0"), ("POPUP", "1"), ("ANSWER", "2"), ("FORCED_POPUP", "3")]),
    ("MessageFeature", [("PLAIN", "1"), ("TRADING_HOURS", "2"), ("QUESTION", "3"),
                        ("INFORMATION", "4"), ("MARKET_CONDITION", "5"), ("SOFTWARE_UPDATE", "6"),
                        ("EMERGENCY", "7"), ("SYSTEM_FAILURE", "8")]),
]


def own_attributes(cls):
    """A class's own non-dunder attribute names, in the order they were set."""
    return [name for name in vars(cls) if not name.startswith("__")]


def test_enums_are_registered_in_order():
    enum_names = [name for name, value in vars(dedezi).items()
                  if isinstance(value, type) and issubclass(value, int)]
    assert enum_names[:len(ENUMS)] == [name for name, _, _ in ENUMS]


@pytest.mark.parametrize("name, doc, values", ENUMS, ids=[e[0] for e in ENUMS])
def test_enum(name, doc, values):
    enum = getattr(dedezi, name)
    assert enum.__doc__ == doc
    assert list(enum.names) == [n for n, _ in values]
    assert list(enum.values) == [v for _, v in values]
    for value_name, number in values:
        member = getattr(enum, value_name)
        assert type(member) is enum
        assert member == number and int(member) == number
        assert member.name == value_name
        assert enum.values[number] is member


def test_request_params_have_no_zero_and_nothing_between_minus_one_and_minus_hundred():
    numbers = set(dedezi.K7RRequestParamsEnum.values)
    assert len(numbers) == 93
    assert not numbers & (set(range(-99, -1)) | {0})


def test_enum_values_stay_out_of_the_module():
    value_names = {n for _, _, values in ENUMS for n, _ in values}
    assert not value_names & set(dir(dedezi))
    with pytest.raises(AttributeError):
        dedezi.OFFERS


def test_constants_holds_buy_sell_then_the_nested_classes():
    constants = dedezi.Constants
    assert constants.__doc__ == CONSTANTS_DOC
    assert own_attributes(constants) == ["BUY", "SELL"] + [name for name, _ in NESTED]
    assert type(constants.BUY) is str and constants.BUY == "B"
    assert type(constants.SELL) is str and constants.SELL == "S"


@pytest.mark.parametrize("name, constants", NESTED, ids=[n for n, _ in NESTED])
def test_nested_constant_class(name, constants):
    cls = getattr(dedezi.Constants, name)
    assert isinstance(cls, type)
    assert cls.__doc__ == CONSTANTS_DOC
    assert own_attributes(cls) == [n for n, _ in constants]
    for attribute, value in constants:
        got = getattr(cls, attribute)
        assert type(got) is str and got == value
    # Reached only through Constants.
    assert not hasattr(dedezi, name)


def test_spot_values_that_are_easy_to_get_wrong():
    c = dedezi.Constants
    assert c.Commands.CREATE_ORDER == "CreateOrder"
    assert c.SystemProperties.SUPPORT_TICK_VOLUME == "SupportTickVolume"
    assert c.SystemProperties.BASE_CRNCY == "BASE_CRNCY"
    assert c.MessageType.REGULAR == "0" and c.MessageType.REGULAR != 0
    assert c.Orders.STOP == c.SELL == "S"
    assert c.Orders.MARKET_OPEN == c.Peg.FROM_OPEN == "O"
    assert dedezi.K7RTableType.OFFERS == 0
    assert dedezi.K7RRequestParamsEnum.MSG_ID == -107
    with pytest.raises(AttributeError):
        dedezi.Commands


@pytest.mark.parametrize("path", ["Constants"] + [f"Constants.{n}" for n, _ in NESTED])
def test_constant_class_instances_are_empty_and_read_the_class_values(path):
    cls = dedezi
    for part in path.split("."):
        cls = getattr(cls, part)
    instance = cls()
    assert type(instance) is cls
    assert vars(instance) == {}
    for attribute in own_attributes(cls):
        assert getattr(instance, attribute) is getattr(cls, attribute)
    with pytest.raises(TypeError):
        cls(1)
