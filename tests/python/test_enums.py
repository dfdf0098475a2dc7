"""tests/python/test_enums.py: what every enum of the module accepts when a script makes a value:
any int that a C int holds, named or not, and nothing beyond, so that what reaches the library is
what the script gave."""

import pytest

import dedezi
from helpers import MODULE_CLASSES, run_python

pytestmark = pytest.mark.timeout(60)

INT_MIN, INT_MAX = -2**31, 2**31 - 1
BEYOND_INT = [INT_MAX + 1, INT_MIN - 1, 2**63, -2**63 - 1, 10**400]

# Every enum type reachable from the module, nested ones included (a child process runs it too).
ALL_ENUMS = MODULE_CLASSES + """
def all_enums():
    return [cls for cls in module_classes() if issubclass(cls, int)]
"""
namespace = {}
exec(ALL_ENUMS, namespace)
ENUMS = namespace["all_enums"]()


def test_every_enum_is_found():
    names = {cls.__name__ for cls in ENUMS}
    assert len(ENUMS) == 30
    assert {"K7RTableType", "K7RRequestParamsEnum", "K7RSessionStatus", "K7RChartSessionStatus",
            "TimeZone", "K7RTableColumnType", "K7RTimeFrameUnit", "PlentaErrorCode",
            "ZorvatErrorCode"} <= names


def test_values_beyond_a_c_int_are_refused_by_every_enum():
    # Such a value crashed the interpreter in its repr: each enum is tried in a child.
    code = ALL_ENUMS + f"""
failures = []
for enum in all_enums():
    for value in {BEYOND_INT!r}:
        for make, refusal in ((enum, OverflowError), (enum.__new__, OverflowError),
                              (int.__new__, TypeError)):
            args = (value,) if make is enum else (enum, value)
            try:
                made = make(*args)
            except refusal:
                continue
            failures.append((enum.__name__, make.__name__, value.bit_length(), repr(made)))
print(failures)
"""
    returncode, out, err = run_python(code)
    assert returncode == 0, err
    assert out.strip() == "[]"


@pytest.mark.parametrize("enum", ENUMS, ids=[cls.__name__ for cls in ENUMS])
def test_any_value_a_c_int_holds_is_made_named_or_not(enum):
    for value in (INT_MIN, INT_MAX, 12345):
        made = enum(value)
        assert type(made) is enum and made == value
        assert repr(made) == f"dedezi.{enum.__name__}({value})"
    number, member = next(iter(enum.values.items()))
    assert enum(number) == member and enum(str(number)) == member
    assert enum.__new__(enum, number) == member


SETTERS = {
    "price_update_mode": ("loaded", lambda loaded: loaded[0], dedezi.K7RPriceUpdateMode),
    "chart_session_mode": ("loaded", lambda loaded: loaded[0], dedezi.K7RChartSessionMode),
    "table_events_filter": ("loaded",
                            lambda loaded: loaded[2].get_table(dedezi.K7RTableType.TRADES),
                            dedezi.K7RTableEventsFilter),
    "candle_open_price_mode": ("communicator", lambda communicator: communicator[0],
                               dedezi.K7RCandleOpenPriceMode),
}


@pytest.mark.parametrize("name", list(SETTERS))
def test_enum_setters_read_back_what_they_were_given_or_refuse_it(request, name):
    fixture, owner_of, enum = SETTERS[name]
    owner = owner_of(request.getfixturevalue(fixture))
    for value in [INT_MIN, INT_MAX, 7, *enum.values] + BEYOND_INT:
        try:
            given = enum(value)
        except OverflowError:
            assert value not in range(INT_MIN, INT_MAX + 1)
            continue
        setattr(owner, name, given)
        assert getattr(owner, name) == given == value
        assert type(getattr(owner, name)) is enum
